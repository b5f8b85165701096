// End-to-end: the command-line host playctl, which starts the playsrv beside
// it, run to its end on the virtual clock into the WAV output unless told:
// what it refuses, how it decodes and joins pieces, how keys steer a run, and
// what a signal, a full disk and an install do.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "platform/os/Stdio.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/RecordedWav.h"
#include "tests/support/TempDir.h"

using testing_support::ReadRecordedWav;
using testing_support::Recorded;
using Samples = std::vector<int16_t>;

namespace {

constexpr char kPlayctl[] = PLAY_BINARY_DIR "/playctl";

// Interleaved samples in any libsndfile format at 8000 Hz: ints as 32-bit full
// scale (a 16-bit sample v is v << 16), floats unchanged (no clipping on the way).
template <typename T>
void WriteSound(const std::string& path, int format, int channels, const std::vector<T>& samples) {
  SF_INFO info{0, 8000, channels, format, 0, 0};
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr) << path << ": " << sf_strerror(nullptr);
  const auto frames = static_cast<sf_count_t>(samples.size()) / channels;
  if constexpr (std::is_same_v<T, float>) {
    EXPECT_EQ(sf_writef_float(f, samples.data(), frames), frames);
  } else {
    EXPECT_EQ(sf_writef_int(f, samples.data(), frames), frames);
  }
  sf_close(f);
}

// A PCM WAV whose data chunk holds `data`, written by hand so that it may be
// odd: any channel count, and an odd-sized LIST chunk before fmt and data
// when `listFirst`.
void WriteWav(const std::string& path, uint16_t channels, uint32_t rate, uint16_t bits, bool listFirst,
              const std::vector<uint8_t>& data) {
  testing_support::WriteBytes(path, testing_support::WavBytes(channels, rate, bits, data, listFirst));
}

// A ramp of `n` samples rising by one from `first`.
Samples Ramp(size_t n, int32_t first) {
  Samples s(n);
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<int16_t>(first + static_cast<int32_t>(i));
  return s;
}

class PlayctlTest : public ::testing::Test {
 protected:
  struct Run {
    int Status;
    std::vector<std::string> Out;
    std::string Err;
    bool Has(const std::string& text) const {
      return std::any_of(Out.begin(), Out.end(), [&](const std::string& l) { return l.find(text) != l.npos; });
    }
  };
  // Runs `program` (playctl unless told) with `args` to its end; files it
  // writes stop at `maxFileBytes` when that is above 0.
  Run Playctl(const std::vector<std::string>& args, const std::string& program = kPlayctl,
              int64_t maxFileBytes = 0) {
    os::Process::Options options;
    options.Args = args;
    options.Errors = os::Process::ErrorOutput::File;
    options.ErrorFile = tmp.File("stderr");
    options.MaxFileBytes = maxFileBytes;
    testing_support::ChildProcess p(program, options);
    p.CloseInput();
    Run r{0, p.ReadToEnd(), ""};
    r.Status = p.Wait();
    r.Err = testing_support::ReadText(tmp.File("stderr"));
    return r;
  }
  // `playctl play ARGS` on the virtual clock into the WAV output, which must succeed.
  Run Play(std::vector<std::string> args, const std::string& program = kPlayctl) {
    args.insert(args.begin(), "play");
    args.insert(args.end(), {"--simulate", "--output", "wav:" + out});
    Run r = Playctl(args, program);
    EXPECT_EQ(r.Status, 0) << r.Err;
    return r;
  }
  // A 16-bit mono WAV of `wave`.
  std::string Mono16(const std::string& name, const Samples& wave, uint32_t rate = 8000, bool listFirst = false) {
    std::vector<uint8_t> bytes(wave.size() * 2);
    std::memcpy(bytes.data(), wave.data(), bytes.size());
    WriteWav(tmp.File(name), 1, rate, 16, listFirst, bytes);
    return tmp.File(name);
  }

  testing_support::TempDir tmp;
  std::string out = tmp.File("played.wav");
};

