#pragma once
// The host's end of the pipes to a playsrv child process: starts the server,
// sends JSON-RPC requests one per line, reads its lines, hands every
// notification to the handler in the order it arrives and returns each call's
// result. A call's error answer throws CallError (code and message); a server
// that ends or stops answering throws ClientError.
//
// The server's standard error is a pipe read while the client waits: each of
// its lines (a diagnostic, "playsrv: warning: ...") goes to the diagnostics
// handler as soon as the wait it arrived in ends, and by the end of Call,
// Pump and CloseAndWait at the latest; without a handler it goes to playctl's
// standard error.

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/os/Process.h"

namespace playctl {

class ClientError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A termination signal (SIGTERM, SIGINT, SIGHUP) came while waiting for the
// server; it has been passed on to the server, which ends its run.
class Interrupted final : public ClientError {
 public:
  explicit Interrupted(int signo) : ClientError("stopped by signal " + std::to_string(signo)), signo_(signo) {}
  int Signal() const { return signo_; }

 private:
  int signo_;
};

class CallError final : public ClientError {
 public:
  CallError(int code, const std::string& message) : ClientError(message), code_(code) {}
  int Code() const { return code_; }

 private:
  int code_;
};

class ServerClient final {
 public:
  using OnNotification = std::function<void(const std::string& method, const nlohmann::json& params)>;
  using OnDiagnostic = std::function<void(const std::string& line)>;

  // Starts `serverPath` with `args`; its standard error stays ours. From now
  // on the termination signals are read by this process's waits (platform/
  // os/Signals.h): one that comes while a call or Pump waits is passed on to
  // the server and throws Interrupted. When the system refuses to hand the
  // signals over, a warning says so on standard error and they end playctl
  // (and the server, when they reach it) at once.
  ServerClient(const std::string& serverPath, const std::vector<std::string>& args, OnNotification onNotification,
               OnDiagnostic onDiagnostic = nullptr);
  // Closes the server's input and waits for it to end.
  ~ServerClient();
  ServerClient(const ServerClient&) = delete;
  ServerClient& operator=(const ServerClient&) = delete;

  // Sends one request and waits (at most `timeoutMs`) for its answer.
  nlohmann::json Call(const std::string& method, const nlohmann::json& params = nullptr, int timeoutMs = 30000);
  // Handles the lines that arrive within `ms` milliseconds (real time).
  void Pump(int ms);
  // Closes the server's input (end of input) and waits for the process to
  // end; returns its exit status (128 + signal when killed).
  int CloseAndWait(int timeoutMs = 10000);

 private:
  // Reads and handles lines until `done` or the deadline; false on timeout.
  bool ReadUntil(const std::function<bool()>& done, int64_t deadlineMs);
  void HandleLine(const std::string& line);
  // Throws Interrupted, after passing the signal on, when one is pending.
  void PassOnSignal();
  // Hands the server's diagnostics that have arrived to the handler.
  void TakeDiagnostics(bool unfinished = false);

  OnNotification onNotification_;
  OnDiagnostic onDiagnostic_;
  std::unique_ptr<os::Process> server_;
  int64_t nextId_ = 1;
  int64_t awaitedId_ = 0;
  bool answered_ = false;
  nlohmann::json answer_;
  int exitStatus_ = -1;
  int signalFd_ = -1;
};

// Full path of the playsrv that lies next to this executable.
std::string ServerBesideMe();

// Runs `serverPath --list-devices` and returns the lines it printed (one
// sound output each: its name, a tab and a description). False when the server could not be started,
// ended with a status other than 0, or took more than `timeoutMs`.
bool ListServerDevices(const std::string& serverPath, std::vector<std::string>& names, int timeoutMs = 10000);

}  // namespace playctl
