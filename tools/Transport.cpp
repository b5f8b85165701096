#include "tools/Transport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <stdexcept>

#include "platform/os/Stdio.h"

namespace playctl {

namespace {

constexpr int32_t kTerminalTickMs = 100;
constexpr int32_t kLogTickMs = 250;
constexpr double kJumpSeconds = 5.0;
constexpr double kStepSeconds = 0.1;
constexpr double kTempoStep = 0.1;
constexpr double kMeterSeconds = 0.1;

struct Named {
  const char* Name;
  Action What;
};
constexpr Named kNames[] = {
    {"space", Action::Pause}, {"u", Action::UTurn},       {"left", Action::Back},
    {"right", Action::Forward}, {"home", Action::Home},   {"end", Action::End},
    {"l", Action::Loop},      {"+", Action::Faster},      {"-", Action::Slower},
    {"s", Action::Stop},      {"q", Action::Quit},        {"[", Action::SelectFrom},
    {"]", Action::SelectTo},  {"x", Action::ClearSelection}, {"g", Action::GoTo},
    {",", Action::StepBack},  {".", Action::StepForward},
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

// A number that fills the whole text, at least 0; nothing otherwise.
std::optional<double> Number(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !(v >= 0) || v > 1e9) return std::nullopt;
  return v;
}

}  // namespace

const char* ActionName(Action action) {
  for (const Named& n : kNames)
    if (n.What == action) return n.Name;
  return "?";
}

std::optional<double> ParseTime(const std::string& given) {
  const std::string text = Trim(given);
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return Number(text);
  const std::optional<double> minutes = Number(text.substr(0, colon));
  const std::optional<double> seconds = Number(text.substr(colon + 1));
  if (!minutes || !seconds || *minutes != std::floor(*minutes) || *seconds >= 60) return std::nullopt;
  return *minutes * 60 + *seconds;
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
      const std::optional<double> seconds = Number(Trim(step.substr(4)));
      if (!seconds || *seconds > 1e6)
        throw std::invalid_argument("--script: \"" + step + "\" needs a number of seconds (wait 0.5)");
      at += std::llround(*seconds * 1000);
      continue;
    }
    if (step.rfind("g ", 0) == 0) {
      const std::optional<double> where = ParseTime(step.substr(2));
      if (!where) throw std::invalid_argument("--script: \"" + step + "\" needs a time (g 1.5 or g 1:02.5)");
      steps.push_back({at, Action::GoTo, *where});
      continue;
    }
    const auto named = std::find_if(std::begin(kNames), std::end(kNames),
                                    [&](const Named& n) { return step == n.Name && n.What != Action::GoTo; });
    if (named == std::end(kNames))
      throw std::invalid_argument("--script: unknown step \"" + step +
                                  "\" (wait SECONDS, space, u, left, right, home, end, l, +, -, s, q, [, ], x, "
                                  "g TIME, ',', '.')");
    steps.push_back({at, named->What, 0});
  }
  return steps;
}

Transport::Transport(PlaySession& session, const TransportSetup& setup, std::ostream& out)
    : session_(session),
      setup_(setup),
      out_(out),
      rate_(setup.Wave->Rate),
      direction_(setup.Reverse ? -1 : 1),
      loop_(setup.Loop),
      frames_(setup.Wave->Frames),
      tempoFor_(setup.Tempo),
      tempoRev_(setup.Tempo),
      tempoInForce_(setup.TempoApplies ? setup.Tempo : 1.0),
      pos_(setup.Reverse ? setup.Wave->Frames : 1) {
  session_.OnStatus([this](const std::string& ttl) { OnStatus(ttl); });
  if (!setup_.Terminal) return;
  screen_ = std::make_unique<StatusScreen>(out_, std::cerr, os::kStandardOutput);
  session_.OnDiagnostic([this](const std::string& line) { screen_->Above(line); });
  try {
    peaks_ = std::make_unique<WavePeaks>(setup_.Wave->Runs, setup_.Wave->Channels == 2, rate_);
  } catch (const os::PlayError& e) {
    screen_->Above(std::string("playctl: no overview of the wave: ") + e.what());
  }
}

Transport::~Transport() {
  session_.OnStatus(nullptr);
  session_.OnDiagnostic(nullptr);
}