// Each refusal is the one line that names the file and what is wrong with
// it, without a decoder's own notes, and no server is started.
TEST_F(PlayctlTest, ARefusedFileIsNamedWithWhatIsWrongWithItAndNothingElse) {
  const std::string six = tmp.File("six.wav"), mono = tmp.File("mono.wav"), text = tmp.File("text.mp3");
  WriteWav(six, 6, 8000, 16, true, std::vector<uint8_t>(1200, 1));
  WriteWav(mono, 1, 8000, 16, false, std::vector<uint8_t>(16000, 1));  // one second
  WriteWav(tmp.File("none.wav"), 1, 8000, 16, false, {});
  testing_support::WriteBytes(text, std::vector<uint8_t>(640, 'x'));
  testing_support::WriteBytes(tmp.File("empty.flac"), {});
  ASSERT_EQ(mkfifo(tmp.File("fifo.wav").c_str(), 0600), 0);
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{text}, text + ": is not a sound file"},
      {{tmp.File("empty.flac")}, tmp.File("empty.flac") + ": is empty"},
      {{tmp.Path()}, tmp.Path() + ": is a folder, not a sound file"},
      {{tmp.File("fifo.wav")}, tmp.File("fifo.wav") + ": is not a regular file"},
      {{tmp.File("none.wav")}, tmp.File("none.wav") + ": holds no samples"},
      {{mono, tmp.File("missing.flac")}, tmp.File("missing.flac") + ": no such file"},
      {{six}, six + ": 6 channels; only mono or stereo plays (pick one or two with --channels, e.g. --channels 1,2)"},
      {{six, "--channels", "2,7"}, six + ": --channels names channel 7 of a file of 6 channels"},
      {{mono + "@0.5-1.5"}, mono + "@0.5-1.5: the range lies beyond the end of the file (1.000 s)"},
      {{"silence:0.5"}, "an edit list needs at least one sound file"},
      {{mono, "--from", "1.0"}, "--from 1.000000 lies beyond the end of the wave"},
      {{mono, "--script", "wait 1; jump"},
       "--script: unknown step \"jump\" (wait SECONDS, space, u, left, right, home, end, l, +, -, s, q, [, ], x, "
       "g TIME, ',', '.')"},
  };
  for (const auto& [args, message] : cases) {
    std::vector<std::string> all{"play", "--simulate"};
    all.insert(all.end(), args.begin(), args.end());
    const Run r = Playctl(all);
    EXPECT_EQ(r.Status, 2) << message;
    EXPECT_EQ(r.Err, "playctl: " + message + "\n");
    EXPECT_FALSE(r.Has("engine:")) << "no server was started for " << message;
  }
}

// A compressed file cut to a third: named in a warning with what decoded and
// why the rest did not, without the decoder's own notes (a cut MP3 makes
// mpg123 warn on standard error); that part plays, and the run ends with 3.
class DamagedFileTest : public PlayctlTest, public ::testing::WithParamInterface<std::pair<const char*, int>> {};

