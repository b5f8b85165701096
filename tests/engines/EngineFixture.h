#pragma once
// What the engine suites share: waves of known samples, the frames a run of
// them must play, and a fixture that drives an engine directly on the
// simulated world. A wave is written as Orgfiles and handed over through the
// real block chain (ingest, channel buffers, CreateSoundBuffer), and every
// frame the virtual output played is compared with the wave.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "buffers/BlockCarrBuffClass.h"
#include "engines/EngineContract.h"
#include "tests/support/TestWorld.h"

namespace engine_tests {

using testing_support::HostList;
using Reports = std::vector<std::string>;
using Samples = std::vector<int16_t>;

// A wave as the output must play it: per channel, position 1 first, 16 bits.
struct Wave {
  int32_t channels = 1;
  Samples L, R;
  int32_t Nos() const { return static_cast<int32_t>(L.size()); }
};

// A mono wave of formula samples; `salt` tells waves apart.
inline Wave MonoWave(int32_t nos, int64_t salt = 1) {
  Wave wave;
  for (int64_t i = 0; i < nos; ++i) wave.L.push_back(static_cast<int16_t>((i * 7919 + salt * 104729) % 65536 - 32768));
  return wave;
}

// Interleaved frames of positions from..to (1-based), stepping by dir (1 or -1).
inline Samples FramesOf(const Wave& w, int32_t from, int32_t to, int dir = 1) {
  Samples out;
  for (int32_t p = from;; p += dir) {
    out.push_back(w.L[static_cast<size_t>(p - 1)]);
    if (w.channels == 2) out.push_back(w.R[static_cast<size_t>(p - 1)]);
    if (p == to) break;
  }
  return out;
}

inline Samples Concat(std::initializer_list<Samples> parts) {
  Samples all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

inline Samples Silence(size_t samples) { return Samples(samples, 0); }

// The simulated world, tempo 1.0 both ways, a 4 MiB memory limit, and the
// reports of every engine it listens to. A derived fixture declares its
// engine after this base, so the engine is released first (its release
// still reports here).
class EngineFixture : public ::testing::Test {
 protected:
  EngineFixture() {
    mod().MemorySizeToUse = 1 << 22;
    mod().PlayTempoFor = 1.0f;
    mod().PlayTempoRev = 1.0f;
  }

  state::PlayDllMod& mod() { return w.ctx.Mod; }

  // Records the engine's reports (Msg must be "S2") with their loop time since t0.
  void Listen(engines::EngineContract& engine) {
    engine.ConnectMsgBoxOb([this](const std::string& Msg, const std::string& Ttl) {
      EXPECT_EQ(Msg, "S2");
      reports.push_back(Ttl);
      reportUs.push_back(w.loop.NowUs() - t0);
    });
  }

  // Hands a 16-bit wave over as the facade does: the lists ingested into both
  // channel buffers (the right one empty without a list), the format,
  // PlayDirection 1 and PlayProgress 1, CreateSoundBuffer and, when that
  // succeeded, a window of ChunkSamples on both buffers. Returns
  // CreateSoundBuffer's result.
  bool HandOver(engines::EngineContract& engine, int32_t channels, int32_t rate, int32_t nos, const HostList& left,
                const HostList* right = nullptr) {
    auto ingest = [&](const HostList* list) {
      auto buff = std::make_unique<buffers::BlockCarrBuffClass>(w.ctx.Blocks, mod().MemorySizeToUse);
      if (list == nullptr) return buff;
      runtime::VbArray<int32_t> idx;
      w.ctx.Blocks.BlockListIngest(list->Build(), idx);
      buff->BuffBlocksPutFresh(idx);
      return buff;
    };
    mod().ChanBuffL = ingest(&left);
    mod().ChanBuffR = ingest(right);
    mod().FmtBits = 16;
    mod().FmtChannal = channels;
    mod().FmtFriq = rate;
    mod().WaveNos = nos;
    mod().PlayDirection = 1;
    mod().PlayProgress = 1;
    if (!engine.CreateSoundBuffer()) return false;
    mod().ChanBuffL->SetQuickBufferLength(mod().ChunkSamples);
    mod().ChanBuffR->SetQuickBufferLength(mod().ChunkSamples);
    return true;
  }

  // Writes a mono wave as an Orgfile of two entries (a block each) and hands it over.
  bool Load(engines::EngineContract& engine, const Wave& wave, int32_t rate) {
    const std::string name = w.tmp.File("wave.wav");
    testing_support::WriteSamples(name, wave.L);
    const int32_t half = wave.Nos() / 2;
    HostList list;
    list.Org(name, half, 1, 1, 1, 16).Org(name, wave.Nos() - half, half + 1, 1 + 2 * half, 1, 16);
    return HandOver(engine, 1, rate, wave.Nos(), list);
  }

  // Hands over a mono wave at 8000 frames/s whose first `head` frames come
  // from one file and the `tail` frames after them from another, and starts
  // it; the second file goes away once the run has begun. Returns the head.
  Wave StartWithAVanishingTail(engines::EngineContract& engine, int32_t head, int32_t tail) {
    const Wave wave = MonoWave(head, 3);
    const std::string nameA = w.tmp.File("a.wav"), nameB = w.tmp.File("b.wav");
    testing_support::WriteSamples(nameA, wave.L);
    testing_support::WriteSamples(nameB, MonoWave(tail, 4).L);
    EXPECT_TRUE(HandOver(engine, 1, 8000, head + tail,
                         HostList().Org(nameA, head, 1, 1, 1, 16).Org(nameB, tail, head + 1, 1, 1, 16)));
    EXPECT_TRUE(engine.PlayMe());
    std::remove(nameB.c_str());
    return wave;
  }

  int32_t PositionOf(engines::EngineContract& engine) {
    engine.UpdatePlayPosition();
    return mod().CurrentPos;
  }

  // Forgets what was played and reported so far.
  void Forget() {
    w.output.Clear();
    reports.clear();
    reportUs.clear();
  }

  testing_support::SimWorld w;
  int64_t t0 = 0;
  Reports reports;
  std::vector<int64_t> reportUs;  // since t0
};

// The fixture of a suite of one engine: that engine, listened to.
template <typename E>
class OneEngineTest : public EngineFixture {
 protected:
  OneEngineTest() { Listen(*engine); }

  std::unique_ptr<E> engine = std::make_unique<E>(w.ctx);  // goes first: its release still reports
};

}  // namespace engine_tests
