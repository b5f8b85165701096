#include "tests/server/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>

extern char** environ;

namespace testing_support {

namespace {

constexpr int kSafetyLimitMs = 30000;

void Pipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& args, bool captureStderr) {
  signal(SIGPIPE, SIG_IGN);
  int in[2], out[2], err[2] = {-1, -1};
  Pipe(in);
  Pipe(out);
  if (captureStderr) Pipe(err);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  if (captureStderr) posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  std::vector<std::string> store = args;
  std::vector<char*> argv;
  for (auto& a : store) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int rc = posix_spawn(&pid_, store[0].c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  if (captureStderr) close(err[1]);
  in_ = in[1];
  out_ = out[0];
  err_ = err[0];
  if (rc != 0) throw std::runtime_error("cannot start " + store[0]);
}

ChildProcess::~ChildProcess() {
  if (in_ >= 0) close(in_);
  if (status_ < 0 && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) close(out_);
  if (err_ >= 0) close(err_);
}

void ChildProcess::SendRaw(const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(in_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("the child no longer reads its input");
    done += static_cast<size_t>(n);
  }
}

void ChildProcess::Send(const std::string& line) { SendRaw(line + "\n"); }

void ChildProcess::CloseInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

// Reads what is there into `into` (waiting up to the safety limit, also
// draining standard error so that the child never blocks on it); false at end.
bool ChildProcess::Fill(int fd, std::string& into) {
  char buf[65536];
  while (true) {
    pollfd p[2] = {{fd, POLLIN, 0}, {err_, POLLIN, 0}};
    const int n = poll(p, err_ >= 0 && fd != err_ ? 2 : 1, kSafetyLimitMs);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) {
      ADD_FAILURE() << "the child wrote nothing for " << kSafetyLimitMs << " ms";
      return false;
    }
    if (err_ >= 0 && fd != err_ && p[1].revents != 0) {
      const ssize_t e = read(err_, buf, sizeof buf);
      if (e > 0) errBuf_.append(buf, static_cast<size_t>(e));
      if (e == 0) {
        close(err_);
        err_ = -1;
      }
    }
    if (p[0].revents == 0) continue;
    const ssize_t got = read(fd, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    into.append(buf, static_cast<size_t>(got));
    return true;
  }
}

bool ChildProcess::ReadLine(std::string& line) {
  size_t nl;
  while ((nl = outBuf_.find('\n')) == std::string::npos)
    if (!Fill(out_, outBuf_)) return false;
  line = outBuf_.substr(0, nl);
  outBuf_.erase(0, nl + 1);
  return true;
}

std::vector<std::string> ChildProcess::ReadToEnd() {
  std::vector<std::string> lines;
  std::string line;
  while (ReadLine(line)) lines.push_back(line);
  return lines;
}

int ChildProcess::Wait() {
  if (status_ >= 0) return status_;
  ReadToEnd();
  if (err_ >= 0)
    while (Fill(err_, errBuf_)) {
    }
  int raw = 0;
  waitpid(pid_, &raw, 0);
  status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return status_;
}

std::string ChildProcess::Stderr() { return errBuf_; }

// ------------------------------------------------------------ Playsrv

Playsrv::Playsrv(const std::vector<std::string>& extraArgs, bool simulate)
    : child_([&] {
        std::vector<std::string> args{PLAY_BINARY_DIR "/playsrv"};
        if (simulate) args.push_back("--simulate");
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        return args;
      }()) {}

Playsrv::Exchange Playsrv::SendLine(const std::string& line) {
  child_.Send(line);
  Exchange ex;
  std::string text;
  while (child_.ReadLine(text)) {
    nlohmann::json message = nlohmann::json::parse(text);
    if (message.is_object() && message.contains("method")) {
      ex.Notifications.push_back(std::move(message));
      continue;
    }
    ex.Answer = std::move(message);
    return ex;
  }
  ADD_FAILURE() << "no answer to " << line.substr(0, 200);
  return ex;
}

Playsrv::Exchange Playsrv::Call(const std::string& method, const nlohmann::json& params) {
  nlohmann::json request{{"jsonrpc", "2.0"}, {"id", nextId_++}, {"method", method}};
  if (!params.is_null()) request["params"] = params;
  Exchange ex = SendLine(request.dump());
  EXPECT_EQ(ex.Answer.value("id", nlohmann::json()), request["id"]) << method;
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
    const std::string msg = n["params"]["Msg"];
    const std::string ttl = n["params"]["Ttl"];
    out.push_back(msg == "S2" ? ttl : msg + "|" + ttl);
  }
  return out;
}

}  // namespace testing_support
