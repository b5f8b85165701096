#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "blocks/VodoRaraZodorUze.h"
#include "buffers/BlockCarrBuffClass.h"
#include "platform/MessageBox.h"
#include "state/Dx9CallBackMod.h"
#include "state/PlayDllMod.h"
#include "stream/FillPlayChunk.h"
#include "tests/support/TestWorld.h"

namespace {

// Both channels of one 16-bit stereo Orgfile come with one read, reversed in
// place eight frames from each end at a time; a file that stores each frame
// right sample first must not be read as such a pair; a mono wave of the left
// channel alone is read into the chunk and reversed there sixteen samples from
// each end at a time. All must give, at every chunk length and in both
// directions, the frames of positions P, P+1, ... or N-P+1, N-P, ...
TEST(DirectReadTest, OrgfileChannelsPlayFrameExactAtEveryChunkLength) {
  constexpr int32_t kFrames = 80;
  testing_support::TempDir tmp;
  platform::MessageBox box;
  box.SetQuiet(true);
  int32_t memory = 100'000'000;
  const std::string appTmpDir = tmp.Path();
  blocks::VodoRaraZodorUze engine{memory, appTmpDir, box};
  for (const int32_t layout : {0, 1, 2}) {  // stereo, stereo right first, mono
    const bool rightFirst = layout == 1;
    const int32_t channels = layout == 2 ? 1 : 2;
    std::vector<int16_t> samples(22, 0);  // the 44-byte header
    for (int32_t p = 1; p <= kFrames; ++p) {
      const auto left = static_cast<int16_t>(3 * p);
      const auto right = static_cast<int16_t>(-p);
      samples.insert(samples.end(), {rightFirst ? right : left, rightFirst ? left : right});
    }
    testing_support::WriteSamples(tmp.File("s.wav"), samples);
    auto channel = [&](int32_t byte) {
      platform::VbArray<int32_t> idx;
      engine.BlockListIngest(testing_support::HostList().Org(tmp.File("s.wav"), kFrames, 1, byte, 2, 16).Build(), idx);
      auto b = std::make_unique<buffers::BlockCarrBuffClass>(engine, memory);
      b->BuffBlocksPutFresh(idx);
      return b;
    };
    state::PlayDllMod mod;
    state::Dx9CallBackMod dx9;
    mod.ChanBuffL = channel(rightFirst ? 47 : 45);
    if (channels == 2) mod.ChanBuffR = channel(rightFirst ? 45 : 47);
    mod.FmtChannal = channels;
    mod.FmtBits = 16;
    mod.WaveNos = kFrames;
    for (int32_t chunk = 1; chunk <= 40; ++chunk) {
      for (const int32_t direction : {1, -1}) {
        mod.ChunkSamples = chunk;
        mod.HalfOffset = channels * chunk;
        mod.PlayChunkLen = 2 * channels * chunk;
        mod.PlayDirection = direction;
        mod.PlayProgress = 3;
        ASSERT_TRUE(stream::FillPlayChunk(mod, dx9, 2));
        std::vector<int16_t> expected;
        for (int32_t k = 0; k < chunk; ++k) {
          const int32_t pos = direction == 1 ? 3 + k : kFrames - 2 - k;
          expected.push_back(static_cast<int16_t>(3 * pos));
          if (channels == 2) expected.push_back(static_cast<int16_t>(-pos));
        }
        const std::vector<int16_t> half(mod.PlayChunk.Ptr(mod.HalfOffset + 1), mod.PlayChunk.Ptr(mod.PlayChunkLen) + 1);
        EXPECT_EQ(half, expected) << "layout " << layout << ", chunk " << chunk << ", direction " << direction;
      }
    }
  }
}

}  // namespace
