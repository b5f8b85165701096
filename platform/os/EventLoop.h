#pragma once
// The one event loop of the server. Every piece of playback logic runs inside
// a dispatch of this loop: host requests, timer ticks, device notifications.
// Dispatches never nest: a task posted from inside a dispatch runs after it.
//
// Time comes from the loop's Clock. With a ManualClock, RunFor(ms) processes
// every task that falls due within the span, in time order (ties in posting
// order), moving the clock to each task's due time, and returns at once.
// With a SteadyClock, Run() waits for due tasks, readable descriptors and
// tasks posted from other threads until Quit().
//
// Thread: all members except PostFromAnyThread and Quit must be called on the
// loop's thread. Posts from other threads cost the loop nothing until one is
// made: a dispatch looks at one atomic flag, and takes the lock and empties
// the wake pipe only when the flag says something was posted.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/os/Clock.h"

namespace os {

class EventLoop final {
 public:
  using Task = std::function<void()>;

  explicit EventLoop(Clock& clock);
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  Clock& GetClock() { return clock_; }
  int64_t NowUs() const { return clock_.NowUs(); }

  // Schedules `task` at `dueUs` (loop time); returns an id for Cancel.
  uint64_t PostAt(int64_t dueUs, Task task);
  // Schedules `task` to run as soon as possible, after tasks already due.
  uint64_t Post(Task task) { return PostAt(NowUs(), std::move(task)); }
  // Removes a task that has not run yet; unknown or finished ids are ignored.
  void Cancel(uint64_t id);

  // REQUIRES: the clock is a ManualClock and no dispatch is in progress.
  // Runs everything due up to now + ms, then leaves the clock at now + ms.
  void RunFor(int64_t ms);
  // Runs every task due now (no time passes). REQUIRES: not inside a dispatch.
  void RunUntilIdle();

  // Runs until Quit(): due tasks, watched descriptors, cross-thread posts.
  // With a ManualClock time stands still; only tasks due now and descriptors run.
  void Run();
  void Quit();  // thread-safe

  // Thread-safe: queue a task from another thread and wake the loop.
  void PostFromAnyThread(Task task);

  // Calls `onReadable` (as a dispatch) whenever `fd` is readable or hung up.
  void WatchFd(int fd, std::function<void()> onReadable);
  void UnwatchFd(int fd);

  bool InDispatch() const { return inDispatch_; }

 private:
  using Key = std::pair<int64_t, uint64_t>;  // (due, sequence)

  bool DispatchNextDue(int64_t limitUs);
  void Dispatch(const Task& task);
  // Moves what other threads posted into the loop's own tasks; costs one
  // atomic load when nothing was posted.
  void DrainForeign();
  void EmptyWakePipe();
  void Wake();

  Clock& clock_;
  std::map<Key, Task> tasks_;
  std::unordered_map<uint64_t, int64_t> dueById_;
  uint64_t nextSeq_ = 1;
  bool inDispatch_ = false;

  std::mutex foreignMu_;
  std::vector<Task> foreign_;          // guarded by foreignMu_
  std::atomic<bool> foreignPending_{false};  // set after a task is added to foreign_
  std::atomic<bool> quit_{false};
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::map<int, std::function<void()>> watched_;
};

// A timer control: while Enabled and Interval > 0 it ticks every Interval
// milliseconds, the first tick one Interval after it was enabled (or after the
// interval was changed while enabled; setting the interval it already has
// changes nothing). Interval 0 gives no ticks. A tick is a
// dispatch of the loop, so it never runs inside another dispatch and is never
// re-entered. Disabling inside a tick stops the ticks at once.
class Timer final {
 public:
  explicit Timer(EventLoop& loop);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  void SetOnTick(std::function<void()> onTick) { onTick_ = std::move(onTick); }

  int32_t Interval() const { return intervalMs_; }
  void SetInterval(int32_t ms);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool on);

 private:
  void Reschedule(int64_t dueUs);
  void Unschedule();
  void Fire(int64_t dueUs);

  EventLoop& loop_;
  std::function<void()> onTick_;
  int32_t intervalMs_ = 0;
  bool enabled_ = false;
  uint64_t pending_ = 0;
};

}  // namespace os
