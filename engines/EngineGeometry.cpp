#include "engines/EngineGeometry.h"

#include "platform/runtime/VbMath.h"

namespace engines {

void SetBufferGeometry(state::PlayDllMod& mod) {
  const int32_t chunkSamples = vb::CLng(mod.FmtFriq * 4.0);
  const int32_t bufferSamples = vb::Mul(2, chunkSamples);
  const int32_t halfOffset = vb::Mul(mod.FmtChannal, chunkSamples);
  const int32_t playChunkLen = vb::Mul(2, halfOffset);
  const int32_t halfBytes = vb::Mul(2, halfOffset);
  const int32_t bufferBytes = vb::Mul(2, halfBytes);
  mod.ChunkSamples = chunkSamples;
  mod.BufferSamples = bufferSamples;
  mod.HalfOffset = halfOffset;
  mod.PlayChunkLen = playChunkLen;
  mod.HalfBytes = halfBytes;
  mod.BufferBytes = bufferBytes;
}

bool DirectionTempo(const state::PlayDllMod& mod, double& tempo) {
  if (mod.PlayDirection == 1) {
    tempo = mod.PlayTempoFor;
    return true;
  }
  if (mod.PlayDirection == -1) {
    tempo = mod.PlayTempoRev;
    return true;
  }
  return false;
}

void ComputePlayFriq(state::PlayDllMod& mod) {
  double tempo = 0;
  if (DirectionTempo(mod, tempo)) mod.PlayFriq = vb::CLng(tempo * mod.FmtFriq);
}

int16_t* HalfData(state::PlayDllMod& mod, int32_t Half) {
  const int32_t first = Half == 2 ? vb::Add(mod.HalfOffset, 1) : 1;
  (void)mod.PlayChunk.Ptr(vb::Sub(vb::Add(first, mod.HalfOffset), 1));
  return mod.PlayChunk.Ptr(first);
}

}  // namespace engines
