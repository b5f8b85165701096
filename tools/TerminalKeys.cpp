#include "tools/TerminalKeys.h"

#include <utility>

namespace playctl {

namespace {

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
    case '[':
      action = Action::SelectFrom;
      return true;
    case ']':
      action = Action::SelectTo;
      return true;
    case 'x':
      action = Action::ClearSelection;
      return true;
    case 'g':
      action = Action::GoTo;
      return true;
    case ',':
      action = Action::StepBack;
      return true;
    case '.':
      action = Action::StepForward;
      return true;
    default:
      return false;
  }
}

// The length of the escape sequence at `at` (ESC [ parameters final, ESC O
// final, or ESC and one more byte); 0 when it is not complete yet.
size_t UnknownSequenceLength(const std::string& bytes, size_t at) {
  if (at + 1 >= bytes.size()) return 0;
  if (bytes[at + 1] == 'O') return at + 2 < bytes.size() ? 3 : 0;
  if (bytes[at + 1] != '[') return 1;  // Escape itself; the byte after it is a key of its own
  for (size_t i = at + 2; i < bytes.size(); ++i)
    if (bytes[i] >= '@' && bytes[i] <= '~') return i - at + 1;
  return 0;
}

}  // namespace

std::vector<Action> DecodeKeys(std::string& pending) {
  std::vector<Action> actions;
  size_t at = 0;
  while (at < pending.size()) {
    if (pending[at] != '\033') {
      Action a;
      const bool known = SingleKey(pending[at], a);
      ++at;
      if (!known) continue;
      actions.push_back(a);
      if (a == Action::GoTo) break;  // what follows is the time
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
    // A sequence we do not know goes whole, so that its bytes are not taken for keys.
    const size_t length = UnknownSequenceLength(pending, at);
    if (length == 0) break;
    at += length;
  }
  pending.erase(0, at);
  return actions;
}

std::vector<Action> TerminalKeys::Read(int ms) {
  if (terminal_.ReadKeys(pending_, ms) != os::Input::Data) {
    pending_.clear();  // a lone Escape, or a sequence that never completed
    return {};
  }
  return DecodeKeys(pending_);
}

os::Input TerminalKeys::ReadText(std::string& text, int ms) {
  if (pending_.empty() && terminal_.ReadKeys(pending_, ms) == os::Input::End) return os::Input::End;
  size_t at = 0;
  os::Input result = os::Input::TimedOut;
  for (; at < pending_.size() && result == os::Input::TimedOut; ++at) {
    const char c = pending_[at];
    if (c == '\r' || c == '\n') {
      result = os::Input::Data;
    } else if (c == '\033' || c == '\003') {
      result = os::Input::End;
    } else if (c == '\177' || c == '\b') {
      if (!text.empty()) text.pop_back();
    } else if (c >= ' ' && c <= '~') {
      text += c;
    }
  }
  // After Escape, the rest of its sequence (an arrow key, say) goes too.
  pending_.erase(0, result == os::Input::End ? pending_.size() : at);
  return result;
}

}  // namespace playctl
