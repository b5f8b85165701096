#include "engines/RunStart.h"

#include "platform/os/Errors.h"
#include "platform/os/Log.h"
#include "platform/runtime/VbMath.h"

namespace engines {

void ShowReadFailure(os::MessageBox& box, const std::exception& e) {
  if (dynamic_cast<const os::FileError*>(&e) == nullptr) return;
  box.Show(std::string("Playback cut short: ") + e.what());
}

void TurnAtCurrentPos(state::PlayDllMod& mod) {
  if (mod.PlayDirection == 1) {
    mod.PlayDirection = -1;
    mod.PlayProgress = vb::Add(vb::Sub(mod.WaveNos, mod.CurrentPos), 1);
  } else if (mod.PlayDirection == -1) {
    mod.PlayDirection = 1;
    mod.PlayProgress = mod.CurrentPos;
  }
}

void ProgressAtCurrentPos(state::PlayDllMod& mod) {
  if (mod.PlayDirection == 1) {
    mod.PlayProgress = mod.CurrentPos;
  } else if (mod.PlayDirection == -1) {
    mod.PlayProgress = vb::Add(vb::Sub(mod.WaveNos, mod.CurrentPos), 1);
  }
}

void ClampPlayProgress(state::PlayDllMod& mod) {
  if (mod.PlayProgress > mod.WaveNos) mod.PlayProgress = mod.WaveNos;
  if (mod.PlayProgress < 1) mod.PlayProgress = 1;
}

void SetCurrentPosFromPlayed(state::PlayDllMod& mod, int32_t framesPlayed) {
  if (mod.PlayDirection == 1) {
    mod.CurrentPos = vb::Add(mod.PlayBase, framesPlayed);
  } else if (mod.PlayDirection == -1) {
    mod.CurrentPos = vb::Add(vb::Sub(mod.WaveNos, vb::Add(mod.PlayBase, framesPlayed)), 1);
  }
}

std::string MarkRunStarted(state::PlayDllMod& mod, bool counted, int32_t loopCount) {
  const int64_t first = mod.PlayDirection == 1 ? int64_t{mod.PlayBase} + 1 : int64_t{mod.WaveNos} - mod.PlayBase;
  os::LogDebug(std::string("run started ") + (mod.PlayDirection == 1 ? "forward" : "in reverse") + " from sample " +
               std::to_string(first) + " of " + std::to_string(mod.WaveNos) + (mod.LoopPlayON ? ", looping" : ""));
  if (mod.LoopPlayON) {
    mod.RunningState = state::kRunPlayingLoop;
    return counted ? LoopText(loopCount) : "Playing Loop";
  }
  mod.RunningState = state::kRunPlaying;
  return "Playing";
}

std::string LoopText(int32_t loopCount) { return "Playing Loop" + vb::Str(loopCount); }

}  // namespace engines