TEST_P(DamagedFileTest, IsToldAndWhatDecodedPlaysWithStatusThree) {
  const auto& [name, format] = GetParam();
  std::vector<int32_t> noise(2 * 40000);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<int32_t>((i * 7919 + i * i) % 65536 - 32768) << 16;
  WriteSound(tmp.File(std::string("whole.") + name), format, 2, noise);
  const std::vector<uint8_t> whole = testing_support::ReadBytes(tmp.File(std::string("whole.") + name));
  const std::string cut = tmp.File(std::string("cut.") + name);
  testing_support::WriteBytes(cut, std::vector<uint8_t>(whole.begin(), whole.begin() + whole.size() / 3));
  SF_INFO info{};  // what libsndfile, opened by name, decodes of it, rounded to 16 bits
  std::vector<double> doubles(2 * 40000);
  {
    const os::QuietStandardError quiet;  // mpg123's notes
    SNDFILE* f = sf_open(cut.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    doubles.resize(static_cast<size_t>(2 * sf_readf_double(f, doubles.data(), 40000)));
    sf_close(f);
  }
  Samples decoded;
  for (double x : doubles) decoded.push_back(static_cast<int16_t>(std::clamp(std::round(x * 32768), -32768.0, 32767.0)));
  const Run r = Playctl({"play", cut, "--simulate", "--output", "wav:" + out});
  EXPECT_EQ(r.Status, 3) << r.Err;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f s", static_cast<double>(decoded.size() / 2) / 8000);
  EXPECT_EQ(r.Err, "playctl: warning: " + cut + ": damaged: " + seconds + " of " + std::to_string(info.frames / 8000) +
                       ".000 s decoded (" + std::to_string(decoded.size() / 2) + " of " + std::to_string(info.frames) +
                       " samples); the file ends there, cut short after " + std::to_string(whole.size() / 3) +
                       " bytes; the part that is there plays\n");
  EXPECT_EQ(Recorded(out, decoded.size()), decoded);
}

INSTANTIATE_TEST_SUITE_P(Formats, DamagedFileTest,
                         ::testing::Values(std::pair{"flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
                                           std::pair{"mp3", SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III}),
                         [](const auto& p) { return std::string(p.param.first); });

// A WAV whose data chunk claims twice what the file holds (and half a frame).
TEST_F(PlayctlTest, AWavCutShortIsToldAndWhatIsThereIsReadInPlaceWithStatusThree) {
  std::vector<uint8_t> bytes(16001);  // 8000 frames and half of one
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31);
  const std::string wav = tmp.File("cut.wav");
  WriteWav(wav, 1, 8000, 16, false, bytes);
  std::vector<uint8_t> file = testing_support::ReadBytes(wav);
  file[40] = 0x00, file[41] = 0x7D;  // the data chunk claims 32000 bytes
  testing_support::WriteBytes(wav, file);
  const Run w = Playctl({"play", wav, "--simulate", "--output", "wav:" + out});
  EXPECT_EQ(w.Status, 3) << w.Err;
  EXPECT_EQ(w.Err, "playctl: warning: " + wav + ": damaged: 1.000 s of 2.000 s present (8000 of 16000 samples); the "
                   "file ends there, cut short after 16045 bytes; the part that is there plays\n");
  Samples present(8000);
  std::memcpy(present.data(), bytes.data(), 16000);
  EXPECT_EQ(Recorded(out, 8000), present);
  EXPECT_TRUE(w.Has("read in place"));
}

// An option that cannot apply says why, once, on standard error, and nothing
// else is said there (choosing waveOut brings no word about DirectSound).
TEST_F(PlayctlTest, AnOptionThatCannotApplySaysWhyOnce) {
  const std::string wav = Mono16("tone.wav", Ramp(800, 1));
  for (const auto& [option, warning] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--engine", "waveout", "--tempo", "1.5"}, "--tempo does not apply: the waveOut engine plays at the wave's own rate"},
           {{"--channels", "1"}, "--channels does not apply: it picks channels of files of more than two, and no piece has more"}}) {
    std::vector<std::string> args{"play", wav, "--simulate", "--output", "null"};
    args.insert(args.end(), option.begin(), option.end());
    const Run r = Playctl(args);
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Err, "playctl: warning: " + warning + "\n");
  }
}

