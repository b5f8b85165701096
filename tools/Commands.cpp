#include "tools/Commands.h"

#include <cmath>
#include <filesystem>
#include <iostream>
#include <limits>

#include "tools/DemoTune.h"
#include "tools/PlaySession.h"
#include "tools/WavFile.h"

namespace playctl {

namespace {

constexpr int32_t kDemoRate = 44100;
constexpr int32_t kSlackMs = 5000;

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  const auto abs = std::filesystem::absolute(path, ec);
  return ec ? path : abs.lexically_normal().string();
}

int Fail(const std::string& what, int status) {
  std::cerr << "playctl: " << what << '\n';
  return status;
}

// Starts the run as asked: from the start (or end), or at a position.
void Start(PlaySession& session, const PlayOptions& o, const WavInfo& wav) {
  if (o.FromSeconds < 0) {
    session.Command(o.Reverse ? "PlayAgainRev" : "PlayAgain");
    return;
  }
  const auto pos = static_cast<int32_t>(std::llround(o.FromSeconds * wav.Rate)) + 1;
  session.Command(o.Reverse ? "PlayAtPosRev" : "PlayAtPos", {{"Pos", pos}});
}

// Milliseconds the run needs at most: the part to play at the tempo, plus slack.
int32_t RunLengthMs(const PlayOptions& o, const WavInfo& wav) {
  double samples = wav.Frames;
  if (o.FromSeconds >= 0) {
    const double at = o.FromSeconds * wav.Rate;
    samples = o.Reverse ? at : wav.Frames - at;
  }
  const double ms = samples / wav.Rate / std::max(0.01, o.Tempo) * 1000 + kSlackMs;
  return static_cast<int32_t>(std::min(ms, static_cast<double>(std::numeric_limits<int32_t>::max())));
}

int ReportEnd(int serverStatus, const std::string& output, const std::string& lost, std::ostream& out) {
  if (serverStatus != 0) return Fail("playsrv ended with status " + std::to_string(serverStatus), 1);
  if (!lost.empty()) return Fail("the played sound is not all in " + output.substr(4) + ": " + lost, 1);
  if (output.rfind("wav:", 0) == 0) out << "played sound written to " << output.substr(4) << std::endl;
  return 0;
}

}  // namespace

std::string AbsoluteOutput(const std::string& output) {
  if (output.rfind("wav:", 0) != 0 || output.size() == 4) return output;
  return "wav:" + AbsolutePath(output.substr(4));
}

int RunPlay(const PlayOptions& o, std::ostream& out) {
  WavInfo wav;
  const std::string path = AbsolutePath(o.File);
  try {
    wav = ReadWavHeader(path);
  } catch (const std::exception& e) {
    return Fail(e.what(), 2);
  }
  if (o.FromSeconds >= 0 && o.FromSeconds * wav.Rate >= wav.Frames)
    return Fail("--from " + std::to_string(o.FromSeconds) + " lies beyond the end of " + path, 2);
  if (!(o.Tempo > 0)) return Fail("--tempo must be greater than 0", 2);
  out << path << ": " << wav.Channels << " channel(s), " << wav.Bits << " bit, " << wav.Rate << " Hz, "
      << wav.Frames << " samples" << std::endl;
  const std::string output = AbsoluteOutput(o.Output);
  try {
    PlaySession session({output, o.Engine, o.Simulate}, out);
    session.Prepare(path, wav, o.Loop, static_cast<float>(o.Tempo));
    Start(session, o, wav);
    if (o.Loop) {
      session.Pass(static_cast<int32_t>(o.Seconds * 1000));
      session.Command("StopPlay");
    } else if (!session.WaitForPlayDone(RunLengthMs(o, wav))) {
      return Fail("no \"Play Done\" report within the length of the wave", 1);
    }
    const int status = session.Release();
    return ReportEnd(status, output, session.OutputLost(), out);
  } catch (const Interrupted& e) {
    return Fail(e.what(), 128 + e.Signal());
  } catch (const std::exception& e) {
    return Fail(e.what(), 1);
  }
}

int RunDemo(const DemoOptions& o, std::ostream& out) {
  const std::string output = AbsoluteOutput(o.Output);
  try {
    TempFolder folder;
    const std::string tune = folder.Path() + "/demo-tune.wav";
    WriteWav16(tune, 2, kDemoRate, SynthesizeDemoTune(kDemoRate));
    const WavInfo wav = ReadWavHeader(tune);
    out << "demo tune: " << tune << " (" << kDemoTuneSeconds << " s, stereo, 16 bit, " << kDemoRate << " Hz)"
        << std::endl;
    PlaySession session({output, "", o.Simulate}, out);
    session.Prepare(tune, wav, false, 1.0f);
    out << "-- forward from the start" << std::endl;
    session.Command("PlayAgain");
    session.Pass(1000);
    out << "-- U-turn at position " << session.Position() << std::endl;
    session.Command("PlayUTurn");
    if (!session.WaitForPlayDone(1000 + kSlackMs)) return Fail("no \"Play Done\" report after the U-turn", 1);
    out << "-- back at the start" << std::endl;
    const int status = session.Release();
    return ReportEnd(status, output, session.OutputLost(), out);
  } catch (const Interrupted& e) {
    return Fail(e.what(), 128 + e.Signal());
  } catch (const std::exception& e) {
    return Fail(e.what(), 1);
  }
}

}  // namespace playctl
