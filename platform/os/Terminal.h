#pragma once
// A terminal read key by key: while a Terminal object lives, the terminal on
// its descriptor is in raw mode (no echo, no line editing; Ctrl-C still raises
// SIGINT), and it gets its old mode back when the object goes, when the
// program calls exit(), or through RestoreTerminal() (safe in a signal
// handler). One terminal at a time is in raw mode.
// Thread: the thread that made the object.

#include <optional>
#include <string>

#include "platform/os/Stdio.h"

namespace os {

// True when `fd` is a terminal.
bool IsTerminal(int fd);

// The size of the terminal on `fd` in columns and rows; {0, 0} when it is
// not a terminal or does not say.
struct TerminalSize {
  int Columns = 0;
  int Rows = 0;
};
TerminalSize SizeOfTerminal(int fd);

// How the terminal on `fd` treats input, for a check from the outside (the
// other end of a pseudo-terminal, say); nothing when `fd` is not a terminal.
struct TerminalMode {
  bool EditsLines = false;  // input arrives line by line
  bool Echoes = false;
};
std::optional<TerminalMode> ModeOfTerminal(int fd);

class Terminal final {
 public:
  // Throws PlayError when `fd` is not a terminal or refuses raw mode.
  explicit Terminal(int fd);
  ~Terminal();  // restores the mode
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // Waits at most `ms` for key bytes and appends them to `keys`: Data, End
  // (the terminal hung up; later calls only let the time pass), or TimedOut.
  Input ReadKeys(std::string& keys, int ms);

 private:
  int fd_;
  bool hungUp_ = false;
};

// Puts the terminal in raw mode back as it was; does nothing when none is.
// Async-signal-safe.
void RestoreTerminal() noexcept;

}  // namespace os
