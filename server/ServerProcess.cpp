#include "server/ServerProcess.h"

#include <memory>
#include <string>
#include <vector>

#include "facade/PlayDllClass.h"
#include "facade/RealEngines.h"
#include "platform/audio/AudioBackend.h"
#include "platform/audio/AudioOutputs.h"
#include "platform/audio/DeviceOutput.h"
#include "platform/audio/SlavedClock.h"
#include "platform/os/Clock.h"
#include "platform/os/EventLoop.h"
#include "platform/os/File.h"
#include "platform/os/Log.h"
#include "platform/os/MessageBox.h"
#include "platform/os/Process.h"
#include "platform/os/Signals.h"
#include "platform/os/Stdio.h"
#include "server/JsonRpcEndpoint.h"
#include "server/LineSplitter.h"
#include "server/PlayService.h"
#include "server/RpcError.h"

namespace server {

namespace {

constexpr size_t kMaxLineBytes = 64u << 20;
constexpr size_t kReadBytes = 64u << 10;
constexpr int64_t kEndDelayMs = 300;
constexpr size_t kTracedBytes = 300;

// At --log-level debug, every line read and written: "<what>: <line>" (cut).
void Trace(const char* what, std::string_view line) {
  if (!os::ProcessLog().Shows(os::LogLevel::Debug)) return;
  std::string text = std::string(what) + ": " + std::string(line.substr(0, kTracedBytes));
  if (line.size() > kTracedBytes) text += "... (" + std::to_string(line.size()) + " bytes)";
  os::LogDebug(text);
}

// The sound service library lies next to the server's executable; "" (the
// DirectSound 9 engine then finds no library) when it is not there.
std::string SoundServicePath() {
  std::string path;
  try {
    path = os::ProgramFolder() + "/libsoundservice.so";
  } catch (const os::FileError& e) {
    os::LogWarning(std::string("the sound service library cannot be found: ") + e.what());
    return "";
  }
  return os::files::Exists(path) ? path : "";
}

// Real time runs on a clock that a sound card may steer (SlavedClock).
std::unique_ptr<os::Clock> MakeClock(bool simulate) {
  if (simulate) return std::make_unique<os::ManualClock>();
  return std::make_unique<audio::SlavedClock>();
}

// The output asked for; without one, the virtual output under the simulated
// clock, else the sound card when one opens and the null output when not.
std::unique_ptr<audio::AudioOutput> MakeOutput(const ServerOptions& options, os::EventLoop& loop,
                                                  os::Clock& clock, os::MessageBox& box) {
  const audio::DeviceOutput::Settings settings{dynamic_cast<audio::SlavedClock*>(&clock),
                                                  int64_t{options.LatencyMs} * 1000};
  if (!options.Output.empty()) return audio::MakeAudioOutput(options.Output, loop, settings, &box);
  if (options.Simulate) return audio::MakeAudioOutput("virtual", loop, settings);
  auto device = audio::MakeDeviceOutput("device", loop, settings);
  if (device->Available()) return device;  // it says which sound system
  os::LogWarning("no sound device (" + device->Trouble() + "); playing to null");
  return audio::MakeAudioOutput("null", loop, settings);
}

class ServerProcess final {
 public:
  ServerProcess(const ServerOptions& options, int inFd, int outFd);
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int Run();

 private:
  void RunSimulated();
  void RunReal();
  void OnInputReadable();
  void HandleLine(std::string_view line);
  void HandleRequest(std::string_view line);
  void HandleOverlongLine();
  // Simulated clock: runs what falls due within `ms` (0: what is due now).
  void RunDueTasks(int64_t ms);
  PlayService::Hooks MakeHooks();
  void WriteLine(const std::string& line);
  void OnEndOfProcess();
  // A termination signal: the run ends here; the object and the outputs are
  // released as the process object goes, and the exit status is 128 + signal.
  bool TakeSignal();