// The six-channel file, its LIST chunk first, plays once two of its channels are picked.
TEST_F(PlayctlTest, TwoChannelsPickedFromAFileOfSixPlayInStereo) {
  std::vector<uint8_t> bytes(12 * 100);  // 100 frames: channel c of frame f holds 100 * c + f
  for (size_t f = 0; f < 100; ++f)
    for (size_t c = 0; c < 6; ++c) {
      const auto v = static_cast<int16_t>(100 * c + f);
      bytes[12 * f + 2 * c] = static_cast<uint8_t>(v);
      bytes[12 * f + 2 * c + 1] = static_cast<uint8_t>(v >> 8);
    }
  WriteWav(tmp.File("six.wav"), 6, 8000, 16, true, bytes);
  Play({tmp.File("six.wav"), "--channels", "2,5"});
  Samples picked;
  for (int16_t f = 0; f < 100; ++f)
    picked.insert(picked.end(), {static_cast<int16_t>(100 + f), static_cast<int16_t>(400 + f)});
  EXPECT_EQ(ReadRecordedWav(out).Channels, 2);
  EXPECT_EQ(Recorded(out, picked.size()), picked);
}

TEST_F(PlayctlTest, DecodesAnySoundFileToItsSixteenBitRoundingAndCountsClips) {
  constexpr size_t kSamples = 2 * 3000;
  const std::vector<std::tuple<std::string, int, int>> cases{
      // name, libsndfile format, bits (0: float samples)
      {"flac16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 16}, {"pcm24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 24},
      {"ext24.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 24},  {"pcm32.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_32, 32},
      {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0},
  };
  for (const auto& [name, format, bits] : cases) {
    // Integers across their whole range; for floats every third sample a
    // 16-bit value, the others up to 1.4 times full scale.
    const int used = bits > 0 ? bits : 16;
    const int64_t span = int64_t{1} << used;
    std::vector<int32_t> full(kSamples);
    std::vector<float> floats(kSamples);
    Samples expected(kSamples);  // what the file holds, rounded to 16 bits and clipped
    int64_t clipped = 0;
    for (size_t i = 0; i < kSamples; ++i) {
      const int64_t v =
          (static_cast<int64_t>(i) * 7919 * (bits == 32 ? 65537 : 1) + int64_t{104729} * (i % 2)) % span - span / 2;
      full[i] = static_cast<int32_t>(v << (32 - used));
      floats[i] = i % 3 == 0 ? static_cast<float>(full[i] / 2147483648.0)
                             : static_cast<float>(std::sin(static_cast<double>(i) * 0.01) * 1.4);
      const double r = std::round((bits > 0 ? full[i] / 2147483648.0 : floats[i]) * 32768);
      clipped += r > 32767 || r < -32768;
      expected[i] = static_cast<int16_t>(std::clamp(r, -32768.0, 32767.0));
    }
    bits > 0 ? WriteSound(tmp.File(name), format, 2, full) : WriteSound(tmp.File(name), format, 2, floats);
    const Run r = Play({tmp.File(name)});
    EXPECT_TRUE(r.Has("decoded to 16 bit")) << name;
    EXPECT_EQ(r.Has(std::to_string(clipped) + " sample(s) clipped to the 16-bit range"), clipped > 0) << name;
    EXPECT_TRUE(bits > 0 || clipped > 500) << "the float case must clip";
    EXPECT_EQ(Recorded(out, kSamples), expected) << name;
  }
}

