#include "stream/FillPlayChunk.h"

#include <cstring>
#include <memory>
#include <string>

#include "platform/Errors.h"
#include "platform/VbArray.h"
#include "platform/VbMath.h"

namespace {

// The single-precision 0.1 of the tick arithmetic, widened to double.
constexpr double kTickSeconds = static_cast<double>(0.1f);

// Step 2: PlayChunk has the bounds 1..PlayChunkLen, and the half from Base + 1
// on is zero. The other half is left alone: the device may be playing it.
void ClearHalf(PlayDllMod& mod, int32_t base) {
  auto& chunk = mod.PlayChunk;
  if (!chunk.Dimensioned() || chunk.LBound() != 1 || chunk.UBound() != mod.PlayChunkLen)
    chunk.ReDim(1, mod.PlayChunkLen);
  if (mod.HalfOffset <= 0) return;
  int16_t* first = chunk.Ptr(vb::Add(base, 1));
  (void)chunk.Ptr(vb::Add(base, mod.HalfOffset));
  std::memset(first, 0, static_cast<size_t>(mod.HalfOffset) * sizeof(int16_t));
}

// Step 4: the length of this chunk and the end-of-wave bookkeeping.
void SizeChunk(PlayDllMod& mod, Dx9CallBackMod& dx9, int32_t Half) {
  const int32_t P = mod.PlayProgress;
  const int32_t C = mod.ChunkSamples;
  const int32_t N = mod.WaveNos;
  const int32_t lastOfFullChunk = vb::Sub(vb::Add(P, C), 1);
  if (N >= lastOfFullChunk) {
    mod.ChunkFilled = C;
    mod.TailMs = 0;
    const bool endsHere = N == lastOfFullChunk;
    dx9.EndHalf = endsHere ? Half : 0;
    dx9.EndTicks = endsHere ? -1 : 0;
    return;
  }
  mod.ChunkFilled = vb::Add(vb::Sub(N, P), 1);
  mod.TailMs = vb::CLng(static_cast<double>(mod.ChunkFilled) * 1000.0 / static_cast<double>(mod.FmtFriq) + 1.0);
  dx9.EndHalf = Half;
  dx9.EndTicks = vb::Add(vb::CLng(vb::Int(static_cast<double>(mod.TailMs) / 1000.0 / kTickSeconds)), 1);
}

BlockCarrBuffClass& Channel(const std::unique_ptr<BlockCarrBuffClass>& buff, const char* which) {
  if (!buff) throw platform::PlayError(std::string("no channel buffer for the ") + which + " channel");
  return *buff;
}

// Steps 7 to 9 for one channel: frame k of the chunk takes src(i), i = k
// forward or n - k + 1 reverse, and lands every `stride` elements from `dst`.
void PlaceChannel(const platform::VbArray<int16_t>& src, int32_t n, bool reverse, bool eightBit, int16_t* dst,
                  int32_t stride) {
  const int16_t* s = src.Ptr(1);
  (void)src.Ptr(n);
  for (int32_t k = 1; k <= n; ++k) {
    const int16_t v = s[reverse ? n - k : k - 1];
    dst[static_cast<size_t>(k - 1) * static_cast<size_t>(stride)] = eightBit ? vb::Mul16(v, 256) : v;
  }
}

}  // namespace

bool FillPlayChunk(PlayDllMod& mod, Dx9CallBackMod& dx9, const int32_t& Half) {
  const int32_t base = Half == 2 ? mod.HalfOffset : 0;
  ClearHalf(mod, base);
  if (mod.PlayDirection != 1 && mod.PlayDirection != -1) return false;

  SizeChunk(mod, dx9, Half);
  if (mod.ChunkFilled <= 0) {  // nothing left to play
    mod.ChunkFilled = 0;
    mod.TailMs = 1;
    dx9.EndHalf = 0;
    dx9.EndTicks = 0;
    mod.ChunkBytes = 0;
    return false;
  }

  const int32_t n = mod.ChunkFilled;
  const bool stereo = mod.FmtChannal == 2;
  const bool reverse = mod.PlayDirection == -1;
  // Reverse play reads positions N - P - n + 2 .. N - P + 1 and sends them
  // out from the highest down.
  const int32_t from =
      reverse ? vb::Add(vb::Sub(vb::Sub(mod.WaveNos, mod.PlayProgress), n), 2) : mod.PlayProgress;

  platform::VbArray<int16_t> L(0, n);
  Channel(mod.ChanBuffL, "left").QuickBuffGet(from, L);
  platform::VbArray<int16_t> R;
  if (stereo) {
    R.ReDim(0, n);
    Channel(mod.ChanBuffR, "right").QuickBuffGet(from, R);
  }

  const int32_t channels = stereo ? 2 : 1;
  int16_t* out = mod.PlayChunk.Ptr(vb::Add(base, 1));
  (void)mod.PlayChunk.Ptr(vb::Add(base, vb::Mul(n, channels)));  // the chunk must fit the array
  const bool eightBit = mod.FmtBits == 8;
  PlaceChannel(L, n, reverse, eightBit, out, channels);
  if (stereo) PlaceChannel(R, n, reverse, eightBit, out + 1, channels);

  mod.ChunkBytes = vb::Mul(n, stereo ? 4 : 2);
  mod.PlayProgress = vb::Add(mod.PlayProgress, n);
  return true;
}
