#pragma once
// The keys of a terminal, read without waiting for a line: the terminal on
// the given descriptor is in raw mode for the life of the object (see
// platform/os/Terminal.h for how it is restored).

#include <string>
#include <vector>

#include "platform/os/Terminal.h"

namespace playctl {

enum class Action {
  Pause,
  UTurn,
  Back,
  Forward,
  Home,
  End,
  Loop,
  Faster,
  Slower,
  Stop,
  Quit,
  SelectFrom,      // [
  SelectTo,        // ]
  ClearSelection,  // x
  GoTo,            // g, then a typed time
  StepBack,        // ,
  StepForward,     // .
};

// Takes the complete keys from the front of `pending` (bytes as the terminal
// sent them) and returns their actions; an incomplete escape sequence stays,
// and so does everything after a GoTo (the time typed after it). Keys that
// mean nothing are dropped.
std::vector<Action> DecodeKeys(std::string& pending);

class TerminalKeys final {
 public:
  // Throws os::PlayError when `fd` is not a terminal.
  explicit TerminalKeys(int fd) : terminal_(fd) {}

  // Waits at most `ms` for keys and returns their actions (none on time-out,
  // and none once the terminal has hung up: the time still passes).
  std::vector<Action> Read(int ms);
  // After GoTo: waits at most `ms` for the typed line and edits `text` with
  // what came (Backspace takes a character back). Data once Enter ended the
  // line, End when Escape or Ctrl-C gave it up, TimedOut while it goes on.
  os::Input ReadText(std::string& text, int ms);

 private:
  os::Terminal terminal_;
  std::string pending_;
};

}  // namespace playctl
