#include "tools/Commands.h"

#include <cmath>
#include <filesystem>
#include <functional>
#include <iostream>
#include <limits>

#include <optional>

#include "platform/os/Stdio.h"
#include "platform/os/Terminal.h"
#include "tools/DemoTune.h"
#include "tools/EditList.h"
#include "tools/PlaySession.h"
#include "tools/ProgressBar.h"
#include "tools/ServerClient.h"
#include "tools/Transport.h"
#include "platform/audio/WavFile.h"

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

void Warn(const std::string& what) { std::cerr << "playctl: warning: " << what << '\n'; }

// Starts the run as asked: from the start (or end), or at a position.
void Start(PlaySession& session, const PlayOptions& o, const EditWave& wav) {
  if (o.FromSeconds < 0) {
    session.Command(o.Reverse ? "PlayAgainRev" : "PlayAgain");
    return;
  }
  const auto pos = static_cast<int32_t>(std::llround(o.FromSeconds * wav.Rate)) + 1;
  session.Command(o.Reverse ? "PlayAtPosRev" : "PlayAtPos", {{"Pos", pos}});
}

// Milliseconds the run needs at most: the part to play at the tempo, plus slack.
int32_t RunLengthMs(const PlayOptions& o, const EditWave& wav) {
  double samples = wav.Frames;
  if (o.FromSeconds >= 0) {
    const double at = o.FromSeconds * wav.Rate;
    samples = o.Reverse ? at : wav.Frames - at;
  }
  const double ms = samples / wav.Rate / std::max(0.01, o.Tempo) * 1000 + kSlackMs;
  return static_cast<int32_t>(std::min(ms, static_cast<double>(std::numeric_limits<int32_t>::max())));
}

// Ends the session (the object released, the server gone) and says where the
// sound went; 1 when the server failed or the output lost frames.
int EndSession(PlaySession& session, const std::string& output, std::ostream& out) {
  const int serverStatus = session.Release();
  const std::string& lost = session.OutputLost();
  if (serverStatus != 0) return Fail("playsrv ended with status " + std::to_string(serverStatus), 1);
  if (!lost.empty()) return Fail("the played sound was not all written: " + lost, 1);
  for (size_t at = 0; at < output.size();) {
    const size_t comma = std::min(output.find(',', at), output.size());
    if (output.compare(at, 4, "wav:") == 0)
      out << "played sound written to " << output.substr(at + 4, comma - at - 4) << std::endl;
    at = comma + 1;
  }
  return 0;
}

// Runs the part of a command that talks to the server: a termination signal
// ends it with 128 + the signal, any other failure with 1.
int Guarded(const std::function<int()>& body) {
  try {
    return body();
  } catch (const Interrupted& e) {
    return Fail(e.what(), 128 + e.Signal());
  } catch (const std::exception& e) {
    return Fail(e.what(), 1);
  }
}

// Reads, checks and (where needed) decodes the pieces into `folder`.
// Refusals print and give status 2 without a wave.
std::optional<EditWave> MakeWave(const PlayOptions& o, const std::string& folder, std::ostream& out) {
  try {
    std::vector<Piece> pieces;
    for (const std::string& text : o.Pieces) pieces.push_back(ParsePiece(text, AbsolutePath));
    const EditList list(std::move(pieces), o.Channels);
    for (const std::string& line : list.Describe()) out << line << std::endl;
    if (!o.Channels.empty() && !list.PickUsed())
      Warn("--channels does not apply: it picks channels of files of more than two, and no piece has more");
    EditWave wave;
    {
      ProgressBar bar(std::cerr, os::IsTerminal(os::kStandardError));  // its line ends before ours
      wave = list.Build(folder, [&bar](const std::string& piece, double share) { bar.Show(piece, share); });
    }
    if (wave.Clipped > 0) out << wave.Clipped << " sample(s) clipped to the 16-bit range" << std::endl;
    for (const std::string& damage : wave.Damaged) Warn(damage + "; the part that is there plays");
    return wave;
  } catch (const std::exception& e) {
    Fail(e.what(), 2);
    return std::nullopt;
  }
}

}  // namespace

std::string AbsoluteOutput(const std::string& output) {
  std::string result;
  for (size_t at = 0; at <= output.size();) {
    const size_t comma = std::min(output.find(',', at), output.size());
    const std::string one = output.substr(at, comma - at);
    result += (one.rfind("wav:", 0) == 0 && one.size() > 4 ? "wav:" + AbsolutePath(one.substr(4)) : one);
    if (comma < output.size()) result += ',';
    at = comma + 1;
  }
  return result;
}

bool ParseChannels(const std::string& text, std::vector<int32_t>& channels) {
  channels.clear();
  size_t at = 0;
  while (at <= text.size() && channels.size() < 3) {
    const size_t comma = std::min(text.find(',', at), text.size());
    const std::string part = text.substr(at, comma - at);
    if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos) return false;
    channels.push_back(std::stoi(part));
    if (channels.back() < 1) return false;
    at = comma + 1;
  }
  return !channels.empty() && channels.size() <= 2;
}

