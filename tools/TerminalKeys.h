#pragma once
// The keys of a terminal, read without waiting for a line: the terminal on
// the given descriptor goes into raw mode (no echo, no line editing; Ctrl-C
// still raises SIGINT) for the life of the object and is restored when it
// ends, at exit(), or by RestoreTerminal() (safe in a signal handler).

#include <string>
#include <vector>

namespace playctl {

enum class Action { Pause, UTurn, Back, Forward, Home, End, Loop, Faster, Slower, Stop, Quit };

// Takes the complete keys from the front of `pending` (bytes as the terminal
// sent them) and returns their actions; an incomplete escape sequence stays.
// Keys that mean nothing are dropped.
std::vector<Action> DecodeKeys(std::string& pending);

class TerminalKeys final {
 public:
  // REQUIRES: `fd` is a terminal.
  explicit TerminalKeys(int fd);
  ~TerminalKeys();
  TerminalKeys(const TerminalKeys&) = delete;
  TerminalKeys& operator=(const TerminalKeys&) = delete;

  // Waits at most `ms` for keys and returns their actions (none on time-out).
  std::vector<Action> Read(int ms);

 private:
  int fd_;
  std::string pending_;
  bool closed_ = false;
};

void RestoreTerminal() noexcept;

}  // namespace playctl
