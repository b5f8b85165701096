#pragma once
// A child process for the end-to-end tests, talked to over pipes: lines to
// its standard input, lines from its standard output (its standard error is
// captured too when asked). Reads give up after a generous safety limit so
// that a wedged server fails the test instead of hanging it; no test asserts
// on how long anything took.

#include <sys/types.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace testing_support {

class ChildProcess final {
 public:
  // `args[0]` is the program's full path.
  explicit ChildProcess(const std::vector<std::string>& args, bool captureStderr = false);
  ~ChildProcess();  // kills the child if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  void Send(const std::string& line);    // writes line + '\n'
  void SendRaw(const std::string& bytes);
  void CloseInput();

  // The next line of standard output; false at end of output (or on the
  // safety limit, which also records a test failure).
  bool ReadLine(std::string& line);
  // Every line until the end of output.
  std::vector<std::string> ReadToEnd();
  // Waits for the exit; the status (128 + signal when killed).
  int Wait();
  // Standard error so far (when captured); read after Wait.
  std::string Stderr();

 private:
  bool Fill(int fd, std::string& into);

  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string outBuf_;
  std::string errBuf_;
  int status_ = -1;
};

// A JSON-RPC conversation with `playsrv --simulate` (plus `extraArgs`).
class Playsrv final {
 public:
  explicit Playsrv(const std::vector<std::string>& extraArgs = {}, bool simulate = true);

  struct Exchange {
    std::vector<nlohmann::json> Notifications;  // in the order written
    nlohmann::json Answer;                      // the response (or batch response)
  };
  // Sends a request with a fresh id and reads up to and including its answer.
  Exchange Call(const std::string& method, const nlohmann::json& params = nullptr);
  nlohmann::json Result(const std::string& method, const nlohmann::json& params = nullptr);
  // Sends a raw line and reads up to the next answer (a line without "method").
  Exchange SendLine(const std::string& line);
  // The Ttl texts of the MsgBoxOb notifications ("Msg|Ttl" when Msg is not S2).
  static std::vector<std::string> Reports(const std::vector<nlohmann::json>& notifications);

  ChildProcess& Process() { return child_; }

 private:
  ChildProcess child_;
  int nextId_ = 1;
};

}  // namespace testing_support
