#pragma once
// Where a run starts, where it stands while it plays, and what a start
// reports: the rules the three engines share. Free functions over the shared
// playback state; loop thread only. Arithmetic is 32-bit and checked
// (os::OverflowError). Each engine calls them in its own order.

#include <cstdint>
#include <exception>
#include <string>

#include "platform/os/MessageBox.h"
#include "state/PlayDllMod.h"

namespace engines {

// A chunk that could not be read ends a run as its end would (or fails its
// start), with the engine's usual reports. When the cause is a file error (a
// file truncated or deleted while it plays) the host also hears of it: the
// error, which names the file, is shown on the server's message box. Other
// errors are only logged by the engine.
void ShowReadFailure(os::MessageBox& box, const std::exception& e);

// UTurn's change of direction at CurrentPos: from 1 to -1 with PlayProgress
// = WaveNos - CurrentPos + 1, from -1 to 1 with PlayProgress = CurrentPos.
// Any other PlayDirection: nothing changes.
void TurnAtCurrentPos(state::PlayDllMod& mod);

// PlayAtCurrentPosition's start: PlayProgress = CurrentPos when PlayDirection
// is 1, WaveNos - CurrentPos + 1 when it is -1, unchanged otherwise.
void ProgressAtCurrentPos(state::PlayDllMod& mod);

// PlayProgress to at most WaveNos, then to at least 1.
void ClampPlayProgress(state::PlayDllMod& mod);

// CurrentPos of a run that has played `framesPlayed` frames from PlayBase:
// PlayBase + frames forward, WaveNos - (PlayBase + frames) + 1 in reverse;
// unchanged for any other PlayDirection.
void SetCurrentPosFromPlayed(state::PlayDllMod& mod, int32_t framesPlayed);

// A run has started: RunningState kRunPlayingLoop with LoopPlayON set, else
// kRunPlaying. Returns the
// report: "Playing" without the loop switch; with it "Playing Loop", or the
// counted LoopText(loopCount) when `counted` (UTurn, PlayAtCurrentPosition).
std::string MarkRunStarted(state::PlayDllMod& mod, bool counted, int32_t loopCount);

// "Playing Loop" followed by the count with one leading blank ("Playing Loop 2").
std::string LoopText(int32_t loopCount);

}  // namespace engines