void Transport::OnStatus(const std::string& ttl) {
  if (handingOver_) return;  // the hand-over's own reports: the transport knows what it did
  if (ttl == "Playing") {
    state_ = State::Playing;
    looping_ = false;
    ended_ = false;
  } else if (ttl.rfind("Playing Loop", 0) == 0) {
    // "Playing Loop" starts a looping run; "Playing Loop N" follows the Nth
    // restart, which takes the tempo anew.
    if (!looping_) loopCount_ = 0;
    state_ = State::Playing;
    looping_ = true;
    ended_ = false;
    if (ttl.size() > 12) loopCount_ = std::atoi(ttl.c_str() + 12);
    if (setup_.TempoApplies) tempoInForce_ = DirectionTempo();
  } else if (ttl == "Play Done") {
    state_ = State::Stopped;
    ended_ = true;
    pos_ = direction_ > 0 ? Highest() + 1 : Lowest();
  } else if (ttl == "Stopped") {
    state_ = State::Stopped;
  }
}

void Transport::Run(const std::vector<ScriptStep>& script, TerminalKeys* keys) {
  const bool showing = setup_.Terminal || setup_.Progress;
  const int32_t tick = setup_.Terminal ? kTerminalTickMs : kLogTickMs;
  const int64_t scriptEnd = script.empty() ? 0 : script.back().AtMs;
  size_t next = 0;
  Show();
  while (!quit_) {
    for (; next < script.size() && script[next].AtMs <= nowMs_ && !quit_; ++next)
      Do(script[next].What, script[next].Seconds);
    if (keys != nullptr && !quit_) {
      // On the virtual clock the wait for keys is what paces the run.
      const int wait = setup_.Simulate ? tick : 0;
      if (typed_) {
        Prompt(*keys, wait);
      } else {
        for (Action a : keys->Read(wait)) {
          if (a == Action::GoTo) {
            typed_ = "";  // the time is typed next
          } else {
            Do(a);
          }
        }
      }
    }
    if (quit_) break;
    if (keys != nullptr && ended_ && !setup_.KeepOpen && !typed_) break;  // the wave has played to its end
    if (keys == nullptr && next == script.size()) {
      if (state_ == State::Stopped) break;
      if (nowMs_ >= scriptEnd + setup_.AfterScriptMs) {
        Do(Action::Stop);
        break;
      }
    }
    // With nothing to show and no keys, the virtual clock runs to the next event at once.
    int64_t step = showing || keys != nullptr ? tick - nowMs_ % tick
                   : setup_.Simulate          ? std::numeric_limits<int32_t>::max()
                                              : kLogTickMs - nowMs_ % kLogTickMs;
    if (next < script.size()) step = std::min(step, script[next].AtMs - nowMs_);
    if (keys == nullptr && next == script.size()) step = std::min(step, scriptEnd + setup_.AfterScriptMs - nowMs_);
    if (step <= 0) continue;
    session_.Advance(static_cast<int32_t>(step));
    nowMs_ += step;
    if (showing && nowMs_ % tick == 0) Show();
  }
  if (screen_) {
    Show();
    screen_->Leave();
  }
}

void Transport::Prompt(TerminalKeys& keys, int ms) {
  const os::Input got = keys.ReadText(*typed_, ms);
  if (got == os::Input::TimedOut) return;
  const std::string text = *typed_;
  typed_.reset();
  if (got == os::Input::End) return;  // given up
  const std::optional<double> where = ParseTime(text);
  if (where) {
    Do(Action::GoTo, *where);
  } else {
    note_ = "g: \"" + text + "\" is not a time (SECONDS or M:SS.mmm)";
  }
}

void Transport::Do(Action action, double seconds) {
  if (!setup_.Terminal) {
    char stamp[48];
    std::snprintf(stamp, sizeof stamp, "[%8.3f s] key ", static_cast<double>(nowMs_) / 1000);
    out_ << stamp << ActionName(action);
    if (action == Action::GoTo) out_ << ' ' << Clock(std::llround(seconds * 1000));
    out_ << std::endl;
  }
  try {
    Track();
    Apply(action, seconds);
  } catch (const PlayFailure& e) {
    note_ = e.what();
    if (!setup_.Terminal) out_ << note_ << std::endl;
  }
  if (setup_.Terminal) Show();
}

void Transport::Track() {
  if (state_ != State::Playing || ended_) return;
  pos_ = std::clamp<int64_t>(base_ + session_.Position() - 1, Lowest(), Highest());
}

