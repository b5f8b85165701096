#pragma once
// The play chunk builder: fills one half of PlayChunk with the next chunk of
// interleaved 16-bit frames in the current play direction and keeps the
// end-of-wave bookkeeping (ChunkFilled, ChunkBytes, TailMs, PlayProgress, and
// the DirectSound 9 module's EndHalf and EndTicks).
//
// Half 2 fills elements HalfOffset+1..2*HalfOffset; any other value fills
// half 1. Returns true when a chunk was placed (possibly short), false when
// nothing was left or PlayDirection is neither 1 nor -1. Errors of the channel
// buffers (file errors) and 16-bit overflow of 8-bit scaling propagate.
// Thread: loop thread only.

#include <cstdint>

#include "state/Dx9CallBackMod.h"
#include "state/PlayDllMod.h"

namespace stream {

bool FillPlayChunk(state::PlayDllMod& mod, state::Dx9CallBackMod& dx9, const int32_t& Half);

}  // namespace stream
