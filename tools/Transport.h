#pragma once
// Steering a run while it plays: the actions of the transport keys, taken
// from a terminal or from a script by time, applied to a PlaySession.
//
// Actions: Pause (space) pauses and continues, or after a stop plays on from
// where the run stood (from the start once it had played to its end); UTurn
// (u) turns round at the present position; Back / Forward (arrows) play from
// 5 s before / after the present position in the present direction; Home
// plays forward from the start, End backwards from the end; Loop (l) turns
// the loop switch over; Faster / Slower (+ / -) change the tempo of the
// present direction by 0.1 (the server applies it from the next start);
// Stop (s) stops; Quit (q) stops and ends the run. A command the server
// refuses is reported and the run goes on.
//
// A status line shows position / length (m:ss.mmm), direction, state,
// tempo, engine and output: on a terminal rewritten in place ten times a
// second, otherwise as a log line every quarter second.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tools/PlaySession.h"
#include "tools/TerminalKeys.h"

namespace playctl {

struct ScriptStep {
  int64_t AtMs = 0;  // time since the start of the run
  Action What = Action::Quit;
};

// "wait 1.0; u; wait 0.5; space; ..." with the key names space, u, left,
// right, home, end, l, +, -, s, q. Throws std::invalid_argument naming the
// step that is not understood.
std::vector<ScriptStep> ParseScript(const std::string& text);

// The name of an action as a script writes it.
const char* ActionName(Action action);

struct TransportSetup {
  int32_t Rate = 0;
  int32_t Frames = 0;
  bool Reverse = false;  // the direction of the run's first start
  bool Loop = false;
  double Tempo = 1.0;  // both directions at the start
  bool Simulate = false;
  bool Terminal = false;  // draw the status line in place
  int Columns = 0;        // the terminal's width; a longer status line is cut (0: not cut)
  std::string Output;
  // Without keys, how long the run may go on after the last scripted step
  // before it is stopped (a loop's --seconds, else the wave's length).
  int64_t AfterScriptMs = 0;
};

class Transport final {
 public:
  // REQUIRES: the session's wave is prepared and the first start was made.
  Transport(PlaySession& session, const TransportSetup& setup, std::ostream& out);
  ~Transport();  // the session reports to the transport no more
  Transport(const Transport&) = delete;
  Transport& operator=(const Transport&) = delete;

  // Runs the script's steps at their times and the keys as they come
  // (`keys` may be null). With keys the run ends at Quit; without, also
  // when the script is done and the run has stopped.
  void Run(const std::vector<ScriptStep>& script, TerminalKeys* keys);

 private:
  enum class State { Playing, Paused, Stopped };

  void Do(Action action);
  void Apply(Action action);
  void PlayFrom(int64_t pos);
  void OnStatus(const std::string& ttl);
  void Show();
  std::string StatusLine() const;

  PlaySession& session_;
  TransportSetup setup_;
  std::ostream& out_;
  int64_t nowMs_ = 0;
  int direction_ = 1;
  State state_ = State::Playing;
  bool ended_ = false;  // played to its end: a restart begins at the start
  bool loop_ = false;
  bool looping_ = false;   // the run started with the loop switch on
  int32_t loopCount_ = 0;  // restarts of the looping run
  double tempoFor_ = 1.0;
  double tempoRev_ = 1.0;
  int32_t pos_ = 1;
  bool quit_ = false;
  std::string note_;  // the last refusal or report worth showing
};

}  // namespace playctl
