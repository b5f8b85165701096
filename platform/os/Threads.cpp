#include "platform/os/Threads.h"

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/os/Errors.h"

namespace os {

void NameThisThread(const std::string& name) {
  // Longer names are refused by the system, so they are cut.
  pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

Doorbell::Doorbell() : fd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (fd_ < 0) throw ErrnoError("eventfd", "doorbell", errno);
}

Doorbell::~Doorbell() { close(fd_); }

void Doorbell::Ring() noexcept {
  const uint64_t one = 1;
  // A counter at its limit is readable already, so a write that fails is no loss.
  [[maybe_unused]] const ssize_t n = write(fd_, &one, sizeof one);
}

void Doorbell::Clear() noexcept {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t n = read(fd_, &count, sizeof count);
}

}  // namespace os
