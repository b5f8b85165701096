#include "tools/PlaySession.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <set>

#include "platform/os/Clock.h"
#include "platform/os/File.h"
#include "tools/HostLists.h"

namespace playctl {

using nlohmann::json;

namespace {

// How the server's message box begins when its WAV output fails.
constexpr const char* kWavOutputFailure = "wav output '";

constexpr int32_t kStepMs = 250;
constexpr int32_t kWindowHandle = 1;

// Status reports that mean a command did not do what was asked.
bool IsFailureStatus(const std::string& ttl) {
  static const std::set<std::string> failures{
      "Driver is Off",       "Play Again - Failed", "Play Again Rev. - Failed", "Play Failed",
      "U-Turn Failed",       "UTurn failed",        "Play at.. failed",         "Play Buffer - Failed",
      "Sound Buffer Failed", "Failed to play",      "Nothing to Continue",      "Play Continue error",
      "Play Pause error"};
  return failures.count(ttl) != 0;
}

std::vector<std::string> ServerArgs(const SessionOptions& o) {
  std::vector<std::string> args;
  if (o.Simulate) args.push_back("--simulate");
  if (!o.Output.empty()) args.insert(args.end(), {"--output", o.Output});
  if (!o.Engine.empty()) args.insert(args.end(), {"--engines", o.Engine});
  if (o.LatencyMs >= 0) args.insert(args.end(), {"--latency-ms", std::to_string(o.LatencyMs)});
  return args;
}

}  // namespace

TempFolder::TempFolder() {
  path_ = os::files::MakeTempFolder(os::files::TempFolder(""), "playctl-");
}

TempFolder::~TempFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

PlaySession::PlaySession(const SessionOptions& options, std::ostream& out)
    : out_(out),
      simulate_(options.Simulate),
      tempDir_(options.TempDir),
      memoryBytes_(options.MemoryBytes),
      quiet_(options.Quiet),
      progress_(options.Progress),
      waveOutOnly_(options.Engine == "waveout") {
  client_ = std::make_unique<ServerClient>(
      ServerBesideMe(), ServerArgs(options),
      [this](const std::string& method, const json& params) { OnNotification(method, params); },
      [this](const std::string& line) { OnServerDiagnostic(line); });
  startMs_ = os::SteadyMs();
}

PlaySession::~PlaySession() {
  // The server's last reports still reach OnNotification, so it goes while
  // every member is alive.
  releasing_ = true;
  client_.reset();
}

double PlaySession::NowSeconds() const {
  return static_cast<double>(simulate_ ? virtualMs_ : os::SteadyMs() - startMs_) / 1000.0;
}

void PlaySession::OnNotification(const std::string& method, const json& params) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%8.3f s] ", NowSeconds());
  if (method == "MessageBox") {
    const std::string text = params.value("text", "");
    // With a status area on the screen, it goes above the area.
    if (quiet_ && onDiagnostic_) {
      onDiagnostic_(stamp + std::string("message box: ") + text);
    } else {
      out_ << stamp << "message box: " << text << std::endl;
    }
    if (outputLost_.empty() && text.rfind(kWavOutputFailure, 0) == 0) outputLost_ = text;
    return;
  }
  if (method != "MsgBoxOb") return;
  const std::string msg = params.value("Msg", "");
  const std::string ttl = params.value("Ttl", "");
  if (!quiet_) out_ << stamp << "MsgBoxOb  " << msg << "  " << ttl << std::endl;
  if (msg == "S2" && onStatus_) onStatus_(ttl);
  if (releasing_) return;
  if (msg == "S2" && ttl == "Play Done") playDone_ = true;
  if (failure_.empty() && (msg != "S2" || IsFailureStatus(ttl))) failure_ = msg == "S2" ? ttl : ttl + ": " + msg;
}

void PlaySession::OnServerDiagnostic(const std::string& line) {
  if (attaching_ && waveOutOnly_ && line.find("DirectSound") != std::string::npos) return;
  if (line.find(": warning: ") != std::string::npos || line.find(": error: ") != std::string::npos)
    troubles_.push_back(line);
  if (onDiagnostic_) {
    onDiagnostic_(line);
  } else {
    std::cerr << line << std::endl;
  }
}

