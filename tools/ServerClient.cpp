#include "tools/ServerClient.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/os/Clock.h"
#include "platform/os/Signals.h"

extern char** environ;

namespace playctl {

using nlohmann::json;

namespace {

int64_t MonotonicMs() { return os::SteadyNs() / 1000000; }

void WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw ClientError("playsrv no longer reads its input");
    done += static_cast<size_t>(n);
  }
}

int StatusOf(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

}  // namespace

std::string ServerBesideMe() {
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) throw ClientError("cannot find my own executable");
  std::string path(exe, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1) + "playsrv";
}

bool ListServerDevices(const std::string& serverPath, std::vector<std::string>& names, int timeoutMs) {
  names.clear();
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  // A server without the flag complains; playctl says so in its own words.
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::string path = serverPath;
  std::string flag = "--list-devices";
  char* argv[] = {path.data(), flag.data(), nullptr};
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  if (rc != 0) {
    close(out[0]);
    return false;
  }
  std::string text;
  const int64_t deadline = MonotonicMs() + timeoutMs;
  bool timedOut = false;
  char buffer[4096];
  while (true) {
    const int64_t left = deadline - MonotonicMs();
    pollfd p{out[0], POLLIN, 0};
    if (left <= 0 || poll(&p, 1, static_cast<int>(left)) == 0) {
      timedOut = true;
      break;
    }
    const ssize_t got = read(out[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<size_t>(got));
  }
  close(out[0]);
  if (timedOut) kill(pid, SIGKILL);
  int raw = 0;
  while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
  }
  if (timedOut || StatusOf(raw) != 0) return false;
  for (size_t at = 0; at < text.size();) {
    const size_t nl = std::min(text.find('\n', at), text.size());
    if (nl > at) names.push_back(text.substr(at, nl - at));
    at = nl + 1;
  }
  return true;
}

ServerClient::ServerClient(const std::string& serverPath, const std::vector<std::string>& args,
                           OnNotification onNotification)
    : onNotification_(std::move(onNotification)) {
  signal(SIGPIPE, SIG_IGN);
  static const int signalFd = os::TakeTerminationSignals();
  signalFd_ = signalFd;
  int in[2];
  int out[2];
  if (pipe2(in, O_CLOEXEC) != 0) throw ClientError(std::string("pipe: ") + std::strerror(errno));
  if (pipe2(out, O_CLOEXEC) != 0) {
    close(in[0]);
    close(in[1]);
    throw ClientError(std::string("pipe: ") + std::strerror(errno));
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  std::vector<std::string> argvStore{serverPath};
  argvStore.insert(argvStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argvStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int rc = posix_spawn(&pid_, serverPath.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  toServer_ = in[1];
  fromServer_ = out[0];
  if (rc != 0) {
    close(toServer_);
    close(fromServer_);
    throw ClientError("cannot start " + serverPath + ": " + std::strerror(rc));
  }
}

ServerClient::~ServerClient() {
  try {
    if (exitStatus_ < 0) CloseAndWait(2000);
  } catch (const std::exception&) {
  }
  if (exitStatus_ < 0 && pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  if (toServer_ >= 0) close(toServer_);
  if (fromServer_ >= 0) close(fromServer_);
}

json ServerClient::Call(const std::string& method, const json& params, int timeoutMs) {
  json request{{"jsonrpc", "2.0"}, {"id", nextId_}, {"method", method}};
  if (!params.is_null()) request["params"] = params;
  awaitedId_ = nextId_++;
  answered_ = false;
  WriteAll(toServer_, request.dump() + "\n");
  if (!ReadUntil([this] { return answered_; }, MonotonicMs() + timeoutMs))
    throw ClientError("playsrv did not answer " + method + " within " + std::to_string(timeoutMs) + " ms");
  const json answer = std::move(answer_);
  if (answer.contains("error"))
    throw CallError(answer["error"].value("code", 0), method + ": " + answer["error"].value("message", "error"));
  return answer.value("result", json());
}

void ServerClient::Pump(int ms) {
  ReadUntil([] { return false; }, MonotonicMs() + ms);
}

bool ServerClient::ReadUntil(const std::function<bool()>& done, int64_t deadlineMs) {
  char buffer[65536];
  while (!done()) {
    const int64_t left = deadlineMs - MonotonicMs();
    if (left <= 0) return false;
    pollfd p[2] = {{fromServer_, POLLIN, 0}, {signalFd_, POLLIN, 0}};
    const int n = poll(p, signalFd_ >= 0 ? 2 : 1, static_cast<int>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) continue;
    if (signalFd_ >= 0 && p[1].revents != 0) PassOnSignal();
    if (p[0].revents == 0) continue;
    const ssize_t got = read(fromServer_, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      PassOnSignal();  // a Ctrl-C reaches the server too, and may end it first
      throw ClientError("playsrv ended unexpectedly");
    }
    TakeLines(buffer, static_cast<size_t>(got));
  }
  return true;
}

void ServerClient::PassOnSignal() {
  const int signo = signalFd_ >= 0 ? os::ReadTerminationSignal(signalFd_) : 0;
  if (signo == 0) return;
  kill(pid_, signo);  // the server stops its run and finalises its outputs
  throw Interrupted(signo);
}

void ServerClient::TakeLines(const char* bytes, size_t count) {
  pending_.append(bytes, count);
  size_t nl;
  while ((nl = pending_.find('\n')) != std::string::npos) {
    const std::string line = pending_.substr(0, nl);
    pending_.erase(0, nl + 1);
    HandleLine(line);
  }
}

void ServerClient::HandleLine(const std::string& line) {
  json message;
  try {
    message = json::parse(line);
  } catch (const json::parse_error&) {
    throw ClientError("playsrv wrote a line that is not JSON: " + line);
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
  if (toServer_ >= 0) {
    close(toServer_);
    toServer_ = -1;
  }
  const int64_t deadline = MonotonicMs() + timeoutMs;
  char buffer[4096];
  bool outputEnded = false;
  while (true) {
    int raw = 0;
    const pid_t r = waitpid(pid_, &raw, WNOHANG);
    if (r == pid_) {
      exitStatus_ = StatusOf(raw);
      return exitStatus_;
    }
    if (MonotonicMs() >= deadline) throw ClientError("playsrv did not end within " + std::to_string(timeoutMs) + " ms");
    // Notifications of the end (the object's last reports) still arrive.
    pollfd p{fromServer_, POLLIN, 0};
    if (outputEnded || poll(&p, 1, 20) <= 0) {
      poll(nullptr, 0, 10);
      continue;
    }
    const ssize_t got = read(fromServer_, buffer, sizeof buffer);
    if (got > 0) {
      TakeLines(buffer, static_cast<size_t>(got));
    } else if (got == 0) {
      outputEnded = true;
    }
  }
}

}  // namespace playctl
