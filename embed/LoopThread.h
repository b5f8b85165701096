#pragma once
// The thread "playdll-loop", which runs one event loop for as long as this
// object lives, and the way host threads get work done on it.
//
// Run(task) carries `task` to the loop thread, where it runs as one dispatch
// between the loop's other dispatches (timer ticks, device events, other
// hosts' tasks), and returns when it has run; an exception it throws is
// thrown again on the calling thread. Tasks run one at a time, in the order
// they reach the loop.
//
// Under a ManualClock the loop thread only runs what is due now; time moves
// in Advance(ms), which runs everything that falls due within `ms` on the
// loop thread and returns when the loop's time has reached the end. Tasks
// that reach the loop while an advance runs are held and run, in order,
// when it has ended, at its end time, so that an advance gives the same
// result whatever other threads do meanwhile.
//
// A caller looks for its job's end for up to 50 us before it sleeps, which
// spares it a wake-up from another core for the many short calls.
//
// A timer tick or device event whose run-time error escapes it is logged and
// the loop goes on (as in playsrv). Thread: Run and Advance from any thread
// except the loop thread itself; construction and destruction on the owner's.
// REQUIRES: the loop outlives this object.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/os/EventLoop.h"

namespace embed {

class LoopThread final {
 public:
  explicit LoopThread(os::EventLoop& loop);
  // Ends the thread after the task it runs.
  ~LoopThread();
  LoopThread(const LoopThread&) = delete;
  LoopThread& operator=(const LoopThread&) = delete;

  void Run(const std::function<void()>& task);
  // REQUIRES: the loop's clock is a ManualClock.
  void Advance(int64_t ms);

 private:
  // One host's request, on the host's stack while it waits: a task, or
  // (Task null) an advance.
  struct Job {
    const std::function<void()>* Task = nullptr;
    int64_t AdvanceMs = 0;
    std::exception_ptr Error;
    std::mutex Mu;
    std::condition_variable Done;
    std::atomic<bool> Finished{false};  // set under Mu
  };

  void Body();
  // Posts the job and waits for it; rethrows what its task threw.
  void Submit(Job& job);
  void Start(Job& job);
  void AdvanceNow(Job& job);
  static void Finish(Job& job);

  os::EventLoop& loop_;
  // Loop thread only:
  bool stopping_ = false;
  bool advancing_ = false;
  Job* advance_ = nullptr;
  std::vector<Job*> held_;
  std::thread thread_;
};

}  // namespace embed
