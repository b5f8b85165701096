#pragma once
// One handle of the C API: a play object in its world, the loop thread it
// runs on and the queue its events leave by. Host threads call Member,
// Release and AdvanceTime; each is carried out on the loop thread and
// returns once the events it raised have reached the host (EventQueue.h),
// except for a call made inside the event callback, which returns as soon as
// it is done (its events follow the running callback).
//
// Errors: a member after Release throws ReleasedError; a run-time error of a
// member is thrown again on the calling thread as it was thrown.
// Thread: any, except construction and destruction (the owner's).

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "embed/EventQueue.h"
#include "embed/LoopThread.h"
#include "embed/PlayWorld.h"

namespace embed {

class ReleasedError final : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class PlayInstance final {
 public:
  // The world's object and message box raise into Events() from now on.
  explicit PlayInstance(std::unique_ptr<PlayWorld> world);
  // Releases the object unless released, delivers its events, ends the
  // threads. REQUIRES: not on the event callback's thread.
  ~PlayInstance();
  PlayInstance(const PlayInstance&) = delete;
  PlayInstance& operator=(const PlayInstance&) = delete;

  // Runs `member` on the object; `name` names it in the ReleasedError.
  void Member(const char* name, const std::function<void(facade::PlayDllClass&)>& member);
  // Destroys the object (PlayDllClass::Terminate); ReleasedError the second time.
  void Release();
  // Lets `ms` pass (a virtual advance, or a wait under the real clock);
  // returns the loop's time in ms.
  int64_t AdvanceTime(int32_t ms);

  EventQueue& Events() { return events_; }

 private:
  // Runs `task` on the loop thread, then waits until the events raised up
  // to its end have reached the host.
  void Call(const std::function<void()>& task);

  std::unique_ptr<PlayWorld> world_;
  bool simulated_;
  EventQueue events_;
  bool released_ = false;  // loop thread
  std::unique_ptr<LoopThread> loop_;
};

}  // namespace embed
