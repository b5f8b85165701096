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

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& args, const std::string& stderrPath, int stderrFd) {
  signal(SIGPIPE, SIG_IGN);
  int in[2], out[2];
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  if (!stderrPath.empty())
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (stderrFd >= 0) posix_spawn_file_actions_adddup2(&actions, stderrFd, 2);
  std::vector<std::string> store = args;
  std::vector<char*> argv;
  for (auto& a : store) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attr, 0);
  const int rc = posix_spawn(&pid_, store[0].c_str(), &actions, &attr, argv.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  in_ = in[1];
  out_ = out[0];
  if (rc != 0) throw std::runtime_error("cannot start " + store[0]);
}

ChildProcess::~ChildProcess() {
  CloseInput();
  if (status_ < 0 && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  close(out_);
}

void ChildProcess::SendRaw(const std::string& bytes) {
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(in_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("the child no longer reads its input");
    done += static_cast<size_t>(n);
  }
}

void ChildProcess::SignalGroup(int signo) { kill(-pid_, signo); }

void ChildProcess::CloseInput() {
  if (in_ >= 0) close(in_);
  in_ = -1;
}

bool ChildProcess::ReadLine(std::string& line) {
  size_t nl;
  while ((nl = outBuf_.find('\n')) == std::string::npos) {
    pollfd p{out_, POLLIN, 0};
    const int ready = poll(&p, 1, kSafetyLimitMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      ADD_FAILURE() << "the child wrote nothing for " << kSafetyLimitMs << " ms";
      return false;
    }
    char buf[65536];
    const ssize_t got = read(out_, buf, sizeof buf);
    if (got < 0 && errno == EINTR) continue;
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
  if (status_ >= 0) return status_;
  ReadToEnd();
  int raw = 0;
  waitpid(pid_, &raw, 0);
  status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return status_;
}

Playsrv::Playsrv(const std::vector<std::string>& extraArgs, bool simulate)
    : child_([&] {
        std::vector<std::string> args{PLAY_BINARY_DIR "/playsrv"};
        if (simulate) args.push_back("--simulate");
        args.insert(args.end(), extraArgs.begin(), extraArgs.end());
        return args;
      }()) {}

Playsrv::Exchange Playsrv::Call(const std::string& method, const nlohmann::json& params) {
  nlohmann::json request{{"jsonrpc", "2.0"}, {"id", nextId_++}, {"method", method}};
  if (!params.is_null()) request["params"] = params;
  child_.SendRaw(request.dump() + "\n");
  Exchange ex;
  for (std::string text; child_.ReadLine(text);) {
    nlohmann::json message = nlohmann::json::parse(text);
    if (!message.is_object() || !message.contains("method")) {
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