void Transport::StartAt(int64_t pos) {
  pos = std::clamp(pos, Lowest(), Highest());
  session_.Command(direction_ > 0 ? "PlayAtPos" : "PlayAtPosRev", {{"Pos", pos - base_ + 1}});
  pos_ = pos;
  parked_ = false;
  ended_ = false;
  loopCount_ = 0;
  state_ = State::Playing;
  if (setup_.TempoApplies) tempoInForce_ = DirectionTempo();
}

void Transport::StartFromEdge() {
  if (selLoop_) {
    StartAt(direction_ > 0 ? Lowest() : Highest());
    return;
  }
  session_.Command(direction_ > 0 ? "PlayAgain" : "PlayAgainRev");
  pos_ = direction_ > 0 ? Lowest() : Highest();
  parked_ = false;
  ended_ = false;
  loopCount_ = 0;
  state_ = State::Playing;
  if (setup_.TempoApplies) tempoInForce_ = DirectionTempo();
}

void Transport::Jump(int64_t pos) {
  pos = std::clamp(pos, Lowest(), Highest());
  if (state_ == State::Playing) {
    StartAt(pos);
    return;
  }
  pos_ = pos;
  parked_ = true;
  ended_ = false;
}

void Transport::HandOver(int64_t first, int64_t frames, bool loop) {
  handingOver_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{handingOver_};
  const EditWave& wave = *setup_.Wave;
  session_.HandOver(wave, ExcerptLists(wave.Runs, wave.Channels == 2, first - 1, frames),
                    static_cast<int32_t>(frames), loop);
  base_ = first;
  frames_ = frames;
}

void Transport::LoopSelection() {
  const int64_t from = selFrom_ > 0 ? selFrom_ : 1;
  const int64_t to = selTo_ > 0 ? selTo_ : setup_.Wave->Frames + int64_t{1};
  const bool playing = state_ == State::Playing;
  HandOver(from, to - from, true);
  selLoop_ = true;
  const int64_t at = pos_ >= from && pos_ < to ? pos_ : direction_ > 0 ? from : to - 1;
  if (playing) {
    StartAt(at);
  } else {
    pos_ = at;
    parked_ = true;
    ended_ = false;
  }
}

void Transport::EndSelectionLoop() {
  const bool playing = state_ == State::Playing;
  HandOver(1, setup_.Wave->Frames, false);
  selLoop_ = false;
  loop_ = false;
  if (playing) {
    StartAt(pos_);
  } else {
    parked_ = true;
  }
}

void Transport::Mark(Action action) {
  const int64_t at = std::clamp<int64_t>(pos_, 1, setup_.Wave->Frames);
  if (action == Action::SelectFrom) {
    selFrom_ = at;
    if (selTo_ != 0 && selTo_ <= at) selTo_ = 0;
  } else {
    selTo_ = at > 1 ? at : 0;
    if (selFrom_ != 0 && selFrom_ >= at) selFrom_ = 0;
  }
  if (selLoop_) selFrom_ != 0 || selTo_ != 0 ? LoopSelection() : EndSelectionLoop();
}

void Transport::ChangeTempo(Action action) {
  if (!setup_.TempoApplies) {
    note_ = "tempo does not apply: the waveOut engine plays at the wave's own rate";
    return;
  }
  double& tempo = direction_ > 0 ? tempoFor_ : tempoRev_;
  const double step = action == Action::Faster ? kTempoStep : -kTempoStep;
  tempo = std::max(kTempoStep, std::round((tempo + step) * 10) / 10);
  session_.Command(direction_ > 0 ? "PlayTempoFor" : "PlayTempoRev", {{"value", tempo}});
}

void Transport::PauseOrGoOn() {
  if (state_ == State::Playing) {
    session_.Command("PlayPause");
    state_ = State::Paused;
  } else if (state_ == State::Paused && !parked_) {
    session_.Command("PlayContinue");
    state_ = State::Playing;
    if (setup_.TempoApplies) tempoInForce_ = DirectionTempo();
  } else if (ended_) {
    StartFromEdge();
  } else {
    StartAt(pos_);
  }
}

void Transport::TurnRound() {
  direction_ = -direction_;
  if (state_ != State::Playing) {
    parked_ = !ended_;  // the next start goes the other way from the playhead
    return;
  }
  session_.Command("PlayUTurn");
  if (setup_.TempoApplies) tempoInForce_ = DirectionTempo();
}

