#include "tools/Transport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace playctl {

namespace {

constexpr int32_t kTerminalTickMs = 100;
constexpr int32_t kLogTickMs = 250;
constexpr double kJumpSeconds = 5.0;
constexpr double kTempoStep = 0.1;

struct Named {
  const char* Name;
  Action What;
};
constexpr Named kNames[] = {
    {"space", Action::Pause}, {"u", Action::UTurn}, {"left", Action::Back}, {"right", Action::Forward},
    {"home", Action::Home},   {"end", Action::End}, {"l", Action::Loop},    {"+", Action::Faster},
    {"-", Action::Slower},    {"s", Action::Stop},  {"q", Action::Quit},
};

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\n");
  if (a == std::string::npos) return "";
  return s.substr(a, s.find_last_not_of(" \t\n") - a + 1);
}

std::string Clock(int64_t ms) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld.%03lld", static_cast<long long>(ms / 60000),
                static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
  return text;
}

}  // namespace

const char* ActionName(Action action) {
  for (const Named& n : kNames)
    if (n.What == action) return n.Name;
  return "?";
}

std::vector<ScriptStep> ParseScript(const std::string& text) {
  std::vector<ScriptStep> steps;
  int64_t at = 0;
  size_t from = 0;
  while (from <= text.size()) {
    const size_t semi = std::min(text.find(';', from), text.size());
    const std::string step = Trim(text.substr(from, semi - from));
    from = semi + 1;
    if (step.empty()) continue;
    if (step.rfind("wait", 0) == 0) {
      const std::string number = Trim(step.substr(4));
      char* end = nullptr;
      const double seconds = std::strtod(number.c_str(), &end);
      if (number.empty() || *end != '\0' || !(seconds >= 0) || seconds > 1e6)
        throw std::invalid_argument("--script: \"" + step + "\" needs a number of seconds (wait 0.5)");
      at += std::llround(seconds * 1000);
      continue;
    }
    const auto named =
        std::find_if(std::begin(kNames), std::end(kNames), [&](const Named& n) { return step == n.Name; });
    if (named == std::end(kNames))
      throw std::invalid_argument("--script: unknown step \"" + step +
                                  "\" (wait SECONDS, space, u, left, right, home, end, l, +, -, s, q)");
    steps.push_back({at, named->What});
  }
  return steps;
}

Transport::Transport(PlaySession& session, const TransportSetup& setup, std::ostream& out)
    : session_(session),
      setup_(setup),
      out_(out),
      direction_(setup.Reverse ? -1 : 1),
      loop_(setup.Loop),
      tempoFor_(setup.Tempo),
      tempoRev_(setup.Tempo),
      pos_(setup.Reverse ? setup.Frames : 1) {
  session_.OnStatus([this](const std::string& ttl) { OnStatus(ttl); });
}

Transport::~Transport() { session_.OnStatus(nullptr); }

void Transport::OnStatus(const std::string& ttl) {
  if (ttl == "Playing") {
    state_ = State::Playing;
    looping_ = false;
    ended_ = false;
  } else if (ttl.rfind("Playing Loop", 0) == 0) {
    // "Playing Loop" starts a looping run; "Playing Loop N" follows the Nth restart.
    if (!looping_) loopCount_ = 0;
    state_ = State::Playing;
    looping_ = true;
    ended_ = false;
    if (ttl.size() > 12) loopCount_ = std::atoi(ttl.c_str() + 12);
  } else if (ttl == "Play Done") {
    state_ = State::Stopped;
    ended_ = true;
  } else if (ttl == "Stopped") {
    state_ = State::Stopped;
  }
}

void Transport::Run(const std::vector<ScriptStep>& script, TerminalKeys* keys) {
  const int32_t tick = setup_.Terminal ? kTerminalTickMs : kLogTickMs;
  const int64_t scriptEnd = script.empty() ? 0 : script.back().AtMs;
  size_t next = 0;
  Show();
  while (!quit_) {
    for (; next < script.size() && script[next].AtMs <= nowMs_ && !quit_; ++next) Do(script[next].What);
    if (keys != nullptr && !quit_) {
      // On the virtual clock the wait for keys is what paces the run.
      for (Action a : keys->Read(setup_.Simulate ? tick : 0)) Do(a);
    }
    if (quit_) break;
    if (keys == nullptr && next == script.size()) {
      if (state_ == State::Stopped) break;
      if (nowMs_ >= scriptEnd + setup_.AfterScriptMs) {
        Do(Action::Stop);
        break;
      }
    }
    int64_t step = tick - nowMs_ % tick;
    if (next < script.size()) step = std::min(step, script[next].AtMs - nowMs_);
    if (step <= 0) continue;
    session_.Advance(static_cast<int32_t>(step));
    nowMs_ += step;
    if (nowMs_ % tick == 0) Show();
  }
  if (setup_.Terminal) out_ << std::endl;
}

