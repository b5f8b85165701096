#include "tools/TerminalKeys.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <utility>

namespace playctl {

namespace {

// The one terminal in raw mode and how it was before; plain data, so that a
// signal handler may restore it.
int savedFd = -1;
termios saved{};

const std::pair<const char*, Action> kSequences[] = {
    {"\033[D", Action::Back}, {"\033OD", Action::Back}, {"\033[C", Action::Forward}, {"\033OC", Action::Forward},
    {"\033[H", Action::Home}, {"\033OH", Action::Home}, {"\033[1~", Action::Home},   {"\033[7~", Action::Home},
    {"\033[F", Action::End},  {"\033OF", Action::End},  {"\033[4~", Action::End},    {"\033[8~", Action::End},
};

bool SingleKey(char c, Action& action) {
  switch (c) {
    case ' ':
      action = Action::Pause;
      return true;
    case 'u':
      action = Action::UTurn;
      return true;
    case 'l':
      action = Action::Loop;
      return true;
    case '+':
    case '=':
      action = Action::Faster;
      return true;
    case '-':
      action = Action::Slower;
      return true;
    case 's':
      action = Action::Stop;
      return true;
    case 'q':
      action = Action::Quit;
      return true;
    default:
      return false;
  }
}

}  // namespace

std::vector<Action> DecodeKeys(std::string& pending) {
  std::vector<Action> actions;
  size_t at = 0;
  while (at < pending.size()) {
    if (pending[at] != '\033') {
      Action a;
      if (SingleKey(pending[at], a)) actions.push_back(a);
      ++at;
      continue;
    }
    bool matched = false;
    bool partial = false;
    for (const auto& [seq, action] : kSequences) {
      const std::string s(seq);
      const std::string have = pending.substr(at, s.size());
      if (have == s) {
        actions.push_back(action);
        at += s.size();
        matched = true;
        break;
      }
      if (have.size() < s.size() && s.compare(0, have.size(), have) == 0) partial = true;
    }
    if (matched) continue;
    if (partial) break;  // the rest of the sequence is still on its way
    ++at;                // an escape sequence we do not know: skip its escape
  }
  pending.erase(0, at);
  return actions;
}

void RestoreTerminal() noexcept {
  if (savedFd >= 0) tcsetattr(savedFd, TCSAFLUSH, &saved);
}

TerminalKeys::TerminalKeys(int fd) : fd_(fd) {
  termios raw{};
  if (tcgetattr(fd, &raw) != 0) throw std::runtime_error("the keyboard is not a terminal");
  saved = raw;
  savedFd = fd;
  static const bool atExit = std::atexit([] { RestoreTerminal(); }) == 0;
  (void)atExit;
  raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(fd, TCSAFLUSH, &raw) != 0) throw std::runtime_error("cannot put the terminal into raw mode");
}

TerminalKeys::~TerminalKeys() {
  RestoreTerminal();
  savedFd = -1;
}

std::vector<Action> TerminalKeys::Read(int ms) {
  pollfd p{fd_, POLLIN, 0};
  const int n = closed_ ? 0 : poll(&p, 1, ms);
  if (n <= 0) {
    if (closed_) poll(nullptr, 0, ms);
    pending_.clear();  // a lone Escape, or a sequence that never completed
    return {};
  }
  char bytes[64];
  const ssize_t got = read(fd_, bytes, sizeof bytes);
  if (got > 0) {
    pending_.append(bytes, static_cast<size_t>(got));
  } else if (got == 0 || errno != EINTR) {
    closed_ = true;  // the terminal hung up: time still passes, no more keys
  }
  return DecodeKeys(pending_);
}

}  // namespace playctl