void Transport::Apply(Action action, double seconds) {
  switch (action) {
    case Action::Pause:
      PauseOrGoOn();
      break;
    case Action::UTurn:
      TurnRound();
      break;
    case Action::Back:
    case Action::Forward:
      Jump(pos_ + std::llround(kJumpSeconds * rate_) * (action == Action::Back ? -1 : 1));
      break;
    case Action::StepBack:
    case Action::StepForward:
      if (state_ != State::Paused) {
        note_ = "',' and '.' step while paused";
        break;
      }
      Jump(pos_ + std::llround(kStepSeconds * rate_) * (action == Action::StepBack ? -1 : 1));
      break;
    case Action::GoTo:
      Jump(std::llround(seconds * rate_) + 1);
      break;
    case Action::Home:
    case Action::End:
      direction_ = action == Action::Home ? 1 : -1;
      StartFromEdge();
      break;
    case Action::SelectFrom:
    case Action::SelectTo:
      Mark(action);
      break;
    case Action::ClearSelection:
      if (selLoop_) EndSelectionLoop();
      selFrom_ = selTo_ = 0;
      break;
    case Action::Loop:
      if (selFrom_ != 0 || selTo_ != 0) {
        selLoop_ ? EndSelectionLoop() : LoopSelection();
      } else {
        loop_ = !loop_;
        session_.Command("LoopPlayON", {{"value", loop_}});
      }
      break;
    case Action::Faster:
    case Action::Slower:
      ChangeTempo(action);
      break;
    case Action::Stop:
    case Action::Quit:
      if (state_ != State::Stopped) session_.Command("StopPlay");
      state_ = State::Stopped;
      quit_ = action == Action::Quit;
      break;
  }
}

std::vector<std::string> Transport::Fields() const {
  const auto ms = [this](int64_t frames) { return frames * 1000 / rate_; };
  std::string state = state_ == State::Paused ? "paused" : ended_ ? "at the end" : state_ == State::Stopped ? "stopped" : "playing";
  if (state_ == State::Playing && looping_)
    state = loopCount_ > 0 ? "looping (" + std::to_string(loopCount_) + ")" : "looping";
  const int64_t selFrom = selFrom_ > 0 ? selFrom_ : 1;
  const int64_t selTo = selTo_ > 0 ? selTo_ : setup_.Wave->Frames + int64_t{1};
  const std::string range = Clock(ms(selFrom - 1)) + "-" + Clock(ms(selTo - 1));
  char tempo[64];
  std::snprintf(tempo, sizeof tempo, "tempo %.2f", tempoInForce_);
  std::string tempoField = tempo;
  if (setup_.TempoApplies && std::abs(DirectionTempo() - tempoInForce_) > 1e-9) {
    std::snprintf(tempo, sizeof tempo, " (%.2f from the next start)", DirectionTempo());
    tempoField += tempo;
  }
  return {Clock(ms(pos_ - 1)) + " / " + Clock(ms(setup_.Wave->Frames)),
          direction_ > 0 ? "forward" : "reverse",
          state,
          selLoop_ ? "loop " + range : loop_ ? "loop on" : "loop off",
          tempoField,
          session_.EngineName(),
          setup_.Output.empty() ? "default output" : setup_.Output,
          selFrom_ != 0 || selTo_ != 0 ? "selection " + range : "",
          typed_ ? "go to (SECONDS or M:SS): " + *typed_ + "_" : "",
          note_};
}

std::vector<std::string> Transport::ScreenLines(int width) const {
  std::vector<std::string> lines = PackFields(Fields(), width);
  if (!peaks_) return lines;
  const int64_t head = pos_ - 1;
  lines.push_back(OverviewLine(*peaks_, width, head, selFrom_ > 0 ? selFrom_ - 1 : 0,
                               selTo_ > 0 ? selTo_ - 1 : (selFrom_ > 0 ? peaks_->Frames() : 0)));
  const int64_t span = std::llround(kMeterSeconds * rate_);
  const auto level = direction_ > 0 ? peaks_->Peak(head - span, head) : peaks_->Peak(head, head + span);
  lines.push_back(MeterLine(level, peaks_->Channels(), state_ == State::Playing, width));
  return lines;
}

std::string Transport::LogLine() const {
  std::string line;
  for (const std::string& field : Fields())
    if (!field.empty() && field != "loop off") line += (line.empty() ? "" : "  ") + field;
  return line;
}

void Transport::Show() {
  Track();
  if (screen_) {
    screen_->Draw([this](int width) { return ScreenLines(width); });
  } else if (setup_.Progress) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%8.3f s] ", static_cast<double>(nowMs_) / 1000);
    out_ << stamp << LogLine() << std::endl;
  }
}

}  // namespace playctl