void Transport::Do(Action action) {
  if (!setup_.Terminal) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%8.3f s] ", static_cast<double>(nowMs_) / 1000);
    out_ << stamp << "key " << ActionName(action) << std::endl;
  }
  try {
    if (!ended_ && state_ != State::Stopped) pos_ = session_.Position();
    Apply(action);
  } catch (const PlayFailure& e) {
    note_ = e.what();
    if (!setup_.Terminal) out_ << note_ << std::endl;
  }
  if (setup_.Terminal) Show();
}

void Transport::PlayFrom(int64_t pos) {
  pos = std::clamp<int64_t>(pos, 1, setup_.Frames);
  loopCount_ = 0;
  session_.Command(direction_ > 0 ? "PlayAtPos" : "PlayAtPosRev", {{"Pos", pos}});
}

void Transport::Apply(Action action) {
  switch (action) {
    case Action::Pause:
      if (state_ == State::Playing) {
        session_.Command("PlayPause");
        state_ = State::Paused;
      } else if (state_ == State::Paused) {
        session_.Command("PlayContinue");
        state_ = State::Playing;
      } else if (ended_) {
        loopCount_ = 0;
        session_.Command(direction_ > 0 ? "PlayAgain" : "PlayAgainRev");
      } else {
        PlayFrom(pos_);
      }
      break;
    case Action::UTurn:
      session_.Command("PlayUTurn");
      direction_ = -direction_;
      break;
    case Action::Back:
    case Action::Forward: {
      const int64_t jump = std::llround(kJumpSeconds * setup_.Rate) * (action == Action::Back ? -1 : 1);
      PlayFrom(pos_ + jump);
      break;
    }
    case Action::Home:
    case Action::End:
      direction_ = action == Action::Home ? 1 : -1;
      loopCount_ = 0;
      session_.Command(action == Action::Home ? "PlayAgain" : "PlayAgainRev");
      break;
    case Action::Loop:
      loop_ = !loop_;
      session_.Command("LoopPlayON", {{"value", loop_}});
      break;
    case Action::Faster:
    case Action::Slower: {
      double& tempo = direction_ > 0 ? tempoFor_ : tempoRev_;
      const double step = action == Action::Faster ? kTempoStep : -kTempoStep;
      tempo = std::max(kTempoStep, std::round((tempo + step) * 10) / 10);
      session_.Command(direction_ > 0 ? "PlayTempoFor" : "PlayTempoRev", {{"value", tempo}});
      break;
    }
    case Action::Stop:
    case Action::Quit:
      if (state_ != State::Stopped) session_.Command("StopPlay");
      state_ = State::Stopped;
      quit_ = action == Action::Quit;
      break;
  }
}

std::string Transport::StatusLine() const {
  const int64_t posMs = static_cast<int64_t>(pos_ - 1) * 1000 / setup_.Rate;
  const int64_t lengthMs = static_cast<int64_t>(setup_.Frames) * 1000 / setup_.Rate;
  std::string state = state_ == State::Paused ? "paused" : state_ == State::Stopped ? "stopped" : "playing";
  if (state_ == State::Playing && looping_)
    state = loopCount_ > 0 ? "looping (" + std::to_string(loopCount_) + ")" : "looping";
  char tempo[32];
  std::snprintf(tempo, sizeof tempo, "tempo %.2f", direction_ > 0 ? tempoFor_ : tempoRev_);
  std::string line = Clock(posMs) + " / " + Clock(lengthMs) + "  " + (direction_ > 0 ? "forward" : "reverse") + "  " +
                     state + (loop_ ? "  loop on" : "") + "  " + tempo + "  " + session_.EngineName() + "  " +
                     (setup_.Output.empty() ? "default output" : setup_.Output);
  if (!note_.empty() && setup_.Terminal) line += "  (" + note_ + ")";
  return line;
}

void Transport::Show() {
  if (!ended_ && state_ != State::Stopped) pos_ = session_.Position();
  if (setup_.Terminal) {
    // A line that wrapped could not be rewritten in place.
    std::string line = StatusLine();
    if (setup_.Columns > 1 && line.size() >= static_cast<size_t>(setup_.Columns))
      line.resize(static_cast<size_t>(setup_.Columns - 1));
    out_ << "\r\033[K" << line << std::flush;
    return;
  }
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%8.3f s] ", static_cast<double>(nowMs_) / 1000);
  out_ << stamp << StatusLine() << std::endl;
}

}  // namespace playctl