// A stereo FLAC (decoded), silence, an 8-bit mono WAV (decoded to 16 bit
// among 16-bit pieces) and a 16-bit mono WAV read in place: mono plays on
// both sides.
class EditListTest : public PlayctlTest {
 protected:
  EditListTest() {
    std::vector<int32_t> flac(2 * 4000);
    for (size_t i = 0; i < flac.size(); ++i) flac[i] = static_cast<int32_t>((i * 13 % 60000) - 30000) << 16;
    WriteSound(tmp.File("a.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, flac);
    std::vector<uint8_t> eight(1000);
    for (size_t i = 0; i < eight.size(); ++i) eight[i] = static_cast<uint8_t>(i * 7);
    WriteWav(tmp.File("b.wav"), 1, 8000, 8, false, eight);
    const Samples sixteen = Ramp(3000, -20000);
    Mono16("c.wav", sixteen, 8000, true);

    for (size_t i = 2 * 2000; i < 2 * 4000; ++i) wave.push_back(static_cast<int16_t>(flac[i] >> 16));
    wave.insert(wave.end(), 2 * 1000, 0);
    for (uint8_t b : eight) wave.insert(wave.end(), 2, static_cast<int16_t>((b - 128) * 256));
    for (size_t f = 800; f < 3000; ++f) wave.insert(wave.end(), 2, sixteen[f]);
    for (size_t f = wave.size() / 2; f-- > 0;) backwards.insert(backwards.end(), {wave[2 * f], wave[2 * f + 1]});
  }
  std::vector<std::string> Pieces(std::vector<std::string> options) const {
    std::vector<std::string> args{tmp.File("a.flac") + "@0.25-0.5", "silence:0.125", tmp.File("b.wav"),
                                  tmp.File("c.wav") + "@0.1-"};
    args.insert(args.end(), options.begin(), options.end());
    return args;
  }

  Samples wave;       // interleaved, forwards
  Samples backwards;  // the wave's frames, the last first
};

TEST_F(EditListTest, PlaysBackwardsAsOneWave) {
  const Run r = Play(Pieces({"--reverse"}));
  EXPECT_TRUE(r.Has("wave: 2 channel(s), 16 bit, 8000 Hz, 6200 samples"));
  EXPECT_TRUE(r.Has("c.wav@0.1-: 1 channel(s), 16 bit, 8000 Hz, 2200 samples, read in place"));
  EXPECT_EQ(Recorded(out, wave.size()), backwards);
}

// A U-turn after 0.5 s (4000 frames, inside the 8-bit piece): back to the start.
TEST_F(EditListTest, TurnsRoundInsideAPieceAndPlaysBackToTheStart) {
  Play(Pieces({"--script", "wait 0.5; u"}));
  Samples turned(wave.begin(), wave.begin() + 2 * 4000);  // frames 0..3999, then 3999 back to 0
  turned.insert(turned.end(), backwards.end() - 2 * 4000, backwards.end());
  EXPECT_EQ(Recorded(out, turned.size()), turned);
}

TEST_F(PlayctlTest, PlaysAnEightBitFileInPlaceBackwardsAcrossItsTwoBlocks) {
  constexpr int32_t kEightBitFrames = 1048576 + 4410;  // one full block and a short one
  std::vector<uint8_t> bytes(kEightBitFrames);
  for (int32_t i = 0; i < kEightBitFrames; ++i)
    bytes[static_cast<size_t>(i)] = static_cast<uint8_t>((i * 11 + i / 1000) % 256);
  const std::string wav = tmp.File("eight.wav");
  WriteWav(wav, 1, 8000, 8, true, bytes);

  // 131.5 s in is frame 1052000, in the second block; from there back to frame 0.
  const Run r = Play({wav, "--reverse", "--from", "131.5"});
  EXPECT_TRUE(r.Has("MsgBoxOb  S2  Play Done"));
  ASSERT_FALSE(r.Out.empty());
  EXPECT_EQ(r.Out.back(), "played sound written to " + out);
  const auto played = ReadRecordedWav(out);
  EXPECT_EQ(played.Channels, 1);
  ASSERT_GE(played.Samples.size(), 1052001u);
  for (size_t k = 0; k <= 1052000; ++k) ASSERT_EQ(played.Samples[k], (bytes[1052000 - k] - 128) * 256) << k;
  for (size_t k = 1052001; k < played.Samples.size(); ++k) ASSERT_EQ(played.Samples[k], 0) << k;
}

// A 4-s ramp at 8000 Hz (64000 bytes of sound) for the runs steered by time.
class SteeredRunTest : public PlayctlTest {
 protected:
  const std::string wav = Mono16("ramp.wav", Ramp(32000, -16000));
};

// 1 s forward; U-turn; 0.5 s back; pause 0.5 s (nothing sounds); 0.25 s
// back; right: 5 s further in the present direction, clamped to the end;
// 0.25 s; stop; End: backwards from the end; tempo and loop wait for the
// next start; quit.
TEST_F(SteeredRunTest, ScriptedKeysSteerTheRunFrameForFrame) {
  const Run r = Play({wav, "--progress", "--script",
                      "wait 1.0; u; wait 0.5; space; wait 0.5; space; wait 0.25; right; wait 0.25; s; wait 0.1; "
                      "end; wait 0.2; l; +; wait 0.3; q"});
  Samples heard;  // frames 0..7999, 7999 back to 2000, 31999 back to 30000, 31999 back to 28000
  for (const auto& [from, to] : {std::pair{0, 7999}, {7999, 2000}, {31999, 30000}, {31999, 28000}})
    for (int32_t f = from; f != to + (to > from ? 1 : -1); f += to > from ? 1 : -1)
      heard.push_back(static_cast<int16_t>(f - 16000));
  EXPECT_EQ(ReadRecordedWav(out).Samples, heard);
  EXPECT_TRUE(r.Has("[   1.750 s] 0:00.500 / 0:04.000  reverse  paused  tempo 1.00"));
  EXPECT_TRUE(r.Has("[   2.750 s] 0:03.850 / 0:04.000  reverse  playing  tempo 1.00"));
  EXPECT_TRUE(r.Has("[   3.000 s] 0:03.600 / 0:04.000  reverse  playing  loop on  tempo 1.00 (1.10 from the next start)"));
}

// A selection from 0.5 s to 1 s (the playhead at each mark: frames 3999 up
// to 7999), looped from 1 s on for 1.2 s, then the loop ended and g 3.0: the
// passes sound frame for frame, each restart after the server's silence
// until its next poll (at most 100 ms), and the jump lands on frame 24000.
TEST_F(PlayctlTest, ASelectionLoopsAndGJumpsFrameForFrame) {
  const std::string wav = Mono16("ramp.wav", Ramp(32000, 1));  // no sample is 0
  Play({wav, "--script", "wait 0.5; [; wait 0.5; ]; l; wait 1.2; l; g 3.0; wait 0.5; q"});
  const Samples played = ReadRecordedWav(out).Samples;
  EXPECT_EQ(played.size(), 21600u) << "2.7 s";
  std::vector<Samples> passes;  // the runs of consecutive frames
  std::vector<size_t> gaps;     // the silences between them
  for (size_t i = 0; i < played.size();) {
    size_t j = i + 1;
    while (j < played.size() && (played[i] == 0 ? played[j] == 0 : played[j] == played[j - 1] + 1)) ++j;
    if (played[i] == 0) {
      gaps.push_back(j - i);
    } else {
      passes.emplace_back(played.begin() + static_cast<long>(i), played.begin() + static_cast<long>(j));
    }
    i = j;
  }
  const Samples selection = Ramp(4000, 4000);
  EXPECT_EQ(passes, (std::vector<Samples>{Ramp(8000, 1), selection, selection, Ramp(4000, 24001)}));
  ASSERT_EQ(gaps.size(), 2u);
  for (size_t gap : gaps) EXPECT_LE(gap, 800u);
}

// Paused after 1 s (the playhead on frame 7999), two steps on and one back:
// the run goes on 100 ms later, from frame 8799.
TEST_F(PlayctlTest, StepsWhilePausedMoveWhereTheRunGoesOn) {
  const std::string wav = Mono16("ramp.wav", Ramp(32000, 1));
  Play({wav, "--script", "wait 1.0; space; .; .; ,; wait 0.3; space; wait 0.5; q"});
  Samples heard = Ramp(8000, 1);
  const Samples on = Ramp(4000, 8800);
  heard.insert(heard.end(), on.begin(), on.end());
  EXPECT_EQ(ReadRecordedWav(out).Samples, heard);
}

TEST_F(SteeredRunTest, TempoAndLoopSetBeforeHomeMakeTheRunPlayFasterAndLoopAndNothingRunsAfterQuit) {
  const Run r = Playctl({"play", wav, "--simulate", "--progress", "--script", "+; l; home; wait 4.5; q; u"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(r.Has("[   1.000 s] 0:01.099 / 0:04.000  forward  looping  loop on  tempo 1.10"))
      << testing::PrintToString(r.Out);
  EXPECT_TRUE(r.Has("forward  looping (1)  loop on  tempo 1.10"));
  EXPECT_FALSE(r.Has("key u")) << "nothing runs after q";
}

// Each termination signal, sent to playctl and the server it started (as
// Ctrl-C in a shell does), stops both, with the WAV header true.
class SignalTest : public SteeredRunTest, public ::testing::WithParamInterface<int> {};

TEST_P(SignalTest, EndsBothProgramsWith128PlusTheSignalAndTheRecordingIntact) {
  testing_support::ChildProcess p(kPlayctl, {"play", wav, "--progress", "--output", "wav:" + out}, tmp.File("stderr"));
  std::string line;
  while (p.ReadLine(line) && line.find("position") == std::string::npos) {
  }
  p.SignalGroup(GetParam());
  EXPECT_EQ(p.Wait(), 128 + GetParam()) << testing_support::ReadText(tmp.File("stderr"));
  EXPECT_GT(ReadRecordedWav(out).Samples.size(), 0u);  // and the header true
}

INSTANTIATE_TEST_SUITE_P(TerminationSignals, SignalTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& signal) {
                           return std::string(signal.param == SIGTERM ? "SIGTERM"
                                              : signal.param == SIGINT ? "SIGINT"
                                                                       : "SIGHUP");
                         });

// The children may write files of at most 60000 bytes, and get EFBIG beyond.
TEST_F(SteeredRunTest, AFullDiskUnderTheWavOutputIsToldAndFailsTheRun) {
  const Run r = Playctl({"play", wav, "--simulate", "--output", "wav:" + out}, kPlayctl, 60000);
  EXPECT_EQ(r.Status, 1);
  const auto held = static_cast<long long>(ReadRecordedWav(out).Samples.size() * 2);  // the header true
  EXPECT_GT(held, 0);
  EXPECT_LE(held, 60000 - 44);
  char seconds[32];
  const long long ms = held / 2 * 1000 / 8000;
  std::snprintf(seconds, sizeof seconds, "%lld.%03lld", ms / 1000, ms % 1000);
  EXPECT_THAT(r.Err, testing::HasSubstr("the played sound was not all written: wav output '" + out + "' failed after " +
                                        seconds + " s of sound: File too large"));
  EXPECT_FALSE(r.Has("played sound written to"));
}

// Installed into a prefix, playctl plays from there (converting a piece of
// another rate to the first piece's rate).
TEST_F(PlayctlTest, InstalledIntoAPrefixPlaysFromThereConvertingAPieceOfAnotherRate) {
  const std::string prefix = tmp.File("prefix");
  const Run installed = Playctl({"--install", PLAY_BINARY_DIR, "--prefix", prefix}, PLAY_CMAKE);
  ASSERT_EQ(installed.Status, 0) << installed.Err;
  const auto tone = [&](int rate, int frames) {
    Samples s(static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i)
      s[static_cast<size_t>(i)] = static_cast<int16_t>(std::lround(12000 * std::sin(2 * M_PI * 300 * i / rate)));
    return s;
  };
  const Run r = Play({Mono16("at8k.wav", tone(8000, 800)), Mono16("at16k.wav", tone(16000, 16000), 16000)},
                     prefix + "/bin/playctl");
  EXPECT_TRUE(r.Has("wave: 1 channel(s), 16 bit, 8000 Hz, 8800 samples")) << testing::PrintToString(r.Out);
  // The second second is the same 300 Hz tone at 8000 Hz, to within the resampler's error.
  const Samples played = Recorded(out, 8800), expected = tone(8000, 8800);
  ASSERT_EQ(played.size(), 8800u);
  for (size_t i = 900; i < 8700; ++i) ASSERT_NEAR(played[i], expected[i - 800], 120) << i;
}

}  // namespace
