#pragma once
// What a library that runs threads of its own needs of the system: a name
// for the calling thread (what ps, top and debuggers show), and a doorbell,
// a descriptor that is readable while it has been rung and not cleared, for
// hosts that wait in poll(2) on descriptors of their own.

#include <string>

namespace os {

// Names the calling thread; the system keeps at most 15 bytes of it.
void NameThisThread(const std::string& name);

// Thread: Ring from any thread; Clear and Fd from any thread too (an eventfd
// counts the rings and a read takes them all).
class Doorbell final {
 public:
  // Throws FileError when the system has no descriptors left.
  Doorbell();
  ~Doorbell();
  Doorbell(const Doorbell&) = delete;
  Doorbell& operator=(const Doorbell&) = delete;

  // Makes Fd readable (until Clear). Never blocks.
  void Ring() noexcept;
  // Fd is no longer readable until the next Ring.
  void Clear() noexcept;
  int Fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace os
