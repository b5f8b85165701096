#include "engines/StreamDx9Class.h"

#include <algorithm>
#include <exception>
#include <string>

#include "engines/EngineGeometry.h"
#include "engines/RunStart.h"
#include "engines/SoundServiceLibrary.h"
#include "platform/os/Log.h"
#include "platform/runtime/VbMath.h"
#include "stream/FillPlayChunk.h"

namespace engines {

namespace {

void LogFailure(const char* where, const std::exception& e) {
  os::LogCaught(std::string("DirectSound 9 engine, ") + where, e);
}

}  // namespace

StreamDx9Class::StreamDx9Class(state::PlayContext& ctx)
    : ctx_(ctx), mod_(ctx.Mod), dx9_(ctx.Dx9Mod), form_(ctx.Loop), Dx9CallBackTimer(form_.Dx9Timer) {
  dx9_.ServiceHandle = 0;
  Dx9CallBackTimer.SetOnTick([this] { Dx9CallBackTimer_Timer(); });
}

StreamDx9Class::~StreamDx9Class() {
  try {
    ReleaseEngine();
  } catch (const std::exception& e) {
    LogFailure("release", e);
  }
  Dx9CallBackTimer.SetEnabled(false);
  Dx9CallBackTimer.SetOnTick(nullptr);
}

SoundServiceLibrary& StreamDx9Class::Library() {
  if (!library_) library_ = std::make_unique<SoundServiceLibrary>(ctx_.Audio);
  return *library_;
}

bool StreamDx9Class::PutONDx9Ds(int32_t& MFrmHwnd) {
  if (!ctx_.Audio.Offer().Dx9) {
    ReleaseEngine();
    return false;
  }
  WindowHandle = MFrmHwnd;
  return true;
}

// ------------------------------------------------------------ buffer

bool StreamDx9Class::CreateSoundBuffer() {
  bool ok = false;
  try {
    if (mod_.RunningState != state::kRunIdle) StopInternal();
    // The polling interval follows the tempo of the direction in force now.
    double tempo = 0;
    if (DirectionTempo(mod_, tempo)) Dx9CallBackTimer.SetInterval(vb::CLng(4.0 / tempo * 25));
    SetBufferGeometry(mod_);
    const int32_t bytesPer100Ms = vb::CLng(mod_.FmtFriq * 0.1 * mod_.FmtChannal * 2);
    dx9_.ServiceHandle = Library().Service02(dx9_.ServiceHandle, WindowHandle, mod_.FmtChannal, mod_.FmtFriq,
                                             mod_.BufferBytes, bytesPer100Ms);
    ok = dx9_.ServiceHandle != 0;
  } catch (const std::exception& e) {
    LogFailure("CreateSoundBuffer", e);
  }
  if (!ok) {
    RaiseMsgBoxOb("S2", "Play Buffer - Failed");
    return false;
  }
  BufferLive = true;
  return true;
}

// ------------------------------------------------------------ starts

// Without an instance of the library (its buffer was refused) no start can
// succeed; it fails as the library's refusal would, before a chunk sized from
// the format is built.
bool StreamDx9Class::HaveInstance() {
  if (dx9_.ServiceHandle != 0) return true;
  RaiseMsgBoxOb("S2", "Play Failed");
  return false;
}

// The common tail of the starts, after FillPlayChunk(1): half 1 to the
// library, play from the buffer's start at the direction's rate, report.
// Library results other than 1 give "Play Failed"; errors propagate.
bool StreamDx9Class::StartRun(bool countedLoopText, bool resetLoopCount) {
  SoundServiceLibrary& lib = Library();
  if (lib.Service06(dx9_.ServiceHandle, HalfData(mod_, 1), mod_.HalfBytes, 0, dx9_.EndHalf, dx9_.EndTicks) != 1) {
    RaiseMsgBoxOb("S2", "Play Failed");
    return false;
  }
  if (resetLoopCount) LoopCount = 0;
  mod_.EndOfData = false;
  ComputePlayFriq(mod_);
  if (lib.Service04(dx9_.ServiceHandle, 1, mod_.PlayFriq) != 1) {
    RaiseMsgBoxOb("S2", "Play Failed");
    return false;
  }
  Dx9CallBackTimer.SetEnabled(true);
  RaiseMsgBoxOb("S2", MarkRunStarted(mod_, countedLoopText, LoopCount));
  BufferLive = true;
  return true;
}

bool StreamDx9Class::PlayMe() {
  try {
    StopInternal();
    mod_.PlayProgress = 1;
    mod_.TailMs = 0;
    mod_.PlayBase = 0;
    dx9_.EndHalf = 0;
    dx9_.EndTicks = 0;
    const int32_t half = 1;
    if (!HaveInstance()) return false;
    stream::FillPlayChunk(mod_, dx9_, half);
    return StartRun(false, true);
  } catch (const std::exception& e) {
    LogFailure("PlayMe", e);
    ShowReadFailure(ctx_.Box, e);
    RaiseMsgBoxOb("S2", "Play Failed");
    return false;
  }
}

// Steps shared by UTurn and PlayAtCurrentPosition once PlayProgress is set.
bool StreamDx9Class::ClampProgressAndStart() {
  ClampPlayProgress(mod_);
  mod_.PlayBase = vb::Sub(mod_.PlayProgress, 1);
  const int32_t half = 1;
  if (!HaveInstance()) return false;
  stream::FillPlayChunk(mod_, dx9_, half);
  return StartRun(true, false);
}

bool StreamDx9Class::UTurn() {
  mod_.EndOfData = false;
  UpdatePlayPosition();
  StopInternal();
  TurnAtCurrentPos(mod_);
  return ClampProgressAndStart();
}

bool StreamDx9Class::PlayAtCurrentPosition() {
  StopInternal();
  ProgressAtCurrentPos(mod_);
  return ClampProgressAndStart();
}

// ------------------------------------------------------------ polling

void StreamDx9Class::Dx9CallBackTimer_Timer() {
  try {
    PollOnce();
  } catch (const std::exception& e) {
    // Nothing can be refilled any more: end the run as at its end.
    LogFailure("poll", e);
    try {
      LoopCount = 0;
      StopInternal();
      RaiseMsgBoxOb("S2", "Play Done");
    } catch (const std::exception& e2) {
      LogFailure("ending the run after a failed poll", e2);
    }
    Dx9CallBackTimer.SetEnabled(true);
  }
}

void StreamDx9Class::PollOnce() {
  Dx9CallBackTimer.SetEnabled(false);
  int32_t refillHalf2 = 0;
  int32_t refillHalf1 = 0;
  int32_t third = 0;
  int32_t endPlayed = 0;
  Library().Service08(dx9_.ServiceHandle, refillHalf2, refillHalf1, third, endPlayed);
  bool refilled = true;
  if (refillHalf2 != 0) refilled = RefillHalf(2);
  if (refillHalf1 != 0 && refilled) RefillHalf(1);
  if (endPlayed != 0) {
    if (mod_.LoopPlayON) {
      const int32_t n = LoopCount;
      PlayMe();
      LoopCount = vb::Add(n, 1);
      RaiseMsgBoxOb("S2", LoopText(LoopCount));
    } else {
      LoopCount = 0;
      StopInternal();
      RaiseMsgBoxOb("S2", "Play Done");
    }
  }
  Dx9CallBackTimer.SetEnabled(true);
}

// False when the next chunk could not be built (a file that went away, an
// 8-bit sample out of range): then the wave ends where this half begins, so
// that what the library holds still plays and the run ends as at its end.
bool StreamDx9Class::RefillHalf(int32_t half) {
  const int32_t offset = half == 2 ? mod_.HalfBytes : 0;
  bool filled = false;
  try {
    filled = stream::FillPlayChunk(mod_, dx9_, half);
  } catch (const std::exception& e) {
    LogFailure("refill", e);
    if (!mod_.EndOfData) ShowReadFailure(ctx_.Box, e);  // once: later polls of this run try again
    int16_t* data = HalfData(mod_, half);
    std::fill_n(data, mod_.HalfOffset, int16_t{0});
    Library().Service06(dx9_.ServiceHandle, data, mod_.HalfBytes, offset, half, 0);
    mod_.EndOfData = true;
    return false;
  }
  if (filled) {
    Library().Service06(dx9_.ServiceHandle, HalfData(mod_, half), mod_.HalfBytes, offset, dx9_.EndHalf, dx9_.EndTicks);
  } else {
    mod_.EndOfData = true;
  }
  return true;
}

// ------------------------------------------------------------ position, pause, stop

void StreamDx9Class::UpdatePlayPosition() {
  try {
    int32_t passes = 0;
    int32_t bytePos = 0;
    int32_t pos = 0;
    if (Library().Service07(dx9_.ServiceHandle, passes, bytePos) != 0) {
      pos = vb::CLng(bytePos / static_cast<double>(vb::Mul(2, mod_.FmtChannal)) +
                     vb::Mul(mod_.BufferSamples, passes));
    }
    SetCurrentPosFromPlayed(mod_, pos);
  } catch (const std::exception& e) {
    LogFailure("UpdatePlayPosition", e);
    // The position stays as it was; no report.
  }
}

void StreamDx9Class::PlayPause() {
  StopInternal();
  mod_.RunningState = state::kRunPaused;
}

void StreamDx9Class::PlayContinue() {
  ComputePlayFriq(mod_);
  if (Library().Service04(dx9_.ServiceHandle, 0, mod_.PlayFriq) != 1) return;
  Dx9CallBackTimer.SetEnabled(true);
  mod_.RunningState = mod_.LoopPlayON ? state::kRunPlayingLoop : state::kRunPlaying;
  BufferLive = true;
}

bool StreamDx9Class::StopPlay() {
  const bool ok = StopInternal();
  RaiseMsgBoxOb("S2", "Stopped");
  return ok;
}

bool StreamDx9Class::StopInternal() {
  try {
    if (BufferLive) Library().Service05(dx9_.ServiceHandle);
    mod_.RunningState = state::kRunIdle;
    BufferLive = false;
    return true;
  } catch (const std::exception& e) {
    LogFailure("StopInternal", e);
    return false;
  }
}

// Releases the library's buffer; a library that was never loaded holds none.
void StreamDx9Class::ReleaseEngine() {
  StopPlay();
  if (library_) library_->Service03(dx9_.ServiceHandle);
}

}  // namespace engines