void PlaySession::CheckFailure() {
  if (failure_.empty()) return;
  std::string failure = "the server reports: " + failure_;
  failure_.clear();
  for (size_t i = 0; i < troubles_.size(); ++i) failure += (i == 0 ? " (" : "; ") + troubles_[i];
  if (!troubles_.empty()) failure += ")";
  throw PlayFailure(failure);
}

void PlaySession::Prepare(const std::string& wavPath, const audio::WavInfo& wav, bool loop, float tempo) {
  EditWave wave;
  wave.Bits = wav.Bits;
  wave.Channels = wav.Channels;
  wave.Rate = wav.Rate;
  wave.Frames = wav.Frames;
  wave.Lists = BuildOrgLists(wavPath, wav);
  Prepare(wave, loop, tempo);
}

void PlaySession::Prepare(const EditWave& wave, bool loop, float tempo) {
  rate_ = wave.Rate;
  attaching_ = true;
  const json attached = Command("DxObj", {{"MFrmHwnd", kWindowHandle}});
  attaching_ = false;
  const int32_t kind = attached.value("MFrmHwnd", -1);
  if (kind < 0) throw PlayFailure("the server could not attach an engine");
  engine_ = kind == 1 ? "DirectSound" : "waveOut";
  out_ << "engine: " << engine_ << std::endl;
  Command("AppTmpDir", {{"value", tempDir_.empty() ? tmp_.Path() : tempDir_}});
  Command("MemorySizeToUse", {{"value", memoryBytes_}});
  HandOver(wave, wave.Lists, wave.Frames, loop);
  Command("PlayTempoFor", {{"value", tempo}});
  Command("PlayTempoRev", {{"value", tempo}});
}

void PlaySession::HandOver(const EditWave& wave, const HostLists& lists, int32_t frames, bool loop) {
  json params{{"FmtBits", wave.Bits}, {"FmtChannal", wave.Channels}, {"FmtFriq", wave.Rate},
              {"WaveNos", frames},    {"BlkInLstL", lists.Left}};
  if (wave.Channels == 2) params["BlkInLstR"] = lists.Right;
  Command("WriteWaveMemo", params);
  Command("LoopPlayON", {{"value", loop}});
}

json PlaySession::Command(const std::string& member, const json& params) {
  playDone_ = false;
  troubles_.clear();
  json result = client_->Call(member, params);
  CheckFailure();
  return result;
}

int32_t PlaySession::Position() { return client_->Call("PlayCurrentPosition").get<int32_t>(); }

void PlaySession::Advance(int32_t ms) {
  troubles_.clear();
  if (simulate_) {
    // Reports raised on the way are stamped with the time the step reaches.
    virtualMs_ += ms;
    virtualMs_ = client_->Call("AdvanceTime", {{"ms", ms}}).value("now_ms", virtualMs_);
  } else {
    client_->Pump(ms);
  }
  CheckFailure();
}

void PlaySession::Step(int32_t ms) {
  Advance(ms);
  if (playDone_ || !progress_) return;  // the position past the end says nothing
  const int32_t pos = Position();
  char line[96];
  std::snprintf(line, sizeof line, "[%8.3f s] position %d (%.3f s)", NowSeconds(), pos,
                rate_ > 0 ? (pos - 1) / static_cast<double>(rate_) : 0.0);
  out_ << line << std::endl;
}

void PlaySession::Pass(int32_t ms) {
  // On the virtual clock with nothing to show, the time passes in one step;
  // in real time the steps stay short, so that a failure ends the wait.
  if (!progress_ && simulate_) {
    Advance(ms);
    return;
  }
  for (int64_t done = 0; done < ms; done += kStepMs) {
    Step(static_cast<int32_t>(std::min<int64_t>(kStepMs, ms - done)));
  }
}

bool PlaySession::WaitForPlayDone(int32_t maxMs, int32_t expectedMs) {
  int64_t done = 0;
  if (!progress_ && simulate_ && expectedMs > 0) {
    // Nothing to show on the way: the time the run needs passes in one step.
    done = std::min(expectedMs, maxMs);
    Advance(static_cast<int32_t>(done));
  }
  for (; !playDone_ && done < maxMs; done += kStepMs) Step(kStepMs);
  return playDone_;
}

int PlaySession::Release() {
  releasing_ = true;
  client_->Call("Release");
  return client_->CloseAndWait();
}

}  // namespace playctl
