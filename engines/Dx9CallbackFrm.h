#pragma once
// The hidden form of the DirectSound 9 engine: its polling timer Dx9Timer,
// 100 ms by design and disabled when the form is loaded. The engine loads one
// form per engine object, binds the timer by setting its OnTick, and on
// destruction disables it and clears OnTick.

#include "platform/os/EventLoop.h"

namespace engines {

struct Dx9CallbackFrm {
  explicit Dx9CallbackFrm(os::EventLoop& loop) : Dx9Timer(loop) { Dx9Timer.SetInterval(100); }
  Dx9CallbackFrm(const Dx9CallbackFrm&) = delete;
  Dx9CallbackFrm& operator=(const Dx9CallbackFrm&) = delete;

  os::Timer Dx9Timer;
};

}  // namespace engines
