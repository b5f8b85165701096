#include "server/ServerProcess.h"

#include <memory>
#include <stdexcept>
#include <string>

#include "embed/playdll.h"
#include "platform/os/Clock.h"
#include "platform/os/File.h"
#include "platform/os/Log.h"
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
constexpr int32_t kEndDelayMs = 300;
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

struct HandleDeleter {
  void operator()(playdll_handle* handle) const { playdll_destroy(handle); }
};
using Handle = std::unique_ptr<playdll_handle, HandleDeleter>;

// Throws std::runtime_error with the library's reason.
Handle MakeHandle(const ServerOptions& options) {
  const std::string service = SoundServicePath();
  playdll_options o{};
  o.output = options.Output.c_str();
  o.engines = options.Engines.c_str();
  o.simulate = options.Simulate ? 1 : 0;
  o.latency_ms = options.LatencyMs;
  o.sound_service = service.c_str();
  Handle handle(playdll_create(&o));
  if (handle == nullptr) throw std::runtime_error(playdll_last_error());
  return handle;
}

class ServerProcess final {
 public:
  ServerProcess(const ServerOptions& options, int inFd, int outFd);
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  int Run();

 private:
  // Waits at most `timeoutMs` (-1: without limit) for input, events or a
  // signal, and handles what came.
  void Serve(int timeoutMs);
  void ReadInput();
  void HandleLine(std::string_view line);
  void HandleOverlongLine();
  void WriteLine(const std::string& line);
  // After Release: the end, 300 ms later.
  void EndAfterRelease();
  // A termination signal: the run ends here; the object and the outputs are
  // released as the handle goes, and the exit status is 128 + signal.
  bool TakeSignal();

  const bool simulate_;
  const int signalFd_;
  int exitStatus_ = 0;
  const int inFd_;
  const int outFd_;
  Handle play_;
  JsonRpcEndpoint endpoint_;
  PlayService service_;
  LineSplitter splitter_;
  std::string chunk_;  // what one read of the input gave
  bool inputEnded_ = false;
  bool ended_ = false;
  bool outBroken_ = false;
};

ServerProcess::ServerProcess(const ServerOptions& options, int inFd, int outFd)
    : simulate_(options.Simulate),
      signalFd_(options.SignalFd),
      inFd_(inFd),
      outFd_(outFd),
      play_(MakeHandle(options)),
      endpoint_([this](const std::string& line) { WriteLine(line); }),
      service_(play_.get(), endpoint_, options.Simulate),
      splitter_(
          kMaxLineBytes, [this](std::string_view line) { HandleLine(line); }, [this] { HandleOverlongLine(); }) {}

int ServerProcess::Run() {
  while (!ended_) {
    if (service_.IsReleased()) {
      EndAfterRelease();
      break;
    }
    Serve(-1);
  }
  return exitStatus_;
}

void ServerProcess::Serve(int timeoutMs) {
  const int events = playdll_event_fd(play_.get());
  const int ready = os::WaitReadable({signalFd_, events, inputEnded_ ? -1 : inFd_}, timeoutMs);
  if (ready == 0) {
    TakeSignal();
  } else if (ready == 1) {
    service_.WriteEvents();
  } else if (ready == 2) {
    ReadInput();
  }
}

void ServerProcess::ReadInput() {
  chunk_.clear();
  const os::Input got = os::ReadSome(inFd_, chunk_, 0, kReadBytes);
  if (got == os::Input::TimedOut) return;  // a signal handler interrupted the read
  if (got == os::Input::Data) {
    splitter_.Feed(chunk_);
    return;
  }
  inputEnded_ = true;
  splitter_.Finish();
  service_.EndOfInput();
}

void ServerProcess::EndAfterRelease() {
  if (simulate_) {
    playdll_advance_time(play_.get(), kEndDelayMs, nullptr);
    service_.WriteEvents();
    return;
  }
  const int64_t end = os::SteadyMs() + kEndDelayMs;
  for (int64_t left = kEndDelayMs; left > 0 && !ended_; left = end - os::SteadyMs()) Serve(static_cast<int>(left));
}

bool ServerProcess::TakeSignal() {
  const int signo = signalFd_ >= 0 ? os::ReadTerminationSignal(signalFd_) : 0;
  if (signo == 0) return false;
  os::LogInfo("signal " + std::to_string(signo) + ": the run stops and the server ends");
  exitStatus_ = 128 + signo;
  ended_ = true;
  return true;
}

// Also after Release: until the process ends every request read is answered
// (the members with "the object has been released").
void ServerProcess::HandleLine(std::string_view line) {
  Trace("read", line);
  try {
    endpoint_.HandleLine(line);
  } catch (const std::exception& e) {
    // Only running out of memory while reading the request gets here.
    endpoint_.WriteError(kServerError, e.what());
  }
}

void ServerProcess::HandleOverlongLine() {
  endpoint_.WriteError(kInvalidRequest, "Invalid Request: line longer than " + std::to_string(kMaxLineBytes) + " bytes");
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