namespace {

// Plays the prepared wave steered by a script and/or the terminal's keys.
void RunSteered(PlaySession& session, const PlayOptions& o, const EditWave& wave,
                const std::vector<ScriptStep>& script, bool terminal, std::ostream& out) {
  TransportSetup setup;
  setup.Wave = &wave;
  setup.Reverse = o.Reverse;
  setup.Loop = o.Loop;
  setup.Tempo = o.Tempo;
  setup.TempoApplies = session.EngineName() != "waveOut";
  setup.Simulate = o.Simulate;
  setup.Terminal = terminal;
  setup.Progress = o.Progress;
  setup.KeepOpen = o.KeepOpen;
  setup.Output = o.Output;
  setup.AfterScriptMs = o.Loop ? static_cast<int64_t>(o.Seconds * 1000) : RunLengthMs(o, wave);
  std::optional<TerminalKeys> keys;
  if (terminal) {
    keys.emplace(os::kStandardInput);
    out << "keys: space pause/continue, u U-turn, arrows -/+5 s, Home/End, [ ] select, x unselect, l loop, "
           "g go to, ',' '.' step while paused, +/- tempo, s stop, q quit"
        << std::endl;
  }
  Transport transport(session, setup, out);
  transport.Run(script, keys ? &*keys : nullptr);
}

}  // namespace

int RunPlay(const PlayOptions& o, std::ostream& out) {
  if (!(o.Tempo > 0)) return Fail("--tempo must be greater than 0", 2);
  std::vector<ScriptStep> script;
  try {
    script = ParseScript(o.Script);
  } catch (const std::exception& e) {
    return Fail(e.what(), 2);
  }
  const bool terminal = o.Keys && os::IsTerminal(os::kStandardInput) && os::IsTerminal(os::kStandardOutput);
  std::optional<TempFolder> folder;
  try {
    folder.emplace();
  } catch (const std::exception& e) {
    return Fail(e.what(), 1);
  }
  const std::optional<EditWave> made = MakeWave(o, folder->Path(), out);
  if (!made) return 2;
  const EditWave& wave = *made;
  if (o.FromSeconds >= 0 && o.FromSeconds * wave.Rate >= wave.Frames)
    return Fail("--from " + std::to_string(o.FromSeconds) + " lies beyond the end of the wave", 2);
  out << "wave: " << wave.Channels << " channel(s), " << wave.Bits << " bit, " << wave.Rate << " Hz, "
      << wave.Frames << " samples" << std::endl;
  const std::string output = AbsoluteOutput(o.Output);
  return Guarded([&] {
    PlaySession session({output, o.Engine, o.Simulate, 64 << 20, folder->Path(), terminal, o.LatencyMs, o.Progress},
                        out);
    session.Prepare(wave, o.Loop, static_cast<float>(o.Tempo));
    if (session.EngineName() == "waveOut" && o.Tempo != 1.0)
      Warn("--tempo does not apply: the waveOut engine plays at the wave's own rate");
    Start(session, o, wave);
    if (terminal || !script.empty()) {
      RunSteered(session, o, wave, script, terminal, out);
    } else if (o.Loop) {
      session.Pass(static_cast<int32_t>(o.Seconds * 1000));
      session.Command("StopPlay");
    } else if (!session.WaitForPlayDone(RunLengthMs(o, wave), RunLengthMs(o, wave) - kSlackMs)) {
      return Fail("no \"Play Done\" report within the length of the wave", 1);
    }
    const int status = EndSession(session, output, out);
    return status == 0 && !wave.Damaged.empty() ? kStatusDamaged : status;
  });
}

int RunDevices(std::ostream& out) {
  out << "virtual         simulated output on the server's clock (with --simulate)\n"
      << "null            consumes the sound in real time and discards it\n"
      << "wav:PATH        writes every frame played to a 16-bit WAV file\n";
  std::vector<std::string> cards;
  std::string server;
  try {
    server = ServerBesideMe();
  } catch (const std::exception& e) {
    return Fail(e.what(), 1);
  }
  if (!ListServerDevices(server, cards)) {
    std::cerr << "playctl: " << server << " --list-devices lists no sound card\n";
  } else if (!cards.empty()) {
    out << "device          the first sound system that opens: jack, pipewire, pulse, alsa\n";
    for (const std::string& card : cards) {
      // "NAME<tab>DESCRIPTION", the description optional.
      const size_t tab = card.find('\t');
      out << "device:" << card.substr(0, tab);
      if (tab != std::string::npos) out << "  " << card.substr(tab + 1);
      out << '\n';
    }
  }
  out << "Several outputs at once: a comma-separated list, e.g. device,wav:take.wav" << std::endl;
  return 0;
}

int RunDemo(const DemoOptions& o, std::ostream& out) {
  const std::string output = AbsoluteOutput(o.Output);
  return Guarded([&] {
    TempFolder folder;
    const std::string tune = folder.Path() + "/demo-tune.wav";
    audio::WriteWav16(tune, 2, kDemoRate, SynthesizeDemoTune(kDemoRate));
    const audio::WavInfo wav = audio::ReadWavHeader(tune);
    out << "demo tune: " << tune << " (" << kDemoTuneSeconds << " s, stereo, 16 bit, " << kDemoRate << " Hz)"
        << std::endl;
    PlaySession session({output, "", o.Simulate, 64 << 20, ""}, out);
    session.Prepare(tune, wav, false, 1.0f);
    out << "-- forward from the start" << std::endl;
    session.Command("PlayAgain");
    session.Pass(1000);
    out << "-- U-turn at position " << session.Position() << std::endl;
    session.Command("PlayUTurn");
    if (!session.WaitForPlayDone(1000 + kSlackMs)) return Fail("no \"Play Done\" report after the U-turn", 1);
    out << "-- back at the start" << std::endl;
    return EndSession(session, output, out);
  });
}

}  // namespace playctl
