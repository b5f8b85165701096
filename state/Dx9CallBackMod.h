#pragma once
// Module state of the DirectSound 9 engine. EndHalf and EndTicks are written
// by the play chunk builder and passed to the sound service library with each
// half; ServiceHandle is the library's handle (0 = none).

#include <cstdint>

namespace state {

struct Dx9CallBackMod {
  int32_t ServiceHandle = 0;
  int32_t EndHalf = 0;
  int32_t EndTicks = 0;
};

}  // namespace state
