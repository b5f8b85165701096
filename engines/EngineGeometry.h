#pragma once
// Output geometry and device rate shared by the three engines. Free functions
// over the shared playback state; loop thread only. Arithmetic is 32-bit and
// checked: a value that does not fit throws os::OverflowError.

#include <cstdint>

#include "state/PlayDllMod.h"

namespace engines {

// Sets ChunkSamples = CLng(FmtFriq x 4.0) (four seconds per half),
// BufferSamples = 2 x ChunkSamples, HalfOffset = FmtChannal x ChunkSamples
// (16-bit values per half), PlayChunkLen = 2 x HalfOffset, HalfBytes =
// 2 x HalfOffset and BufferBytes = 2 x HalfBytes. All six are computed
// before any is stored: on an overflow the state is left as it was.
void SetBufferGeometry(state::PlayDllMod& mod);

// The tempo of PlayDirection: PlayTempoFor for 1, PlayTempoRev for -1.
// False (tempo untouched) for any other direction.
bool DirectionTempo(const state::PlayDllMod& mod, double& tempo);

// PlayFriq = CLng(tempo x FmtFriq) with the tempo of PlayDirection; for any
// other direction PlayFriq keeps its value.
void ComputePlayFriq(state::PlayDllMod& mod);

// The first 16-bit value of half 1 or 2 (any other value: half 1) of
// PlayChunk, after checking that the whole half (HalfOffset values) lies
// inside the array (os::RangeError otherwise). Valid until PlayChunk
// is redimensioned.
int16_t* HalfData(state::PlayDllMod& mod, int32_t Half);

}  // namespace engines
