#pragma once
// Steering a run while it plays: the actions of the transport keys, taken
// from a terminal or from a script by time, applied to a PlaySession.
//
// Actions: Pause (space) pauses and continues, or after a stop plays on from
// where the run stood (from the start once it had played to its end); UTurn
// (u) turns round at the present position; Back / Forward (arrows) go 5 s
// back / on in the present direction; Home plays forward from the start,
// End backwards from the end; SelectFrom / SelectTo ([ / ]) mark the
// selection's first frame and the frame after its last at the playhead (a
// mark that would cross the other one drops it; a selection with one mark
// runs to the wave's start or end); ClearSelection (x) drops both; Loop (l)
// loops the selection, or the whole wave when there is none, and ends the
// loop again; GoTo (g SECONDS, or M:SS.mmm) goes to a time; StepBack /
// StepForward (, / .) move the playhead 100 ms while paused; Faster /
// Slower (+ / -) change the tempo of the present direction by 0.1, which
// the engines take at the next start (until then the status shows it as
// pending; the waveOut engine ignores tempo, and says so); Stop (s) stops;
// Quit (q) stops and ends the run. A jump while playing plays on from there;
// while paused or stopped it only moves the playhead. A command the server
// refuses is reported and the run goes on.
//
// A selection loops frame-exactly: the selection is handed over as a wave of
// its own with the loop switch on, and the whole wave again when the loop
// ends; positions shown and jumped to are the whole wave's throughout, and
// jumps stay inside the looping selection.
//
// On a terminal a status area (StatusScreen) shows position / length,
// direction, state, loop, tempo, engine and output, the selection, an
// overview of the wave with the playhead and a level meter, ten times a
// second; the server's diagnostics print above it. The run ends when the
// wave has played to its end, unless KeepOpen (or a loop keeps it going).
// Without a terminal, each action is logged and, with Progress, a status
// line every quarter second.

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tools/EditList.h"
#include "tools/PlaySession.h"
#include "tools/StatusScreen.h"
#include "tools/TerminalKeys.h"
#include "tools/WavePeaks.h"

namespace playctl {

struct ScriptStep {
  int64_t AtMs = 0;  // time since the start of the run
  Action What = Action::Quit;
  double Seconds = 0;  // GoTo: where to
};

// "wait 1.0; u; wait 0.5; space; g 1:02.5; ..." with the key names space,
// u, left, right, home, end, l, +, -, s, q, [, ], x, g TIME, ',' and '.'.
// Throws std::invalid_argument naming the step that is not understood.
std::vector<ScriptStep> ParseScript(const std::string& text);

// A time as typed after g: SECONDS ("75.5") or M:SS ("1:15.5"); nothing when
// the text is not one.
std::optional<double> ParseTime(const std::string& text);

// The name of an action as a script writes it.
const char* ActionName(Action action);

struct TransportSetup {
  const EditWave* Wave = nullptr;  // the wave handed over (its runs make the excerpts)
  bool Reverse = false;            // the direction of the run's first start
  bool Loop = false;
  double Tempo = 1.0;  // both directions at the start
  bool TempoApplies = true;  // false with the waveOut engine
  bool Simulate = false;
  bool Terminal = false;  // draw the status area
  bool Progress = false;  // without a terminal: a status line every quarter second
  bool KeepOpen = false;  // on a terminal, stay when the wave has played to its end
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
  // (`keys` may be null). With keys the run ends at Quit or at the wave's
  // end (see above); without, also when the script is done and the run has
  // stopped.
  void Run(const std::vector<ScriptStep>& script, TerminalKeys* keys);

 private:
  enum class State { Playing, Paused, Stopped };

  void Do(Action action, double seconds = 0);
  void Apply(Action action, double seconds);
  void PauseOrGoOn();
  void TurnRound();
  void Prompt(TerminalKeys& keys, int ms);
  void StartAt(int64_t pos);
  void StartFromEdge();
  void Jump(int64_t pos);
  void Mark(Action action);
  void LoopSelection();
  void EndSelectionLoop();
  void HandOver(int64_t first, int64_t frames, bool loop);
  void ChangeTempo(Action action);
  double DirectionTempo() const { return direction_ > 0 ? tempoFor_ : tempoRev_; }
  int64_t Lowest() const { return selLoop_ ? base_ : 1; }
  int64_t Highest() const { return selLoop_ ? base_ + frames_ - 1 : setup_.Wave->Frames; }
  void Track();
  void OnStatus(const std::string& ttl);
  void Show();
  std::vector<std::string> Fields() const;
  std::vector<std::string> ScreenLines(int width) const;
  std::string LogLine() const;

  PlaySession& session_;
  TransportSetup setup_;
  std::ostream& out_;
  std::unique_ptr<StatusScreen> screen_;
  std::unique_ptr<WavePeaks> peaks_;
  int32_t rate_;
  int64_t nowMs_ = 0;
  int direction_ = 1;
  State state_ = State::Playing;
  bool parked_ = false;  // the playhead moved while not playing: the next continue starts there
  bool ended_ = false;   // played to its end: a restart begins at the start
  bool loop_ = false;    // the whole wave's loop switch
  bool looping_ = false;   // the run started with the loop switch on
  int32_t loopCount_ = 0;  // restarts of the looping run
  bool handingOver_ = false;
  // The selection, 1-based frames of the whole wave: [selFrom_, selTo_); 0: no mark.
  int64_t selFrom_ = 0;
  int64_t selTo_ = 0;
  bool selLoop_ = false;  // the selection is handed over and loops
  int64_t base_ = 1;      // the whole wave's frame where the handed-over wave begins
  int64_t frames_ = 0;    // frames of the handed-over wave
  double tempoFor_ = 1.0;
  double tempoRev_ = 1.0;
  double tempoInForce_ = 1.0;  // what the engine took at the run's start
  int64_t pos_ = 1;            // the playhead, a frame of the whole wave
  bool quit_ = false;
  std::optional<std::string> typed_;  // the time being typed after g
  std::string note_;                  // the last refusal or remark worth showing
};

}  // namespace playctl
