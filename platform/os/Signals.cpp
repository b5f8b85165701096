#include "platform/os/Signals.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace os {

int TakeTerminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return -1;
  return signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

int ReadTerminationSignal(int fd) {
  signalfd_siginfo info{};
  const ssize_t n = read(fd, &info, sizeof info);
  return n == static_cast<ssize_t>(sizeof info) ? static_cast<int>(info.ssi_signo) : 0;
}

}  // namespace os
