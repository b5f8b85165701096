#include "tests/server/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <stdexcept>

namespace testing_support {

constexpr int kSafetyLimitMs = 30000;

ChildProcess::ChildProcess(const std::string& program, std::vector<std::string> args, const std::string& stderrPath) {
  args.insert(args.begin(), program);
  signal(SIGPIPE, SIG_IGN);
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {  // only async-signal-safe calls from here to exec
    setpgid(0, 0);
    dup2(in[0], 0);
    dup2(out[1], 1);
    if (!stderrPath.empty()) dup2(open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  in_ = in[1];
  out_ = out[0];
  if (pid_ < 0) throw std::runtime_error("cannot start " + program);
}

ChildProcess::~ChildProcess() {
  CloseInput();
  if (status_ < 0 && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  close(out_);
}

// No test installs a signal handler, so a write to a pipe returns only when
// all of it is written or the reader is gone.
void ChildProcess::SendRaw(const std::string& bytes) {
  if (write(in_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
    throw std::runtime_error("the child no longer reads its input");
}

void ChildProcess::CloseInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

bool ChildProcess::ReadLine(std::string& line) {
  size_t nl;
  while ((nl = outBuf_.find('\n')) == std::string::npos) {
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, kSafetyLimitMs) == 0) {
      ADD_FAILURE() << "the child wrote nothing for " << kSafetyLimitMs << " ms";
      return false;
    }
    char buf[65536];
    const ssize_t got = read(out_, buf, sizeof buf);
    if (got <= 0) return false;
    outBuf_.append(buf, static_cast<size_t>(got));
  }
  line = outBuf_.substr(0, nl);
  outBuf_.erase(0, nl + 1);
  return true;
}

std::vector<std::string> ChildProcess::ReadToEnd() {
  std::vector<std::string> lines;
  for (std::string line; ReadLine(line);) lines.push_back(line);
  return lines;
}

int ChildProcess::Wait() {
  ReadToEnd();
  int raw = 0;
  waitpid(pid_, &raw, 0);
  status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return status_;
}

void ChildProcess::SignalGroup(int signo) { kill(-pid_, signo); }

Playsrv::Exchange Playsrv::Call(const std::string& method, const nlohmann::json& params) {
  nlohmann::json request{{"jsonrpc", "2.0"}, {"id", nextId_++}, {"method", method}};
  if (!params.is_null()) request["params"] = params;
  SendRaw(request.dump() + "\n");
  Exchange ex;
  for (std::string text; ReadLine(text);) {
    nlohmann::json message = nlohmann::json::parse(text);
    if (!message.contains("method")) {
      EXPECT_EQ(message.value("id", nlohmann::json()), request["id"]) << method;
      ex.Answer = std::move(message);
      return ex;
    }
    ex.Notifications.push_back(std::move(message));
  }
  ADD_FAILURE() << "no answer to " << method;
  return ex;
}

nlohmann::json Playsrv::Result(const std::string& method, const nlohmann::json& params) {
  Exchange ex = Call(method, params);
  EXPECT_TRUE(ex.Answer.contains("result")) << method << ": " << ex.Answer.dump();
  return ex.Answer.value("result", nlohmann::json());
}

std::vector<std::string> Playsrv::Reports(const std::vector<nlohmann::json>& notifications) {
  std::vector<std::string> out;
  for (const auto& n : notifications) {
    if (n.value("method", "") != "MsgBoxOb") continue;
    const std::string msg = n["params"]["Msg"], ttl = n["params"]["Ttl"];
    out.push_back(msg == "S2" ? ttl : msg + "|" + ttl);
  }
  return out;
}

}  // namespace testing_support
