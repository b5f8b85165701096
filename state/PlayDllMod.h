#pragma once
// The shared playback state: the variables through which the facade, the play
// chunk builder, the engines and the block storage engine exchange format,
// tempo, loop switch, direction, progress, position, output geometry and the
// two channel buffers. One instance per PlayContext; every field starts at
// zero, false, empty or no object. Single-threaded: loop thread only.

#include <cstdint>
#include <memory>
#include <string>

#include "buffers/BlockCarrBuffClass.h"
#include "platform/runtime/VbArray.h"

namespace state {

// The values of RunningState, which the host reads as a 32-bit number.
inline constexpr int32_t kRunIdle = 0;         // idle or stopped
inline constexpr int32_t kRunPlaying = 1;
inline constexpr int32_t kRunPlayingLoop = 2;  // LoopPlayON was set when the run started
inline constexpr int32_t kRunPaused = 3;

struct PlayDllMod {
  PlayDllMod() = default;
  PlayDllMod(const PlayDllMod&) = delete;
  PlayDllMod& operator=(const PlayDllMod&) = delete;

  int32_t CurrentPos = 0;     // 1-based position as reported to the host
  int32_t PlayBase = 0;       // samples behind the start of the current run
  bool LoopPlayON = false;
  int32_t FmtBits = 0;
  int32_t FmtChannal = 0;
  int32_t FmtFriq = 0;
  int32_t WaveNos = 0;        // samples per channel; below 1 means no wave
  int32_t PlayFriq = 0;       // device rate of the DirectSound engines
  float PlayTempoFor = 0.0f;  // PlayDllClass construction sets 1.0
  float PlayTempoRev = 0.0f;
  int32_t RunningState = kRunIdle;  // kRunIdle, kRunPlaying, kRunPlayingLoop or kRunPaused
  std::string AppTmpDir;
  int32_t MemorySizeToUse = 0;
  std::unique_ptr<buffers::BlockCarrBuffClass> ChanBuffL;
  std::unique_ptr<buffers::BlockCarrBuffClass> ChanBuffR;
  int32_t PlayDirection = 0;  // 1 forward, -1 reverse
  int32_t PlayProgress = 0;   // 1-based count along the direction of the next sample
  int32_t BufferSamples = 0;
  int32_t ChunkSamples = 0;
  int32_t ChunkFilled = 0;
  runtime::VbArray<int16_t> PlayChunk;  // 1..PlayChunkLen, two halves
  int32_t PlayChunkLen = 0;
  int32_t HalfOffset = 0;
  int32_t HalfBytes = 0;
  int32_t BufferBytes = 0;
  int32_t ChunkBytes = 0;
  int32_t StopTimerMark = 0;
  bool EndOfData = false;
  int32_t TailMs = 0;
};

}  // namespace state
