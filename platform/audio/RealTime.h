#pragma once
// Real-time scheduling for the threads that keep a sound card fed: a sound
// system's render thread, and the loop thread while it hands frames over.

#include <pthread.h>
#include <sched.h>

namespace audio {

// Render threads above the loop thread, both above everything else.
constexpr int kRenderPriority = 10;
constexpr int kLoopPriority = 5;

// Whether the calling thread has real-time scheduling (first-in-first-out
// or round-robin).
inline bool HasRealTime() {
  int policy = 0;
  sched_param param{};
  return pthread_getschedparam(pthread_self(), &policy, &param) == 0 && (policy == SCHED_FIFO || policy == SCHED_RR);
}

// Asks for first-in-first-out real-time scheduling of the calling thread at
// `priority`, unless it has real-time scheduling already; true when it has
// it after the call (false where the system does not allow it). No
// allocation: callable on a render thread.
inline bool RequestRealTime(int priority) {
  if (HasRealTime()) return true;
  sched_param param{};
  param.sched_priority = priority;
  return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

// Puts the calling thread back to ordinary scheduling.
inline void DropRealTime() {
  sched_param param{};
  pthread_setschedparam(pthread_self(), SCHED_OTHER, &param);
}

// Real-time scheduling for the calling thread while it lives, as it was
// before afterwards. Threads started meanwhile inherit it: a library that
// starts a thread of its own to feed the card (alsa-lib's pulse plugin) gets
// it real-time by being opened inside one.
class ScopedRealTime final {
 public:
  explicit ScopedRealTime(int priority) : wasRealTime_(HasRealTime()) {
    if (!wasRealTime_) RequestRealTime(priority);
  }
  ~ScopedRealTime() {
    if (!wasRealTime_) DropRealTime();
  }
  ScopedRealTime(const ScopedRealTime&) = delete;
  ScopedRealTime& operator=(const ScopedRealTime&) = delete;

 private:
  const bool wasRealTime_;
};

}  // namespace audio
