#include "platform/os/Log.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "platform/os/Errors.h"

namespace os {

namespace {

thread_local std::string threadName;

constexpr const char* kLevelNames[] = {"error", "warning", "info", "debug"};

// A fresh non-blocking description of the same pipe or terminal, or -1.
int ReopenNonBlocking(int fd) {
  struct stat st {};
  if (fstat(fd, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) return -1;
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  return open(self.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
}

}  // namespace

LogLevel ParseLogLevel(const std::string& name) {
  for (int i = 0; i < 4; ++i) {
    if (name == kLevelNames[i]) return static_cast<LogLevel>(i);
  }
  throw std::invalid_argument("unknown log level '" + name + "' (expected error, warning, info or debug)");
}

Logger::Logger(std::string program, int fd) : program_(std::move(program)) { ToDescriptor(fd); }

Logger::~Logger() {
  if (ownsFd_) close(fd_);
}

void Logger::SetLevel(LogLevel level) {
  std::lock_guard lock(mutex_);
  level_ = level;
}

bool Logger::Shows(LogLevel level) const {
  std::lock_guard lock(mutex_);
  return level <= level_ && fd_ >= 0;
}

void Logger::ToDescriptor(int fd) {
  const int fresh = fd < 0 ? -1 : ReopenNonBlocking(fd);
  std::lock_guard lock(mutex_);
  if (fresh >= 0) {
    SetDestination(fresh, true);
  } else {
    SetDestination(fd, false);
  }
}

void Logger::ToFile(const std::string& path) {
  // Non-blocking open: a FIFO nobody reads is refused instead of waited for.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0644);
  if (fd < 0) throw ErrnoError("cannot open the log file", path, errno);
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    throw FileError("the log file '" + path + "' is not a regular file");
  }
  std::lock_guard lock(mutex_);
  SetDestination(fd, true);
}

void Logger::SetDestination(int fd, bool owned) {
  if (ownsFd_) close(fd_);
  fd_ = fd;
  ownsFd_ = owned;
}

void Logger::Write(LogLevel level, std::string_view text) {
  std::lock_guard lock(mutex_);
  if (level > level_ || fd_ < 0) return;
  std::string line = program_ + ": " + kLevelNames[static_cast<int>(level)] + ": ";
  if (!threadName.empty()) line += "[" + threadName + "] ";
  line += text;
  if (line.size() > kMaxLineBytes - 1) line.resize(kMaxLineBytes - 1);
  line.push_back('\n');
  if (droppedUnsaid_ != 0) {
    const std::string note = program_ + ": warning: " + std::to_string(droppedUnsaid_) +
                             " diagnostic lines were dropped because the error output was full\n";
    if (!WriteLine(note)) {
      ++droppedUnsaid_;
      return;
    }
    droppedUnsaid_ = 0;
  }
  if (!WriteLine(line)) {
    ++droppedUnsaid_;
  }
}

// One write of a whole line, or nothing. A blocking descriptor (one that
// could not be reopened) is written only when poll says there is room.
bool Logger::WriteLine(const std::string& line) {
  if (!ownsFd_) {
    pollfd p{fd_, POLLOUT, 0};
    if (poll(&p, 1, 0) != 1 || !(p.revents & POLLOUT)) return false;
  }
  while (true) {
    const ssize_t n = write(fd_, line.data(), line.size());
    if (n < 0 && errno == EINTR) continue;
    return n == static_cast<ssize_t>(line.size());
  }
}

void Logger::SetThreadName(std::string name) { threadName = std::move(name); }

void LogCaught(std::string_view where, const std::exception& e) {
  std::string text(where);
  text += ": ";
  text += e.what();
  LogWarning(text);
}

Logger& ProcessLog() {
  static Logger log("playsrv", STDERR_FILENO);
  return log;
}

}  // namespace os
