#pragma once
// The members of _PlayDllClass as JSON-RPC methods of an endpoint, plus
// Describe (the interface description) and, when the host of the service
// gives a clock hook, AdvanceTime {"ms": 0 to 3600000}. Connects the object's MsgBoxOb event and the
// server's message box to the endpoint's notifications "MsgBoxOb"
// {"Msg","Ttl"} and "MessageBox" {"text"}; both are written the moment they
// are raised, so everything raised during a call precedes its answer.
//
// Release (or EndOfInput) destroys the object through PlayDllClass::Terminate
// and calls the Released hook; from then on every member answers -32000
// ("the object has been released"). Borrowed: the object, its context and the
// endpoint outlive the service. Thread: the loop's thread.

#include <cstdint>
#include <functional>

#include "facade/PlayDllClass.h"
#include "server/JsonRpcEndpoint.h"

namespace server {

class PlayService final {
 public:
  struct Hooks {
    // Moves virtual time on by `ms` milliseconds and returns the loop's time
    // in ms; empty when the clock is real (AdvanceTime is then refused).
    std::function<int64_t(int32_t ms)> AdvanceTime;
    // The object has been destroyed; the process ends ~300 ms later.
    std::function<void()> Released;
  };

  PlayService(facade::PlayDllClass& play, JsonRpcEndpoint& endpoint, Hooks hooks);
  ~PlayService();
  PlayService(const PlayService&) = delete;
  PlayService& operator=(const PlayService&) = delete;

  // The host's input has ended: destroys the object like Release, without an
  // answer. Does nothing after Release.
  void EndOfInput();
  bool IsReleased() const { return released_; }

 private:
  void AddMembers();
  void AddPropertiesAndExtras();
  void Add(const char* name, JsonRpcEndpoint::Method method);
  void Destroy();

  facade::PlayDllClass& play_;
  JsonRpcEndpoint& endpoint_;
  Hooks hooks_;
  bool released_ = false;
};

}  // namespace server
