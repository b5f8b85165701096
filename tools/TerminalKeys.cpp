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

std::vector<Action> TerminalKeys::Read(int ms) {
  if (terminal_.ReadKeys(pending_, ms) != os::Input::Data) {
    pending_.clear();  // a lone Escape, or a sequence that never completed
    return {};
  }
  return DecodeKeys(pending_);
}

}  // namespace playctl
