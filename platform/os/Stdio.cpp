#include "platform/os/Stdio.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/os/Errors.h"

namespace os {

bool WriteAll(int fd, const void* data, size_t bytes) noexcept {
  const auto* p = static_cast<const char*>(data);
  return WriteLoop(bytes, [&](size_t done) { return write(fd, p + done, bytes - done); });
}

int WaitReadable(std::initializer_list<int> fds, int timeoutMs) {
  std::vector<pollfd> polled;
  std::vector<int> index;
  int i = 0;
  for (int fd : fds) {
    if (fd >= 0) {
      polled.push_back({fd, POLLIN, 0});
      index.push_back(i);
    }
    ++i;
  }
  const int n = poll(polled.data(), polled.size(), timeoutMs < 0 ? -1 : timeoutMs);
  if (n < 0 && errno != EINTR) throw ErrnoError("cannot wait for input", "poll", errno);
  if (n <= 0) return -1;
  for (size_t k = 0; k < polled.size(); ++k) {
    if (polled[k].revents != 0) return index[k];
  }
  return -1;
}

Input ReadSome(int fd, std::string& out, int timeoutMs, size_t room) {
  if (WaitReadable({fd}, timeoutMs) < 0) return Input::TimedOut;
  char chunk[65536];
  const ssize_t got = read(fd, chunk, std::min(room, sizeof chunk));
  if (got > 0) {
    out.append(chunk, static_cast<size_t>(got));
    return Input::Data;
  }
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return Input::TimedOut;
  return Input::End;
}

void SleepMs(int ms) { poll(nullptr, 0, ms); }

void CloseFd(int fd) noexcept {
  if (fd >= 0) close(fd);
}

PipeEnds MakePipe() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw ErrnoError("cannot make", "a pipe", errno);
  return {fds[0], fds[1]};
}

void IgnoreBrokenPipes() { signal(SIGPIPE, SIG_IGN); }

QuietStandardError::QuietStandardError() noexcept {
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return;
  saved_ = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
  if (saved_ >= 0 && dup2(null, STDERR_FILENO) < 0) {
    close(saved_);
    saved_ = -1;
  }
  close(null);
}

QuietStandardError::~QuietStandardError() {
  if (saved_ < 0) return;
  dup2(saved_, STDERR_FILENO);
  close(saved_);
}

int TakeProtocolOutput() {
  const int fd = dup(STDOUT_FILENO);
  if (fd < 0) throw ErrnoError("cannot set up the output channel", "standard output", errno);
  if (dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
    const int err = errno;
    close(fd);
    throw ErrnoError("cannot set up the output channel", "standard output", err);
  }
  return fd;
}

}  // namespace os
