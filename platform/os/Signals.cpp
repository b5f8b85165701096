#include "platform/os/Signals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/os/Errors.h"

namespace os {

int TakeTerminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  const auto refused = [] {
    return PlayError(std::string("cannot take the termination signals: ") + std::strerror(errno));
  };
  sigset_t before;
  if (sigprocmask(SIG_BLOCK, &set, &before) != 0) throw refused();
  const int fd = signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd < 0) {
    const PlayError error = refused();
    sigprocmask(SIG_SETMASK, &before, nullptr);  // blocked and never read would be worse than the default
    throw error;
  }
  return fd;
}

int ReadTerminationSignal(int fd) {
  signalfd_siginfo info{};
  const ssize_t n = read(fd, &info, sizeof info);
  return n == static_cast<ssize_t>(sizeof info) ? static_cast<int>(info.ssi_signo) : 0;
}

}  // namespace os
