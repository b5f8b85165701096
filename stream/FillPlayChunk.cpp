#include "stream/FillPlayChunk.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "platform/os/Errors.h"
#include "platform/runtime/SampleLoops.h"
#include "platform/runtime/VbArray.h"
#include "platform/runtime/VbMath.h"

namespace stream {

namespace {

// The single-precision 0.1 of the tick arithmetic, widened to double.
constexpr double kTickSeconds = static_cast<double>(0.1f);

// PlayChunk has the bounds 1..PlayChunkLen (made afresh, all zero, when
// missing or of another size), and the half to fill lies inside it.
void PrepareChunk(state::PlayDllMod& mod, int32_t base) {
  auto& chunk = mod.PlayChunk;
  if (!chunk.Dimensioned() || chunk.LBound() != 1 || chunk.UBound() != mod.PlayChunkLen)
    chunk.ReDim(1, mod.PlayChunkLen);
  if (mod.HalfOffset > 0) {
    (void)chunk.Ptr(vb::Add(base, 1));
    (void)chunk.Ptr(vb::Add(base, mod.HalfOffset));
  }
}

// Zeros `count` elements of PlayChunk from element `first` on.
void ZeroElements(state::PlayDllMod& mod, int32_t first, int32_t count) {
  if (count > 0) std::memset(mod.PlayChunk.Ptr(first), 0, static_cast<size_t>(count) * sizeof(int16_t));
}

// The length of this chunk and the end-of-wave bookkeeping.
void SizeChunk(state::PlayDllMod& mod, state::Dx9CallBackMod& dx9, int32_t Half) {
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

buffers::BlockCarrBuffClass& Channel(const std::unique_ptr<buffers::BlockCarrBuffClass>& buff, const char* which) {
  if (!buff) throw os::PlayError(std::string("no channel buffer for the ") + which + " channel");
  return *buff;
}

// True when every sample of a(1..n) lies in -128..127, so that times 256
// fits 16 bits.
bool FitsEightBit(const runtime::VbArray<int16_t>& a, int32_t n) {
  const int16_t* s = a.Ptr(1);
  (void)a.Ptr(n);
  int16_t lo = 0;
  int16_t hi = 0;
  for (int32_t i = 0; i < n; ++i) {
    lo = std::min(lo, s[i]);
    hi = std::max(hi, s[i]);
  }
  return lo >= -128 && hi <= 127;
}

// 8-bit data that fits: each sample times 256, a plain (vectorised) loop.
void ScaleEightBit(runtime::VbArray<int16_t>& a, int32_t n) {
  int16_t* s = a.Ptr(1);
  for (int32_t i = 0; i < n; ++i) s[i] = static_cast<int16_t>(s[i] * 256);
}

// 8-bit data with a sample that does not fit: the frames go out one by one in
// play order, left before right, each value times 256 in checked 16-bit
// arithmetic, so the overflow ends the call with every earlier value in place.
// `written` counts the elements placed.
void PlaceEightBitChecked(const int16_t* l, const int16_t* r, int32_t n, bool reverse, int16_t* out,
                          int32_t& written) {
  for (int32_t k = 1; k <= n; ++k) {
    const int32_t i = reverse ? n - k : k - 1;
    out[written] = vb::Mul16(l[i], 256);
    ++written;
    if (r == nullptr) continue;
    out[written] = vb::Mul16(r[i], 256);
    ++written;
  }
}

// The interleave below moves 16 bytes a step with the baseline x86-64
// instruction set, 32 in its AVX2 copy.
// Frame k (1..n) takes source index i = k forward, n - k + 1 reverse, and
// goes to out[k - 1] (mono) or to out[2k - 2], out[2k - 1] (stereo, left first).
PLAY_WIDE_VECTORS void PlaceFrames(const int16_t* l, const int16_t* r, int32_t n, bool reverse, int16_t* out) {
  const size_t count = static_cast<size_t>(n);
  if (r == nullptr) {
    if (!reverse) {
      std::memcpy(out, l, count * sizeof(int16_t));
      return;
    }
    for (size_t k = 0; k < count; ++k) out[k] = l[count - 1 - k];
    return;
  }
  if (!reverse) {
    for (size_t k = 0; k < count; ++k) {
      out[2 * k] = l[k];
      out[2 * k + 1] = r[k];
    }
    return;
  }
  for (size_t k = 0; k < count; ++k) {
    out[2 * k] = l[count - 1 - k];
    out[2 * k + 1] = r[count - 1 - k];
  }
}

// The chunk placed straight from where it lies, without the channel
// buffers' window arrays, when each channel's window lies inside one block:
// blocks in memory give their samples where they are, and the two channels
// of one 16-bit stereo Orgfile come with one read in the file's own
// interleaved order; a mono window is read from its block straight into the
// chunk (the very read the window read would make) and turned round there
// for reverse play. False when none applies; nothing has changed then and
// the window reads give the same frames or the same error.
bool PlaceDirect(state::PlayDllMod& mod, int32_t from, int32_t n, bool reverse, int16_t* out) {
  const bool stereo = mod.FmtChannal == 2;
  if (!mod.ChanBuffL || (stereo && !mod.ChanBuffR)) return false;
  const buffers::BlockCarrBuffClass& left = *mod.ChanBuffL;
  const int32_t l = left.SoleBlock(from, n);
  const int32_t r = stereo ? mod.ChanBuffR->SoleBlock(from, n) : 0;
  if (l == 0 || (stereo && (r == 0 || &mod.ChanBuffR->Blocks() != &left.Blocks()))) return false;
  blocks::VodoRaraZodorUze& engine = left.Blocks();
  const int16_t* ls = engine.SamplesInMemory(l, from, n);
  const int16_t* rs = stereo ? engine.SamplesInMemory(r, from, n) : nullptr;
  if (ls != nullptr && (!stereo || rs != nullptr)) {
    PlaceFrames(ls, rs, n, reverse, out);
    return true;
  }
  if (stereo) return engine.ReadStereoOrgRun(l, r, from, n, reverse, out);
  engine.ReadBlockRangeTo(l, from, from + n - 1, out);  // SoleBlock kept from + n - 1 in range
  if (reverse) runtime::ReverseSamples(out, static_cast<size_t>(n));
  return true;
}

// Sizes the chunk, reads it from the channel buffers (one window read per
// channel) and places it from element base + 1 on. Returns the number of
// elements placed, 0 when nothing was placed. `written` counts the elements
// from base + 1 on that hold chunk data, also when an error ends the call.
int32_t FillHalf(state::PlayDllMod& mod, state::Dx9CallBackMod& dx9, int32_t Half, int32_t base, int32_t& written) {
  if (mod.PlayDirection != 1 && mod.PlayDirection != -1) return 0;

  SizeChunk(mod, dx9, Half);
  if (mod.ChunkFilled <= 0) {  // nothing left to play
    mod.ChunkFilled = 0;
    mod.TailMs = 1;
    dx9.EndHalf = 0;
    dx9.EndTicks = 0;
    mod.ChunkBytes = 0;
    return 0;
  }

  const int32_t n = mod.ChunkFilled;
  const bool stereo = mod.FmtChannal == 2;
  const bool reverse = mod.PlayDirection == -1;
  // Reverse play reads positions N - P - n + 2 .. N - P + 1 and sends them
  // out from the highest down.
  const int32_t from =
      reverse ? vb::Add(vb::Sub(vb::Sub(mod.WaveNos, mod.PlayProgress), n), 2) : mod.PlayProgress;

  const int32_t placed = vb::Mul(n, stereo ? 2 : 1);
  // 8-bit data is scaled (and checked) on the way, so it takes the window reads.
  const bool fits = base >= 0 && int64_t{base} + placed <= mod.PlayChunk.UBound();
  if (mod.FmtBits == 8 || !fits || !PlaceDirect(mod, from, n, reverse, mod.PlayChunk.Ptr(base + 1))) {
    // The read arrays (0..n, 0 where no block reaches) are kept by the channel
    // buffers between calls rather than made afresh for every chunk.
    runtime::VbArray<int16_t>& L = Channel(mod.ChanBuffL, "left").ChunkRead(from, n);
    runtime::VbArray<int16_t>* R = stereo ? &Channel(mod.ChanBuffR, "right").ChunkRead(from, n) : nullptr;

    int16_t* out = mod.PlayChunk.Ptr(vb::Add(base, 1));
    (void)mod.PlayChunk.Ptr(vb::Add(base, placed));  // the chunk must fit the array
    const int16_t* right = stereo ? R->Ptr(1) : nullptr;
    if (mod.FmtBits == 8 && !(FitsEightBit(L, n) && (!stereo || FitsEightBit(*R, n)))) {
      PlaceEightBitChecked(L.Ptr(1), right, n, reverse, out, written);  // throws OverflowError
    } else {
      if (mod.FmtBits == 8) {
        ScaleEightBit(L, n);
        if (stereo) ScaleEightBit(*R, n);
      }
      PlaceFrames(L.Ptr(1), right, n, reverse, out);
    }
  }
  written = placed;

  mod.ChunkBytes = vb::Mul(n, stereo ? 4 : 2);
  mod.PlayProgress = vb::Add(mod.PlayProgress, n);
  return placed;
}

}  // namespace

bool FillPlayChunk(state::PlayDllMod& mod, state::Dx9CallBackMod& dx9, const int32_t& Half) {
  const int32_t base = Half == 2 ? mod.HalfOffset : 0;
  PrepareChunk(mod, base);
  // The half is cleared before it is filled, and the other half is never
  // touched: the device may be playing it. Only the elements the chunk does
  // not cover need the zeros, so they are written last; a call that fails
  // leaves what it placed before the error and zeros after it, just as if
  // the zeros had come first.
  int32_t placed = 0;
  int32_t written = 0;
  try {
    placed = FillHalf(mod, dx9, Half, base, written);
  } catch (...) {
    const int32_t kept = std::clamp(written, 0, std::max(mod.HalfOffset, 0));
    ZeroElements(mod, base + 1 + kept, mod.HalfOffset - kept);
    throw;
  }
  const int32_t covered = std::clamp(placed, 0, std::max(mod.HalfOffset, 0));
  ZeroElements(mod, base + 1 + covered, mod.HalfOffset - covered);
  return placed > 0;
}

}  // namespace stream
