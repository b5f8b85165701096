#pragma once
// The hidden form with the three timer controls shared by the waveOut and the
// DirectSound 7 engine, once per PlayContext. Timer2 (40 ms) is the waveOut
// poll; Timer0 (1 ms design interval) is the one-shot stop timer of whichever
// of the two engines exists; Timer1 (1 ms) is unused. All start disabled.
// An engine binds a control by setting its OnTick, and on destruction disables
// it and clears OnTick.

#include "platform/os/EventLoop.h"

namespace state {

struct TimerFrm {
  explicit TimerFrm(os::EventLoop& loop) : Timer2(loop), Timer1(loop), Timer0(loop) {
    Timer2.SetInterval(40);
    Timer1.SetInterval(1);
    Timer0.SetInterval(1);
  }
  os::Timer Timer2;
  os::Timer Timer1;
  os::Timer Timer0;
};

}  // namespace state
