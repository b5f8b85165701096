#pragma once
// The members of _PlayDllClass as JSON-RPC methods of an endpoint, over a
// playdll handle (the C API of embed/playdll.h: playsrv is one more client
// of the library), plus Describe (the interface description) and
// AdvanceTime {"ms": 0 to an hour}.
//
// The handle's events become the notifications "MsgBoxOb" {"Msg","Ttl"} and
// "MessageBox" {"text"}: the ones a call raises are written before its
// answer, in order; the ones raised between calls (a run that ends under the
// real clock) when WriteEvents is called, which the server does whenever the
// handle's event descriptor is readable.
//
// AdvanceTime moves the virtual clock under --simulate; under the real clock
// it waits that long, writing the notifications as they come. A member's
// run-time error answers -32000 with its description; after Release every
// member answers -32000 ("<member>: the object has been released"), as does
// AdvanceTime.
//
// Borrowed: the handle (with no event callback set: its events are taken
// from its queue) and the endpoint outlive the service. Thread: the one
// thread that feeds the endpoint.

#include <cstdint>
#include <functional>

#include "embed/playdll.h"
#include "server/JsonRpcEndpoint.h"

namespace server {

class PlayService final {
 public:
  static constexpr int32_t kMaxAdvanceMs = 3'600'000;

  // `maxAdvanceMs`: the most one AdvanceTime may ask for (at most an hour).
  PlayService(playdll_handle* play, JsonRpcEndpoint& endpoint, bool simulated, int32_t maxAdvanceMs = kMaxAdvanceMs);
  PlayService(const PlayService&) = delete;
  PlayService& operator=(const PlayService&) = delete;

  // Writes the events waiting in the handle's queue as notifications.
  void WriteEvents();
  // The host's input has ended: destroys the object like Release, without an
  // answer. Does nothing after Release.
  void EndOfInput();
  bool IsReleased() const { return released_; }

 private:
  void AddMembers();
  void AddPropertiesAndExtras();
  // Registers `method`, whose call's events are written before its answer.
  void Add(const char* name, JsonRpcEndpoint::Method method);
  // Throws the RpcError of a failed status.
  static void Check(int status);
  int64_t Wait(int32_t ms);

  playdll_handle* play_;
  JsonRpcEndpoint& endpoint_;
  const bool simulated_;
  const int32_t maxAdvanceMs_;
  bool released_ = false;
};

}  // namespace server
