#include "platform/WaveOutApi.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

#include "platform/AudioPlatform.h"
#include "platform/EventLoop.h"
#include "platform/VirtualOutput.h"

namespace {

using namespace platform;

WAVEFORMATEX Pcm16(uint16_t channels, uint32_t rate) {
  WAVEFORMATEX f;
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = 16;
  f.nBlockAlign = static_cast<uint16_t>(channels * 2);
  f.nAvgBytesPerSec = f.nBlockAlign * rate;
  return f;
}

std::vector<int16_t> Ramp(int16_t from, size_t count) {
  std::vector<int16_t> v(count);
  std::iota(v.begin(), v.end(), from);
  return v;
}

std::vector<int16_t> Concat(std::vector<int16_t> a, const std::vector<int16_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class WaveOutApiTest : public ::testing::Test {
 protected:
  WaveOutApiTest() : loop(clock), audio(loop, output, AudioOffer{}, "") {}

  // Opens the device (mono 1000 Hz unless told) and returns its handle.
  HWAVEOUT Open(uint16_t channels = 1, uint32_t rate = 1000) {
    HWAVEOUT h = 0;
    const WAVEFORMATEX f = Pcm16(channels, rate);
    EXPECT_EQ(api.waveOutOpen(&h, WAVE_MAPPER, &f, 0, 0, 0), MMSYSERR_NOERROR);
    return h;
  }
  // Prepares `hdr` over `samples` and writes it.
  MMRESULT Queue(HWAVEOUT h, WAVEHDR& hdr, std::vector<int16_t>& samples) {
    hdr = WAVEHDR{};
    hdr.lpData = reinterpret_cast<char*>(samples.data());
    hdr.dwBufferLength = static_cast<uint32_t>(samples.size() * 2);
    EXPECT_EQ(api.waveOutPrepareHeader(h, &hdr, kWaveHdrSize), MMSYSERR_NOERROR);
    return api.waveOutWrite(h, &hdr, kWaveHdrSize);
  }
  // The position in the given unit (the union's member for it).
  uint32_t Position(HWAVEOUT h, uint32_t type = TIME_SAMPLES) {
    MMTIME t;
    t.wType = type;
    EXPECT_EQ(api.waveOutGetPosition(h, &t, kMmTimeSize), MMSYSERR_NOERROR);
    return type == TIME_MS ? t.u.ms : type == TIME_BYTES ? t.u.cb : t.u.sample;
  }

  ManualClock clock;
  EventLoop loop;
  VirtualOutput output;
  AudioPlatform audio;
  WaveOutApi api{audio};
};

TEST_F(WaveOutApiTest, QueuedHeadersPlayInOrderAndThePositionStopsAtTheEnd) {
  const HWAVEOUT h = Open();
  std::vector<int16_t> a = Ramp(1, 100), b = Ramp(101, 50);
  WAVEHDR ha, hb;
  ASSERT_EQ(Queue(h, ha, a), MMSYSERR_NOERROR);
  ASSERT_EQ(Queue(h, hb, b), MMSYSERR_NOERROR);
  EXPECT_EQ(ha.dwFlags, WHDR_PREPARED | WHDR_INQUEUE);

  loop.RunFor(30);
  EXPECT_EQ(Position(h), 30u);
  EXPECT_EQ(output.Samples(), Ramp(1, 30));

  loop.RunFor(70);  // 100 ms: header a has played, without any call
  EXPECT_EQ(ha.dwFlags, WHDR_PREPARED | WHDR_DONE);
  EXPECT_EQ(hb.dwFlags, WHDR_PREPARED | WHDR_INQUEUE);
  loop.RunFor(200);
  EXPECT_EQ(Position(h), 150u);
  EXPECT_EQ(hb.dwFlags, WHDR_PREPARED | WHDR_DONE);
  EXPECT_EQ(output.LastFrameEndUs(), 150'000);
  EXPECT_EQ(output.Stops(), 1);  // fell silent when the queue ran dry

  // A write after the device ran dry sounds from the moment of the write and
  // the position goes on from where it stood.
  std::vector<int16_t> c = Ramp(500, 10);
  WAVEHDR hc;
  ASSERT_EQ(Queue(h, hc, c), MMSYSERR_NOERROR);
  loop.RunFor(50);
  EXPECT_EQ(Position(h), 160u);
  EXPECT_EQ(output.LastFrameEndUs(), 310'000);
  EXPECT_EQ(output.Samples(), Concat(Ramp(1, 150), c));
  EXPECT_EQ(Position(h, TIME_MS), 160u);
  EXPECT_EQ(Position(h, TIME_BYTES), 320u);
}

TEST_F(WaveOutApiTest, ResultCodesForMisuse) {
  HWAVEOUT h = 0;
  WAVEFORMATEX bad = Pcm16(1, 44100);
  bad.wBitsPerSample = 8;
  EXPECT_EQ(api.waveOutOpen(&h, WAVE_MAPPER, &bad, 0, 0, 0), WAVERR_BADFORMAT);
  h = Open(2, 44100);
  const WAVEFORMATEX good = Pcm16(2, 44100);
  HWAVEOUT second = 0;
  EXPECT_EQ(api.waveOutOpen(&second, 0, &good, 0, 0, 0), MMSYSERR_ALLOCATED);
  std::vector<int16_t> a = Ramp(1, 8);
  WAVEHDR hdr;
  hdr.lpData = reinterpret_cast<char*>(a.data());
  hdr.dwBufferLength = 16;
  EXPECT_EQ(api.waveOutWrite(h, &hdr, kWaveHdrSize), WAVERR_UNPREPARED);
  ASSERT_EQ(Queue(h, hdr, a), MMSYSERR_NOERROR);
  EXPECT_EQ(api.waveOutUnprepareHeader(h, &hdr, kWaveHdrSize), WAVERR_STILLPLAYING);
  EXPECT_EQ(api.waveOutClose(h), WAVERR_STILLPLAYING);
  loop.RunFor(1);  // 4 frames at 44.1 kHz take 0.09 ms
  EXPECT_EQ(api.waveOutUnprepareHeader(h, &hdr, kWaveHdrSize), MMSYSERR_NOERROR);
  EXPECT_EQ(api.waveOutClose(h), MMSYSERR_NOERROR);
  EXPECT_EQ(api.waveOutClose(h), MMSYSERR_INVALHANDLE);
  EXPECT_NE(Open(2, 44100), h);  // a closed handle never comes back
}

}  // namespace
