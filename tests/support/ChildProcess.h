#pragma once
// A child process for the end-to-end tests (os::Process), talked to over
// pipes. Reads give up after a generous safety limit so that a wedged child
// fails the test instead of hanging it; no test asserts on how long anything
// took.

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/os/Process.h"

namespace testing_support {

class ChildProcess {
 public:
  // `program` is a full path, `args` go after it; standard error goes to
  // `stderrPath` when given. The child leads a process group of its own (as
  // a shell's job does).
  ChildProcess(const std::string& program, std::vector<std::string> args, const std::string& stderrPath = "");
  ChildProcess(const std::string& program, const os::Process::Options& options) : process_(program, options) {}
  virtual ~ChildProcess() = default;  // kills the child if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void SendRaw(const std::string& bytes);
  void CloseInput() { process_.CloseInput(); }
  // The next line of standard output; false at its end (or on the safety
  // limit, which also records a test failure).
  bool ReadLine(std::string& line);
  std::vector<std::string> ReadToEnd();
  int Wait();  // reads to the end; the exit status (128 + signal when killed)
  // Sends `signo` to the child's whole process group, as Ctrl-C does to a job.
  void SignalGroup(int signo) { process_.SignalGroup(signo); }
  os::Process& Process() { return process_; }

 private:
  os::Process process_;
};

// A JSON-RPC conversation with `playsrv`.
class Playsrv final : public ChildProcess {
 public:
  explicit Playsrv(const std::vector<std::string>& args = {"--simulate"}, const std::string& stderrPath = "")
      : ChildProcess(PLAY_BINARY_DIR "/playsrv", args, stderrPath) {}
  explicit Playsrv(const os::Process::Options& options) : ChildProcess(PLAY_BINARY_DIR "/playsrv", options) {}

  struct Exchange {
    std::vector<nlohmann::json> Notifications;  // in the order written
    nlohmann::json Answer;                      // the response
  };
  // A request with a fresh id, read up to its answer (a line without
  // "method"); Result also expects a "result".
  Exchange Call(const std::string& method, const nlohmann::json& params = nullptr);
  nlohmann::json Result(const std::string& method, const nlohmann::json& params = nullptr);
  // The Ttl texts of the MsgBoxOb notifications ("Msg|Ttl" when Msg is not S2).
  static std::vector<std::string> Reports(const std::vector<nlohmann::json>& notifications);

 private:
  int nextId_ = 1;
};

}  // namespace testing_support