  const bool simulate_;
  const int signalFd_;
  int exitStatus_ = 0;
  const int inFd_;
  const int outFd_;
  std::unique_ptr<os::Clock> clock_;
  os::EventLoop loop_;
  os::MessageBox box_;
  std::unique_ptr<audio::AudioOutput> output_;
  devices::AudioPlatform audio_;
  state::PlayContext ctx_;
  facade::PlayDllClass play_;
  JsonRpcEndpoint endpoint_;
  PlayService service_;
  LineSplitter splitter_;
  std::string chunk_;  // what one read of the input gave
  bool ended_ = false;
  bool outBroken_ = false;
};

ServerProcess::ServerProcess(const ServerOptions& options, int inFd, int outFd)
    : simulate_(options.Simulate),
      signalFd_(options.SignalFd),
      inFd_(inFd),
      outFd_(outFd),
      clock_(MakeClock(options.Simulate)),
      loop_(*clock_),
      output_(MakeOutput(options, loop_, *clock_, box_)),
      audio_(loop_, *output_, options.Offer, SoundServicePath()),
      ctx_(loop_, box_, audio_),
      play_(ctx_, facade::MakeEngineFactory(ctx_)),
      endpoint_([this](const std::string& line) { WriteLine(line); }),
      service_(play_, endpoint_, MakeHooks()),
      splitter_(
          kMaxLineBytes, [this](std::string_view line) { HandleLine(line); }, [this] { HandleOverlongLine(); }) {
  play_.SetEndOfProcessHook([this] { OnEndOfProcess(); });
}

PlayService::Hooks ServerProcess::MakeHooks() {
  PlayService::Hooks hooks;
  if (simulate_) {
    hooks.AdvanceTime = [this](int32_t ms) {
      loop_.RunFor(ms);
      return loop_.NowUs() / 1000;
    };
  }
  return hooks;
}

int ServerProcess::Run() {
  if (simulate_) {
    RunSimulated();
  } else {
    RunReal();
  }
  return exitStatus_;
}

bool ServerProcess::TakeSignal() {
  const int signo = signalFd_ >= 0 ? os::ReadTerminationSignal(signalFd_) : 0;
  if (signo == 0) return false;
  os::LogInfo("signal " + std::to_string(signo) + ": the run stops and the server ends");
  exitStatus_ = 128 + signo;
  ended_ = true;
  if (!simulate_) loop_.Quit();
  return true;
}

// ------------------------------------------------------------ simulated clock

void ServerProcess::RunSimulated() {
  while (!ended_) {
    if (service_.IsReleased()) {
      // The object is gone; the end of the process falls due 300 ms later.
      RunDueTasks(kEndDelayMs);
      continue;
    }
    if (signalFd_ >= 0) {
      const int ready = os::WaitReadable({signalFd_, inFd_}, -1);
      if (ready == 0 && TakeSignal()) break;
      if (ready != 1) continue;
    }
    chunk_.clear();
    const os::Input got = os::ReadSome(inFd_, chunk_, -1, kReadBytes);
    if (got == os::Input::TimedOut) continue;  // a signal handler interrupted the read
    if (got == os::Input::End) {
      splitter_.Finish();
      service_.EndOfInput();
      continue;
    }
    splitter_.Feed(chunk_);
  }
}

// ------------------------------------------------------------ real clock

void ServerProcess::RunReal() {
  loop_.WatchFd(inFd_, [this] { OnInputReadable(); });
  if (signalFd_ >= 0) loop_.WatchFd(signalFd_, [this] { TakeSignal(); });
  while (!ended_) {
    try {
      loop_.Run();
    } catch (const std::exception& e) {
      // A timer tick or device event without an error handler failed; the
      // server reports it and goes on serving the host.
      os::LogError(std::string("run-time error: ") + e.what());
    }
  }
}

void ServerProcess::OnInputReadable() {
  chunk_.clear();
  const os::Input got = os::ReadSome(inFd_, chunk_, 0, kReadBytes);
  if (got == os::Input::TimedOut) return;
  if (got == os::Input::Data) {
    splitter_.Feed(chunk_);
    return;
  }
  loop_.UnwatchFd(inFd_);
  splitter_.Finish();
  loop_.Post([this] { service_.EndOfInput(); });
}

// ------------------------------------------------------------ both

void ServerProcess::HandleLine(std::string_view line) {
  if (simulate_) {
    HandleRequest(line);
    RunDueTasks(0);
    return;
  }
  // Each line becomes a dispatch of its own, after the ticks already due.
  loop_.Post([this, text = std::string(line)] { HandleRequest(text); });
}

void ServerProcess::HandleRequest(std::string_view line) {
  Trace("read", line);
  // Also after Release: until the process ends every request read is
  // answered (the members with "the object has been released").
  try {
    endpoint_.HandleLine(line);
  } catch (const std::exception& e) {
    // Only running out of memory while reading the request gets here.
    endpoint_.WriteError(kServerError, e.what());
  }
}

void ServerProcess::HandleOverlongLine() {
  auto answer = [this] {
    endpoint_.WriteError(kInvalidRequest,
                         "Invalid Request: line longer than " + std::to_string(kMaxLineBytes) + " bytes");
  };
  if (simulate_) {
    answer();
  } else {
    loop_.Post(answer);
  }
}

void ServerProcess::RunDueTasks(int64_t ms) {
  try {
    loop_.RunFor(ms);
  } catch (const std::exception& e) {
    os::LogError(std::string("run-time error: ") + e.what());
  }
}

void ServerProcess::WriteLine(const std::string& line) {
  if (outBroken_) return;
  Trace("wrote", line);
  std::string out = line;
  out.push_back('\n');
  if (!os::WriteAll(outFd_, out)) {
    os::LogError("the host no longer reads the output; answers are dropped");
    outBroken_ = true;
  }
}

void ServerProcess::OnEndOfProcess() {
  ended_ = true;
  if (!simulate_) loop_.Quit();
}

}  // namespace

int RunServer(const ServerOptions& options, int inFd, int outFd) {
  std::unique_ptr<ServerProcess> process;
  try {
    process = std::make_unique<ServerProcess>(options, inFd, outFd);
  } catch (const std::exception& e) {
    os::LogError(e.what());
    return 2;
  }
  return process->Run();
}

}  // namespace server
