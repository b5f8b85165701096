#include "tools/ServerClient.h"

#include <algorithm>
#include <iostream>
#include <optional>

#include "platform/os/Clock.h"
#include "platform/os/Signals.h"

namespace playctl {

using nlohmann::json;

namespace {

// The termination signals, taken once for the process; -1 when the system
// refuses them (said once on standard error).
int TerminationSignals() {
  static const int fd = [] {
    try {
      return os::TakeTerminationSignals();
    } catch (const os::PlayError& e) {
      std::cerr << "playctl: warning: " << e.what() << "; a signal ends playctl without ending the run\n";
      return -1;
    }
  }();
  return fd;
}

int MsLeft(int64_t deadlineMs) { return static_cast<int>(std::max<int64_t>(0, deadlineMs - os::SteadyMs())); }

}  // namespace

std::string ServerBesideMe() {
  try {
    return os::ProgramFolder() + "/playsrv";
  } catch (const os::FileError& e) {
    throw ClientError(std::string("cannot find my own executable: ") + e.what());
  }
}

bool ListServerDevices(const std::string& serverPath, std::vector<std::string>& names, int timeoutMs) {
  names.clear();
  os::Process::Options options;
  options.Args = {"--list-devices"};
  options.NullInput = true;
  // A server without the flag complains; playctl says so in its own words.
  options.Errors = os::Process::ErrorOutput::Null;
  std::unique_ptr<os::Process> server;
  try {
    server = std::make_unique<os::Process>(serverPath, options);
  } catch (const os::ProcessError& e) {
    std::cerr << "playctl: " << e.what() << '\n';
    return false;
  }
  const int64_t deadline = os::SteadyMs() + timeoutMs;
  std::string line;
  os::Input got;
  while ((got = server->ReadLine(line, MsLeft(deadline))) == os::Input::Data) {
    if (!line.empty()) names.push_back(line);
  }
  if (got == os::Input::TimedOut) {
    server->Kill();
    return false;
  }
  const std::optional<int> status = server->Wait(MsLeft(deadline));
  return status && *status == 0;
}

ServerClient::ServerClient(const std::string& serverPath, const std::vector<std::string>& args,
                           OnNotification onNotification, OnDiagnostic onDiagnostic)
    : onNotification_(std::move(onNotification)),
      onDiagnostic_(std::move(onDiagnostic)),
      signalFd_(TerminationSignals()) {
  os::Process::Options options;
  options.Args = args;
  options.Errors = os::Process::ErrorOutput::Lines;
  try {
    server_ = std::make_unique<os::Process>(serverPath, options);
  } catch (const os::ProcessError& e) {
    throw ClientError(e.what());
  }
}

ServerClient::~ServerClient() {
  if (exitStatus_ >= 0) return;
  try {
    CloseAndWait(2000);
  } catch (const std::exception& e) {
    // The server is killed as its process object goes.
    std::cerr << "playctl: " << e.what() << "; the server is stopped\n";
  }
}

json ServerClient::Call(const std::string& method, const json& params, int timeoutMs) {
  json request{{"jsonrpc", "2.0"}, {"id", nextId_}, {"method", method}};
  if (!params.is_null()) request["params"] = params;
  awaitedId_ = nextId_++;
  answered_ = false;
  if (!server_->Send(request.dump() + "\n")) throw ClientError("playsrv no longer reads its input");
  if (!ReadUntil([this] { return answered_; }, os::SteadyMs() + timeoutMs))
    throw ClientError("playsrv did not answer " + method + " within " + std::to_string(timeoutMs) + " ms");
  const json answer = std::move(answer_);
  if (answer.contains("error"))
    throw CallError(answer["error"].value("code", 0), method + ": " + answer["error"].value("message", "error"));
  return answer.value("result", json());
}

void ServerClient::Pump(int ms) {
  ReadUntil([] { return false; }, os::SteadyMs() + ms);
}

void ServerClient::TakeDiagnostics(bool unfinished) {
  for (const std::string& line : server_->ErrorLines(unfinished)) {
    if (onDiagnostic_) {
      onDiagnostic_(line);
    } else {
      std::cerr << line << '\n';
    }
  }
}

bool ServerClient::ReadUntil(const std::function<bool()>& done, int64_t deadlineMs) {
  std::string line;
  while (!done()) {
    TakeDiagnostics();
    if (os::SteadyMs() >= deadlineMs) return false;
    const os::Input got = server_->ReadLine(line, MsLeft(deadlineMs), signalFd_);
    if (got == os::Input::Data) {
      HandleLine(line);
    } else if (got == os::Input::End) {
      PassOnSignal();  // a Ctrl-C reaches the server too, and may end it first
      TakeDiagnostics(true);  // what it said last may be why
      throw ClientError("playsrv ended unexpectedly");
    } else {
      PassOnSignal();
    }
  }
  TakeDiagnostics();
  return true;
}

void ServerClient::PassOnSignal() {
  const int signo = signalFd_ >= 0 ? os::ReadTerminationSignal(signalFd_) : 0;
  if (signo == 0) return;
  server_->Signal(signo);  // the server stops its run and finalises its outputs
  throw Interrupted(signo);
}

void ServerClient::HandleLine(const std::string& line) {
  json message;
  try {
    message = json::parse(line);
  } catch (const json::parse_error& e) {
    throw ClientError("playsrv wrote a line that is not JSON (" + std::string(e.what()) + "): " + line);
  }
  if (message.contains("method")) {
    if (onNotification_) onNotification_(message["method"].get<std::string>(), message.value("params", json()));
    return;
  }
  if (message.value("id", json()) == json(awaitedId_)) {
    answer_ = std::move(message);
    answered_ = true;
  }
}

int ServerClient::CloseAndWait(int timeoutMs) {
  if (exitStatus_ >= 0) return exitStatus_;
  server_->CloseInput();
  const int64_t deadline = os::SteadyMs() + timeoutMs;
  // Notifications of the end (the object's last reports) still arrive.
  std::string line;
  os::Input got;
  while ((got = server_->ReadLine(line, MsLeft(deadline))) != os::Input::End && MsLeft(deadline) > 0) {
    if (got == os::Input::Data) HandleLine(line);
    TakeDiagnostics();
  }
  const std::optional<int> status = got == os::Input::End ? server_->Wait(MsLeft(deadline)) : std::nullopt;
  TakeDiagnostics(true);
  if (!status) throw ClientError("playsrv did not end within " + std::to_string(timeoutMs) + " ms");
  exitStatus_ = *status;
  return exitStatus_;
}

}  // namespace playctl
