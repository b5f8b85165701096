#include "platform/os/Terminal.h"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/os/Errors.h"

namespace os {

namespace {

// The one terminal in raw mode and how it was before; plain data, so that a
// signal handler may restore it.
int savedFd = -1;
termios saved{};

}  // namespace

bool IsTerminal(int fd) { return isatty(fd) == 1; }

TerminalSize SizeOfTerminal(int fd) {
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) != 0) return {};
  return {size.ws_col, size.ws_row};
}

std::optional<TerminalMode> ModeOfTerminal(int fd) {
  termios mode{};
  if (tcgetattr(fd, &mode) != 0) return std::nullopt;
  return TerminalMode{(mode.c_lflag & ICANON) != 0, (mode.c_lflag & ECHO) != 0};
}

void RestoreTerminal() noexcept {
  if (savedFd >= 0) tcsetattr(savedFd, TCSAFLUSH, &saved);
}

Terminal::Terminal(int fd) : fd_(fd) {
  termios raw{};
  if (tcgetattr(fd, &raw) != 0) throw PlayError("the keyboard is not a terminal");
  saved = raw;
  savedFd = fd;
  static const bool atExit = std::atexit([] { RestoreTerminal(); }) == 0;
  (void)atExit;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSAFLUSH, &raw) != 0) {
    savedFd = -1;
    throw PlayError("cannot put the terminal into raw mode");
  }
}

Terminal::~Terminal() {
  RestoreTerminal();
  savedFd = -1;
}

Input Terminal::ReadKeys(std::string& keys, int ms) {
  if (hungUp_) {
    SleepMs(ms);
    return Input::End;
  }
  const Input got = ReadSome(fd_, keys, ms, 64);
  if (got == Input::End) hungUp_ = true;
  return got;
}

}  // namespace os
