#pragma once
// Real-time scheduling for a sound system's render thread.

#include <pthread.h>
#include <sched.h>

namespace audio {

// Asks for first-in-first-out real-time scheduling of the calling thread,
// unless it has real-time scheduling already; true when it has it after the
// call. No allocation: callable on the render thread.
inline bool RequestRealTime() {
  int policy = 0;
  sched_param param{};
  if (pthread_getschedparam(pthread_self(), &policy, &param) == 0 && (policy == SCHED_FIFO || policy == SCHED_RR))
    return true;
  param.sched_priority = 10;
  return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}

}  // namespace audio
