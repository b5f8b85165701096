#pragma once
// Descriptors as byte streams: the one loop that writes a run completely,
// waiting for input with a time limit and reading what came, pipes, and the
// standard streams of a program that speaks a protocol on its standard
// output. Positioned file access is File.h's, terminals Terminal.h's, child
// processes Process.h's.
//
// Descriptors passed in stay the caller's (nothing here closes them unless
// its name says so). Thread: any; each call works on the descriptors given.

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace os {

// The standard streams' descriptors.
inline constexpr int kStandardInput = 0;
inline constexpr int kStandardOutput = 1;
inline constexpr int kStandardError = 2;

// Runs `writeFrom(done)` (one system call that writes the run's bytes from
// `done` on and returns what write(2) returns) until all `bytes` are written;
// EINTR repeats the call. False, with errno set, when a call fails or writes
// nothing. Every write-everything loop of the program is this one.
template <typename WriteFrom>
bool WriteLoop(size_t bytes, WriteFrom&& writeFrom) noexcept {
  size_t done = 0;
  while (done < bytes) {
    const ssize_t n = writeFrom(done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Writes the whole run to `fd`; false, with errno set, when the descriptor
// refuses (a pipe whose reader is gone: EPIPE, once IgnoreBrokenPipes ran).
bool WriteAll(int fd, const void* data, size_t bytes) noexcept;
inline bool WriteAll(int fd, std::string_view text) noexcept { return WriteAll(fd, text.data(), text.size()); }

// What a wait for input found.
enum class Input { Data, End, TimedOut };

// Waits at most `timeoutMs` (below 0: without limit) until one of `fds` is
// readable or hung up (-1 entries are skipped) and returns its index in
// `fds`, the first one when several are; -1 when the time ran out or a
// signal handler interrupted the wait. Throws FileError when the system
// refuses the wait.
int WaitReadable(std::initializer_list<int> fds, int timeoutMs);

// Waits as WaitReadable for `fd`, then appends what one read gives (at most
// `room` bytes) to `out`: Data, End (end of input or an error, such as a
// hung-up terminal), or TimedOut (also when interrupted; nothing read).
Input ReadSome(int fd, std::string& out, int timeoutMs, size_t room = 65536);

// Passes `ms` milliseconds (the calling thread sleeps).
void SleepMs(int ms);

// Closes `fd` unless it is below 0.
void CloseFd(int fd) noexcept;

struct PipeEnds {
  int Read = -1;
  int Write = -1;
};
// A new pipe, both ends closed on exec; throws FileError when the system has
// no descriptors left.
PipeEnds MakePipe();

// SIGPIPE ignored from now on: a write to a pipe whose reader is gone fails
// with EPIPE instead of ending the program.
void IgnoreBrokenPipes();

// While it lives, the standard error points at /dev/null, so that a library
// that prints its own notes there (a decoder's) stays silent; the old standard
// error comes back when it goes. When /dev/null cannot be opened nothing
// changes. Thread: the process's one thread that writes to standard error.
class QuietStandardError final {
 public:
  QuietStandardError() noexcept;
  ~QuietStandardError();
  QuietStandardError(const QuietStandardError&) = delete;
  QuietStandardError& operator=(const QuietStandardError&) = delete;

 private:
  int saved_ = -1;
};

// Keeps a protocol channel private: returns a duplicate of the standard
// output (the caller owns it) and points the standard output itself at the
// standard error, so that a stray print anywhere cannot corrupt the stream
// of messages. Throws FileError when the descriptors cannot be duplicated.
int TakeProtocolOutput();

}  // namespace os
