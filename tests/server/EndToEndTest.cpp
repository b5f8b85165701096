// End-to-end: the real playsrv binary, driven over its pipes (under
// --simulate unless told), and the command-line host playctl, which starts
// playsrv beside it; also what a failing machine does to both (termination
// signals, a full disk, a standard error nobody reads).

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <vector>

#include "blocks/HostListBuilder.h"
#include "server/TypeLibrary.h"
#include "tests/server/ChildProcess.h"
#include "tests/support/TestWorld.h"

using nlohmann::json;
using testing_support::Playsrv;
using Reports = std::vector<std::string>;
using Samples = std::vector<int16_t>;

namespace {

constexpr int32_t kRate = 8000;
constexpr int32_t kFrames = 16000;  // two seconds
constexpr int32_t kFirstBlock = 10000;

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

void Put(std::vector<uint8_t>& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void PutId(std::vector<uint8_t>& out, const char* id) { out.insert(out.end(), id, id + 4); }

// A PCM WAV whose data chunk holds `data`; an odd-sized LIST chunk comes
// before fmt and data when `listFirst`.
void WriteWav(const std::string& path, uint16_t channels, uint32_t rate, uint16_t bits, bool listFirst,
              const std::vector<uint8_t>& data) {
  std::vector<uint8_t> file;
  PutId(file, "RIFF");
  Put(file, static_cast<uint32_t>(36 + (listFirst ? 14 : 0) + data.size()), 4);
  PutId(file, "WAVE");
  if (listFirst) {
    PutId(file, "LIST");
    Put(file, 5, 4);
    file.insert(file.end(), {'I', 'N', 'F', 'O', 'x', 0});  // 5 bytes and the pad byte
  }
  PutId(file, "fmt ");
  const uint32_t align = channels * bits / 8u;
  for (const auto& [v, n] : {std::pair<uint32_t, int>{16, 4}, {1, 2}, {channels, 2}, {rate, 4}, {rate * align, 4},
                            {align, 2}, {bits, 2}})
    Put(file, v, n);
  PutId(file, "data");
  Put(file, static_cast<uint32_t>(data.size()), 4);
  file.insert(file.end(), data.begin(), data.end());
  testing_support::WriteBytes(path, file);
}

// What the wav output recorded: its canonical 44-byte header read, and a
// header whose data size is not what the file holds failing the test.
struct RecordedWav {
  int32_t Channels = 0;  // from the header's 16-bit field
  int32_t Rate = 0;
  std::vector<int16_t> Samples;  // interleaved
};
RecordedWav ReadRecordedWav(const std::string& path) {
  const std::vector<uint8_t> b = testing_support::ReadBytes(path);
  if (b.size() < 44 || std::memcmp(b.data(), "RIFF", 4) != 0 || std::memcmp(&b[36], "data", 4) != 0)
    throw std::runtime_error(path + ": not a canonical WAV");
  RecordedWav wav;
  uint32_t size = 0;  // little-endian, as the host
  std::memcpy(&wav.Channels, &b[22], 2);
  std::memcpy(&wav.Rate, &b[24], 4);
  std::memcpy(&size, &b[40], 4);
  EXPECT_EQ(size, b.size() - 44) << path << ": the header's data size is not what the file holds";
  wav.Samples.resize(std::min<size_t>(size, b.size() - 44) / 2);
  std::memcpy(wav.Samples.data(), &b[44], wav.Samples.size() * 2);
  return wav;
}

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> bytes = testing_support::ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// A ramp of `n` samples rising by one from `first`.
Samples Ramp(size_t n, int32_t first) {
  Samples s(n);
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<int16_t>(first + static_cast<int32_t>(i));
  return s;
}

// The first `n` samples the WAV output recorded (all of them when it holds fewer).
Samples Recorded(const std::string& path, size_t n) {
  Samples s = ReadRecordedWav(path).Samples;
  s.resize(std::min(s.size(), n));
  return s;
}

// playsrv and playctl runs, and the wave the playsrv sessions hand over.
class EndToEnd : public ::testing::Test {
 protected:
  EndToEnd() {
    for (int32_t i = 0; i < kFrames; ++i) {
      samples.push_back(static_cast<int16_t>((i * 7) % 20000 - 10000));
      samples.push_back(static_cast<int16_t>(12000 - (i * 13) % 24000));
    }
    testing_support::WriteSamples(wavPath, samples);
  }

  // The wave as two Orgfile blocks per channel, read in place from a raw file.
  json WaveParams() const {
    auto list = [&](int32_t channelOffset) {
      return blocks::HostListBuilder()
          .AddWavFile(wavPath, kFirstBlock, 1 + channelOffset, 2, 16)
          .AddWavFile(wavPath, kFrames - kFirstBlock, 1 + kFirstBlock * 4 + channelOffset, 2, 16)
          .Elements();
    };
    return {{"FmtBits", 16}, {"FmtChannal", 2}, {"FmtFriq", kRate}, {"WaveNos", kFrames},
            {"BlkInLstL", list(0)}, {"BlkInLstR", list(2)}};
  }

  struct Run {
    int Status;
    std::vector<std::string> Out;
    std::string Err;
    bool Has(const std::string& text) const {
      return std::any_of(Out.begin(), Out.end(), [&](const std::string& l) { return l.find(text) != l.npos; });
    }
  };
  // Runs playctl (or `program`) with `args` to its end.
  Run Playctl(const std::vector<std::string>& args, const std::string& program = PLAY_BINARY_DIR "/playctl",
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
    r.Err = ReadText(tmp.File("stderr"));
    return r;
  }
  // `playctl play ARGS` on the virtual clock into the WAV output, which must succeed.
  Run Play(std::vector<std::string> args, const std::string& program = PLAY_BINARY_DIR "/playctl") {
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
  std::string wavPath = tmp.File("wave.raw");
  std::string out = tmp.File("played.wav");
  std::vector<int16_t> samples;
};

// Malformed lines of each kind (every seventh line is garbage instead), with
// the error code each answer must carry ("" for no answer at all). The kinds
// the request-line and endpoint tests read (syntax, nesting, ids, batches)
// are there, nearer the fault.
const std::vector<std::pair<std::string, std::string>> kMalformed{
    {"[]", "-32600"},
    {R"({"jsonrpc":"2.0","id":1,"method":"NoSuchMember"})", "-32601"},
    {R"({"jsonrpc":"2.0","id":2,"method":"DxObj","params":{"MFrmHwnd":"1"}})", "-32602"},
    // Two channels need a right list.
    {R"({"jsonrpc":"2.0","id":3,"method":"WriteWaveMemo","params":{"FmtBits":16,"FmtChannal":2,"FmtFriq":8000,)"
     R"("WaveNos":1,"BlkInLstL":[0]}})",
     "-32602"},
    {R"({"jsonrpc":"2.0","method":"NoSuchMember"})", ""},
    {" \t ", ""}};

// A thousand malformed lines, then a session that plays the wave to its end,
// starts it again and ends with its input while the wave plays: the object is
// destroyed (its reports, and no answer without a request), the process ends
// with status 0 and the wav output holds what sounded.
TEST_F(EndToEnd, AThousandMalformedLinesThenASessionEndedByItsInput) {
  Playsrv s({"--simulate", "--output", "wav:" + out});
  std::string input;
  std::vector<std::string> expected;
  for (int i = 0; i < 1000; ++i) {
    std::string garbage = "#";  // never JSON, and bytes of every value but '\n'
    for (int k = 0; k <= i % 37; ++k) garbage.push_back(static_cast<char>(1 + (i * 31 + k * 17) % 255));
    std::replace(garbage.begin(), garbage.end(), '\n', 'x');
    const auto [line, code] = i % 7 == 0 ? std::pair<std::string, std::string>{garbage, "-32700"}
                                         : kMalformed[static_cast<size_t>(i % 7 - 1)];
    input += line + "\n";
    if (!code.empty()) expected.push_back(code);
  }
  // Written while the answers are read, so that neither pipe fills up.
  std::thread writer([&] { s.SendRaw(input); });
  std::vector<std::string> got;
  std::string line;
  while (got.size() < expected.size() && s.ReadLine(line))
    got.push_back(std::to_string(json::parse(line)["error"]["code"].get<int>()));
  writer.join();
  EXPECT_EQ(got, expected);
  EXPECT_EQ(s.Result("DxObj", {{"MFrmHwnd", 5}}), json({{"MFrmHwnd", 1}}));
  EXPECT_TRUE(s.Result("AppTmpDir", {{"value", tmp.Path()}}).is_null());
  EXPECT_TRUE(s.Result("MemorySizeToUse", {{"value", 1 << 20}}).is_null());

  // A wave whose file is gone: PlayAtPos has no error handler, so the
  // run-time error is the call's answer.
  json wave = WaveParams();
  const std::string missing = tmp.File("gone.wav");
  wave["BlkInLstL"] = blocks::HostListBuilder().AddWavFile(missing, kFrames, 45, 2, 16).Elements();
  wave["BlkInLstR"] = wave["BlkInLstL"];
  EXPECT_EQ(Playsrv::Reports(s.Call("WriteWaveMemo", wave).Notifications).back(), "Done");
  const json failed = s.Call("PlayAtPos", {{"Pos", 100}}).Answer;
  EXPECT_EQ(failed["error"]["code"], -32000);
  EXPECT_NE(failed["error"]["message"].get<std::string>().find(missing), std::string::npos) << failed;

  auto ex = s.Call("WriteWaveMemo", WaveParams());
  EXPECT_EQ(Playsrv::Reports(ex.Notifications), (Reports{"Writing to Play Buffer", "Stopped", "Done"}));
  EXPECT_TRUE(ex.Answer["result"].is_null());
  EXPECT_EQ(Playsrv::Reports(s.Call("PlayAgain").Notifications), (Reports{"Playing"}));
  EXPECT_EQ(s.Result("AdvanceTime", {{"ms", 1000}}), json({{"now_ms", 1000}}));
  EXPECT_EQ(s.Result("PlayCurrentPosition"), kRate);
  EXPECT_EQ(s.Result("PlayRunningDx7State"), 1);
  ex = s.Call("AdvanceTime", {{"ms", 1500}});
  EXPECT_EQ(Playsrv::Reports(ex.Notifications), (Reports{"Play Done"}));
  EXPECT_EQ(ex.Answer["result"]["now_ms"], 2500);
  EXPECT_EQ(s.Result("PlayRunningDx7State"), 0);

  EXPECT_EQ(Playsrv::Reports(s.Call("PlayAgain").Notifications), (Reports{"Playing"}));
  s.Result("AdvanceTime", {{"ms", 500}});
  EXPECT_EQ(s.Result("PlayCurrentPosition"), kRate / 2);
  s.CloseInput();
  std::vector<json> rest;
  for (const std::string& l : s.ReadToEnd()) rest.push_back(json::parse(l));
  EXPECT_EQ(Playsrv::Reports(rest), (Reports{"Stopped", "Driver is Off"}));
  EXPECT_EQ(rest.size(), 2u);
  EXPECT_EQ(s.Wait(), 0);
  // The whole wave, silence until the second start, then half a second of the wave.
  const auto played = ReadRecordedWav(out);
  EXPECT_EQ(played.Channels, 2);
  EXPECT_EQ(played.Rate, kRate);
  ASSERT_GE(played.Samples.size(), samples.size() + kRate);
  std::vector<int16_t> heard = samples;
  heard.resize(played.Samples.size() - kRate);
  heard.insert(heard.end(), samples.begin(), samples.begin() + kRate);
  EXPECT_EQ(played.Samples, heard);
}

TEST_F(EndToEnd, DescribeAnswersTheInterfaceDescriptionAndEveryMemberIsServed) {
  Playsrv s;
  const json d = s.Result("Describe");
  EXPECT_EQ(d, server::Describe());
  ASSERT_FALSE(d["interfaces"][0]["members"].empty());
  // Called without params, a member may refuse them, but none may be unknown.
  for (const json& m : d["interfaces"][0]["members"])
    EXPECT_NE(s.Call(m["name"]).Answer.value(json::json_pointer("/error/code"), 0), -32601) << m["name"];
  EXPECT_EQ(s.Call("Describe", {{"all", true}}).Answer["error"]["code"], -32602);
}

// Under the real clock, with a standard error nobody reads (a FIFO read only
// when the test says), ended by Release amid requests; and an option refused.
TEST_F(EndToEnd, OptionsChooseTheClockAndTheEnginesAndAFullErrorOutputNeverHoldsTheServer) {
  os::Process::Options options;
  options.Args = {"--output", "null", "--engines", "waveout"};
  options.Errors = os::Process::ErrorOutput::Pipe;
  Playsrv s(options);
  EXPECT_EQ(s.Call("AdvanceTime", {{"ms", 10}}).Answer["error"]["code"], -32601);
  // Each DxObj logs why the DirectSound 7 engine was refused: far more than a pipe holds.
  for (int i = 0; i < 3000; ++i) ASSERT_EQ(s.Result("DxObj", {{"MFrmHwnd", 3}}), json({{"MFrmHwnd", 2}}));
  const auto drain = [&s] { return s.Process().ReadErrorOutput(); };  // everything in the pipe now
  EXPECT_EQ(drain().back(), '\n') << "only whole lines";
  EXPECT_EQ(s.Result("DxObj", {{"MFrmHwnd", 3}}), json({{"MFrmHwnd", 2}}));
  const std::string after = drain();
  EXPECT_EQ(after.rfind("playsrv: warning: ", 0), 0u) << after;
  EXPECT_THAT(after, testing::HasSubstr(" diagnostic lines were dropped because the error output was full\n"));
  // Release, with three more requests in the same write: the report of
  // destruction, then every request answered, then the end with status 0.
  std::string input;
  int id = 100;
  for (const char* m : {"Release", "Release", "PlayAgain", "Describe"})
    input += json{{"jsonrpc", "2.0"}, {"id", ++id}, {"method", m}}.dump() + "\n";
  s.SendRaw(input);
  std::vector<json> last;
  for (const std::string& l : s.ReadToEnd()) last.push_back(json::parse(l));
  ASSERT_EQ(last.size(), 5u);
  EXPECT_EQ(Playsrv::Reports({last[0]}), Reports{"Driver is Off"});
  EXPECT_EQ(last[1], json::parse(R"({"jsonrpc":"2.0","id":101,"result":null})"));
  EXPECT_EQ(last[2], json::parse(R"({"jsonrpc":"2.0","id":102,"error":)"
                                R"({"code":-32000,"message":"Release: the object has been released"}})"));
  EXPECT_EQ(last[3]["error"]["code"], -32000);
  EXPECT_EQ(last[4]["result"]["name"], "RivuvaRurarozUvi");
  EXPECT_EQ(s.Wait(), 0);

  Playsrv bad({"--engines", "dx9,dx10"}, tmp.File("bad"));
  EXPECT_EQ(bad.Wait(), 2);
  EXPECT_THAT(ReadText(tmp.File("bad")), testing::HasSubstr("unknown engine 'dx10'"));
}

TEST_F(EndToEnd, RefusesWhatItCannotPlayBeforeTheServerStartsNamingThePiece) {
  const std::string six = tmp.File("six.wav"), mono = tmp.File("mono.wav"), junk = tmp.File("junk.wav");
  WriteWav(six, 6, 8000, 16, true, std::vector<uint8_t>(1200, 1));
  WriteWav(mono, 1, 8000, 16, false, std::vector<uint8_t>(16000, 1));  // one second
  testing_support::WriteBytes(junk, {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', '!'});
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{six}, six + ": 6 channels; only mono or stereo plays (pick one or two with --channels"},
      {{six, "--channels", "2,7"}, six + ": --channels names channel 7 of a file of 6 channels"},
      {{junk}, junk + ": "},
      {{mono, tmp.File("missing.flac")}, tmp.File("missing.flac") + ": no such file"},
      {{mono + "@0.5-1.5"}, mono + "@0.5-1.5: the range lies beyond the end of the file (1.000 s)"},
      {{"silence:0.5"}, "an edit list needs at least one sound file"},
      {{mono, "--from", "1.0"}, "--from 1.000000 lies beyond the end of the wave"},
      {{mono, "--loop", "--seconds", "3000000"}, "--seconds"},
      {{mono, "--script", "wait 1; jump"}, "--script: unknown step \"jump\""},
  };
  for (const auto& [args, message] : cases) {
    std::vector<std::string> all{"play", "--simulate"};
    all.insert(all.end(), args.begin(), args.end());
    const Run r = Playctl(all);
    EXPECT_EQ(r.Status, 2) << message;
    EXPECT_NE(r.Err.find(message), std::string::npos) << r.Err;
    EXPECT_FALSE(r.Has("engine:")) << "no server was started for " << message;
  }
  // The six-channel file (its LIST chunk first) plays once two of its channels are picked.
  Play({six, "--channels", "2,5"});
  EXPECT_EQ(ReadRecordedWav(out).Channels, 2);
}

TEST_F(EndToEnd, DecodesAnySoundFileToItsSixteenBitRoundingAndCountsClips) {
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

TEST_F(EndToEnd, PlaysAnEditListOfMixedPiecesBackwardsAndThroughAUTurn) {
  // A stereo FLAC (decoded), silence, an 8-bit mono WAV (decoded to 16 bit
  // among 16-bit pieces) and a 16-bit mono WAV read in place: mono plays on both sides.
  std::vector<int32_t> flac(2 * 4000);
  for (size_t i = 0; i < flac.size(); ++i) flac[i] = static_cast<int32_t>((i * 13 % 60000) - 30000) << 16;
  WriteSound(tmp.File("a.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 2, flac);
  std::vector<uint8_t> eight(1000);
  for (size_t i = 0; i < eight.size(); ++i) eight[i] = static_cast<uint8_t>(i * 7);
  WriteWav(tmp.File("b.wav"), 1, 8000, 8, false, eight);
  const Samples sixteen = Ramp(3000, -20000);
  Mono16("c.wav", sixteen, 8000, true);

  Samples wave;  // interleaved, forwards
  for (size_t i = 2 * 2000; i < 2 * 4000; ++i) wave.push_back(static_cast<int16_t>(flac[i] >> 16));
  wave.insert(wave.end(), 2 * 1000, 0);
  for (uint8_t b : eight) wave.insert(wave.end(), 2, static_cast<int16_t>((b - 128) * 256));
  for (size_t f = 800; f < 3000; ++f) wave.insert(wave.end(), 2, sixteen[f]);

  const std::vector<std::string> pieces{tmp.File("a.flac") + "@0.25-0.5", "silence:0.125", tmp.File("b.wav"),
                                        tmp.File("c.wav") + "@0.1-"};
  const Run r = Play({pieces[0], pieces[1], pieces[2], pieces[3], "--reverse"});
  EXPECT_TRUE(r.Has("wave: 2 channel(s), 16 bit, 8000 Hz, 6200 samples"));
  EXPECT_TRUE(r.Has("c.wav@0.1-: 1 channel(s), 16 bit, 8000 Hz, 2200 samples, read in place"));
  Samples backwards;  // the wave's frames, the last first
  for (size_t f = wave.size() / 2; f-- > 0;) backwards.insert(backwards.end(), {wave[2 * f], wave[2 * f + 1]});
  EXPECT_EQ(Recorded(out, wave.size()), backwards);

  // Forwards with a U-turn after 0.5 s (4000 frames, inside the 8-bit piece): back to the start.
  Play({pieces[0], pieces[1], pieces[2], pieces[3], "--script", "wait 0.5; u"});
  Samples turned(wave.begin(), wave.begin() + 2 * 4000);  // frames 0..3999, then 3999 back to 0
  turned.insert(turned.end(), backwards.end() - 2 * 4000, backwards.end());
  EXPECT_EQ(Recorded(out, turned.size()), turned);
}

TEST_F(EndToEnd, PlaysAnEightBitFileInPlaceBackwardsAcrossItsTwoBlocks) {
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

TEST_F(EndToEnd, ScriptedKeysSteerTheRunFrameForFrameAndASignalOrAFullDiskEndsIt) {
  const std::string wav = Mono16("ramp.wav", Ramp(32000, -16000));  // 4 s at 8000 Hz, 64000 bytes of sound

  // 1 s forward; U-turn; 0.5 s back; pause 0.5 s (nothing sounds); 0.25 s
  // back; right: 5 s further in the present direction, clamped to the end;
  // 0.25 s; stop; End: backwards from the end; tempo and loop wait for the
  // next start; quit.
  Run r = Play({wav, "--script",
                "wait 1.0; u; wait 0.5; space; wait 0.5; space; wait 0.25; right; wait 0.25; s; wait 0.1; "
                "end; wait 0.2; l; +; wait 0.3; q"});
  Samples heard;  // frames 0..7999, 7999 back to 2000, 31999 back to 30000, 31999 back to 28000
  for (const auto& [from, to] : {std::pair{0, 7999}, {7999, 2000}, {31999, 30000}, {31999, 28000}})
    for (int32_t f = from; f != to + (to > from ? 1 : -1); f += to > from ? 1 : -1)
      heard.push_back(static_cast<int16_t>(f - 16000));
  EXPECT_EQ(ReadRecordedWav(out).Samples, heard);
  EXPECT_TRUE(r.Has("[   1.750 s] 0:00.500 / 0:04.000  reverse  paused  tempo 1.00"));
  EXPECT_TRUE(r.Has("[   2.750 s] 0:03.850 / 0:04.000  reverse  playing  tempo 1.00"));
  EXPECT_TRUE(r.Has("[   3.000 s] 0:03.600 / 0:04.000  reverse  playing  loop on  tempo 1.10"));

  // Tempo and loop switch set, then Home: the run plays at 1.1 and loops.
  r = Playctl({"play", wav, "--simulate", "--script", "+; l; home; wait 4.5; q; u"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(r.Has("[   1.000 s] 0:01.099 / 0:04.000  forward  looping  loop on  tempo 1.10"))
      << testing::PrintToString(r.Out);
  EXPECT_TRUE(r.Has("forward  looping (1)  loop on  tempo 1.10"));
  EXPECT_FALSE(r.Has("key u")) << "nothing runs after q";

  // Each termination signal stops both programs with the WAV header true; a
  // full disk under the WAV output is told and fails the run.
  for (int signo : {SIGTERM, SIGINT, SIGHUP}) {
    testing_support::ChildProcess p(PLAY_BINARY_DIR "/playctl", {"play", wav, "--output", "wav:" + out},
                                    tmp.File("stderr"));
    std::string line;
    while (p.ReadLine(line) && line.find("position") == std::string::npos) {
    }
    p.SignalGroup(signo);  // playctl and the server it started, as Ctrl-C in a shell
    EXPECT_EQ(p.Wait(), 128 + signo) << ReadText(tmp.File("stderr"));
    EXPECT_GT(ReadRecordedWav(out).Samples.size(), 0u) << "signal " << signo;  // and the header true
  }

  // The children may write files of at most 60000 bytes, and get EFBIG beyond.
  r = Playctl({"play", wav, "--simulate", "--output", "wav:" + out}, PLAY_BINARY_DIR "/playctl", 60000);
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

TEST_F(EndToEnd, KeysOnARealTerminalSteerTheRunAndTheTerminalIsRestored) {
  const std::string wav = Mono16("ramp.wav", Ramp(60000, -30000));  // 7.5 s at 8000 Hz
  os::Process::Options options;
  options.Args = {"play", wav, "--simulate"};
  options.OnTerminal = true;
  os::Process p(PLAY_BINARY_DIR "/playctl", options);
  std::string screen;
  // Reads the terminal until `text` shows from screen[from] on (false after 30 s or at its end).
  const auto waitFor = [&](const std::string& text, size_t from) {
    for (int rounds = 0; rounds < 300; ++rounds) {
      if (screen.find(text, from) != std::string::npos) return true;
      if (p.ReadSome(screen, 100) == os::Input::End) return false;
    }
    return false;
  };
  ASSERT_TRUE(waitFor("0:01.", 0)) << screen;
  const auto raw = p.ChildTerminalMode();
  ASSERT_TRUE(raw.has_value());
  EXPECT_FALSE(raw->EditsLines || raw->Echoes) << "keys are read one by one, not echoed";
  const size_t mark = screen.size();
  ASSERT_TRUE(p.Send("u"));
  EXPECT_TRUE(waitFor("reverse  playing", mark)) << screen.substr(mark);
  ASSERT_TRUE(p.Send("q"));
  while (waitFor("\x01", screen.size())) {
  }  // to the end of its output
  EXPECT_EQ(p.Wait(30000), 0);
  const auto after = p.ChildTerminalMode();
  ASSERT_TRUE(after.has_value());
  EXPECT_TRUE(after->EditsLines && after->Echoes) << "the terminal is restored";
}

// Installed into a prefix, playctl plays from there (converting a piece of
// another rate to the first piece's rate), and both programs tell one version.
TEST_F(EndToEnd, InstalledIntoAPrefixPlaysFromThereConvertingAPieceOfAnotherRate) {
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

  const Run ctl = Playctl({"--version"}, prefix + "/bin/playctl");
  const Run srv = Playctl({"--version"}, prefix + "/bin/playsrv");
  ASSERT_EQ(ctl.Out.size(), 1u);
  ASSERT_EQ(srv.Out.size(), 1u);
  EXPECT_EQ(ctl.Out[0].substr(ctl.Out[0].find(' ')), srv.Out[0].substr(srv.Out[0].find(' ')));
}

}  // namespace
