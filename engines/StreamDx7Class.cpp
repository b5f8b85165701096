#include "engines/StreamDx7Class.h"

#include <cstdint>
#include <exception>
#include <string>

#include "engines/EngineGeometry.h"
#include "engines/RunStart.h"
#include "platform/os/Errors.h"
#include "platform/os/Log.h"
#include "platform/runtime/VbMath.h"
#include "stream/FillPlayChunk.h"

namespace engines {

namespace {

namespace dx7 = devices::dx7;

// DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS | DSBCAPS_CTRLPOSITIONNOTIFY
// | DSBCAPS_CTRLFREQUENCY | DSBCAPS_LOCSOFTWARE
constexpr int32_t kBufferFlags = 98600;
static_assert(kBufferFlags == (dx7::DSBCAPS_GETCURRENTPOSITION2 | dx7::DSBCAPS_GLOBALFOCUS |
                               dx7::DSBCAPS_CTRLPOSITIONNOTIFY | dx7::DSBCAPS_CTRLFREQUENCY |
                               dx7::DSBCAPS_LOCSOFTWARE));

// A 16-bit field of a library record: a value that does not fit overflows.
int16_t Integer(int32_t v) {
  if (v < INT16_MIN || v > INT16_MAX) throw os::OverflowError();
  return static_cast<int16_t>(v);
}

void LogHandlerFailure(const char* where, const std::exception& e) {
  os::LogCaught(std::string("DirectSound 7 engine, ") + where, e);
}

}  // namespace

StreamDx7Class::StreamDx7Class(state::PlayContext& ctx)
    : ctx_(ctx), mod_(ctx.Mod), StopPlayTimer(ctx.Timers.Timer0) {
  StopPlayTimer.SetOnTick([this] { StopPlayTimer_Timer(); });
}

StreamDx7Class::~StreamDx7Class() {
  try {
    ReleaseEngine();
  } catch (const std::exception& e) {
    LogHandlerFailure("release", e);
  }
  StopPlayTimer.SetEnabled(false);
  StopPlayTimer.SetOnTick(nullptr);
}

// ---------------------------------------------------------------- attach and release

bool StreamDx7Class::PutONDx7Ds(int32_t& MFrmHwnd) {
  try {
    DxRoot = std::make_unique<dx7::DirectX7>(ctx_.Audio);
    DSound = DxRoot->DirectSoundCreate("");
    DSound->SetCooperativeLevel(MFrmHwnd, dx7::DSSCL_PRIORITY);
    OpenEvent(DxEventFrm0, EventHandle0, &StreamDx7Class::DxEventFrm0_DxEventForward);
    OpenEvent(DxEventFrm1, EventHandle1, &StreamDx7Class::DxEventFrm1_DxEventForward);
    OpenEvent(DxEventFrm2, EventHandle2, &StreamDx7Class::DxEventFrm2_DxEventForward);
    return true;
  } catch (const std::exception& e) {
    LogHandlerFailure("PutONDx7Ds", e);
    // Also destroys the events made so far, in order, and drops the forms,
    // the device and the root.
    ReleaseEngine();
    return false;
  }
}

void StreamDx7Class::OpenEvent(std::unique_ptr<DxEventFrm>& form, int32_t& handle,
                               void (StreamDx7Class::*handler)(int32_t)) {
  form = std::make_unique<DxEventFrm>();
  form->ConnectDxEventForward([this, handler](int32_t eventid) { (this->*handler)(eventid); });
  // The library calls whichever form the field holds when the event comes.
  handle = DxRoot->CreateEvent([&form](int32_t eventid) {
    if (form) form->DirectXEvent_DXCallback(eventid);
  });
}

// The event goes before its form, so no callback can reach a dropped form.
void StreamDx7Class::CloseEvent(std::unique_ptr<DxEventFrm>& form, int32_t& handle) {
  if (handle != 0) {
    if (DxRoot) DxRoot->DestroyEvent(handle);
    handle = 0;
  }
  form.reset();
}

void StreamDx7Class::ReleaseEngine() {
  StopPlay();
  DSBuffer.reset();
  mod_.RunningState = state::kRunIdle;
  BufferLive = false;
  CloseEvent(DxEventFrm0, EventHandle0);
  CloseEvent(DxEventFrm1, EventHandle1);
  CloseEvent(DxEventFrm2, EventHandle2);
  DSound.reset();
  DxRoot.reset();
}

// ---------------------------------------------------------------- the buffer

bool StreamDx7Class::CreateSoundBuffer() {
  try {
    if (mod_.RunningState != state::kRunIdle) StopPlay();

    SetBufferGeometry(mod_);

    WaveFmt = dx7::WAVEFORMATEX{};
    WaveFmt.nFormatTag = 1;
    WaveFmt.nChannels = Integer(mod_.FmtChannal);
    WaveFmt.lSamplesPerSec = mod_.FmtFriq;
    WaveFmt.nBlockAlign = Integer(vb::Mul(16 / 8, mod_.FmtChannal));
    WaveFmt.lAvgBytesPerSec = vb::Mul(WaveFmt.nBlockAlign, mod_.FmtFriq);
    WaveFmt.nBitsPerSample = 16;
    WaveFmt.nSize = 24;
    WaveFmt.lExtra = 0;
    BuffDesc = dx7::DSBUFFERDESC{};
    BuffDesc.lFlags = kBufferFlags;
    BuffDesc.lBufferBytes = mod_.BufferBytes;

    if (!DSound) throw os::PlayError("no DirectSound device");
    DSBuffer = DSound->CreateSoundBuffer(BuffDesc, WaveFmt);
    mod_.RunningState = state::kRunIdle;

    NotifyPos.ReDim(0, 2);
    NotifyCount = 3;
    NotifyPos(0) = {0, EventHandle0};
    NotifyPos(1) = {mod_.HalfBytes, EventHandle1};
    NotifyPos(2) = {vb::Sub(mod_.BufferBytes, 1), EventHandle2};
    DSBuffer->SetNotificationPositions(NotifyCount, NotifyPos.Ptr(0));

    BufferLive = true;
    return true;
  } catch (const std::exception& e) {
    LogHandlerFailure("CreateSoundBuffer", e);
    DSBuffer.reset();  // a buffer of an earlier format does not fit the geometry now in force
    RaiseMsgBoxOb("S2", "Play Buffer - Failed");
    return false;
  }
}

dx7::DirectSoundBuffer& StreamDx7Class::Buffer() {
  if (!DSBuffer) throw os::PlayError("DirectSound 7 engine: no sound buffer");
  return *DSBuffer;
}

void StreamDx7Class::WriteHalf(int32_t Half) {
  const int32_t offset = Half == 2 ? mod_.HalfBytes : 0;
  const int16_t* data = HalfData(mod_, Half);
  Buffer().WriteBuffer(offset, mod_.HalfBytes, data, 0);
}

// ---------------------------------------------------------------- tempo and the stop timer

void StreamDx7Class::ArmStopTimer() {
  double tempo = 0;
  if (DirectionTempo(mod_, tempo)) StopPlayTimer.SetInterval(vb::CLng(mod_.TailMs / tempo + 1));
  StopPlayTimer.SetEnabled(true);
}

int32_t StreamDx7Class::TimeOfDayMs() const {
  return vb::CLng(ctx_.Loop.GetClock().SecondsSinceMidnight() * 1000);
}

// ---------------------------------------------------------------- starts

bool StreamDx7Class::PlayMe() {
  try {
    if (mod_.RunningState != state::kRunIdle) StopInternal();
    mod_.StopTimerMark = 0;  // see StartAtProgress
    mod_.PlayProgress = 1;
    mod_.TailMs = 0;
    mod_.PlayBase = 0;
    (void)Buffer();  // no chunk is built, sized from the format, for a buffer that was refused
    stream::FillPlayChunk(mod_, ctx_.Dx9Mod, 1);
    WriteHalf(1);
    mod_.EndOfData = false;
    LoopCount = 0;
    WrapCount = 0;
    PendingWraps = 0;
    ComputePlayFriq(mod_);
    Buffer().SetCurrentPosition(0);
    Buffer().SetFrequency(mod_.PlayFriq);
    Buffer().Play(dx7::DSBPLAY_LOOPING);
    if (mod_.TailMs > 0) ArmStopTimer();
    RaiseMsgBoxOb("S2", MarkRunStarted(mod_, false, LoopCount));
    BufferLive = true;
    return true;
  } catch (const std::exception& e) {
    LogHandlerFailure("PlayMe", e);
    ShowReadFailure(ctx_.Box, e);
    RaiseMsgBoxOb("S2", "Play Failed");
    return false;
  }
}

bool StreamDx7Class::UTurn() {
  mod_.EndOfData = false;
  UpdatePlayPosition();
  StopInternal();
  TurnAtCurrentPos(mod_);
  return StartAtProgress();
}

bool StreamDx7Class::PlayAtCurrentPosition() {
  StopInternal();
  ProgressAtCurrentPos(mod_);
  return StartAtProgress();
}

bool StreamDx7Class::StartAtProgress() {
  // A new run has no stop timer armed yet. The mark of a run that was
  // stopped during its final chunk (kept so that PlayContinue can end that
  // run) must not make a pause and continue of this run arm the timer for a
  // chunk that is not its last.
  mod_.StopTimerMark = 0;
  ClampPlayProgress(mod_);
  ComputePlayFriq(mod_);
  mod_.PlayBase = vb::Sub(mod_.PlayProgress, 1);
  (void)Buffer();
  stream::FillPlayChunk(mod_, ctx_.Dx9Mod, 1);
  WriteHalf(1);
  mod_.EndOfData = false;
  WrapCount = 0;
  PendingWraps = 0;
  Buffer().SetCurrentPosition(0);
  Buffer().SetFrequency(mod_.PlayFriq);
  Buffer().Play(dx7::DSBPLAY_LOOPING);
  if (mod_.TailMs > 0) ArmStopTimer();
  RaiseMsgBoxOb("S2", MarkRunStarted(mod_, true, LoopCount));
  BufferLive = true;
  return true;
}

// ---------------------------------------------------------------- pause, continue, stop

void StreamDx7Class::PlayPause() {
  if (BufferLive) Buffer().Stop();
  mod_.RunningState = state::kRunPaused;
  if (StopPlayTimer.Enabled()) {
    StopPlayTimer.SetEnabled(false);
    mod_.StopTimerMark = vb::CLng(ctx_.Loop.GetClock().SecondsSinceMidnight() * 1000 - mod_.StopTimerMark);
  }
}

void StreamDx7Class::PlayContinue() {
  ComputePlayFriq(mod_);
  Buffer().SetFrequency(mod_.PlayFriq);
  Buffer().Play(dx7::DSBPLAY_LOOPING);
  if (mod_.StopTimerMark > 0) ArmStopTimer();
  mod_.RunningState = mod_.LoopPlayON ? state::kRunPlayingLoop : state::kRunPlaying;
  BufferLive = true;
}

bool StreamDx7Class::StopPlay() {
  const bool result = StopInternal();
  RaiseMsgBoxOb("S2", "Stopped");
  return result;
}

bool StreamDx7Class::StopInternal() {
  try {
    if (BufferLive) Buffer().Stop();
    StopPlayTimer.SetEnabled(false);
    StopPlayTimer.SetInterval(0);
    mod_.RunningState = state::kRunIdle;
    BufferLive = false;
    return true;
  } catch (const std::exception& e) {
    LogHandlerFailure("StopInternal", e);
    return false;
  }
}

// ---------------------------------------------------------------- position

void StreamDx7Class::UpdatePlayPosition() {
  Buffer().GetCurrentPosition(Cursors);
  if (Cursors.lPlay < LastPlayCursor) {
    WrapCount = vb::Add(WrapCount, PendingWraps);
    PendingWraps = 0;
  }
  const int32_t pos = vb::CLng(static_cast<double>(Cursors.lPlay) / WaveFmt.nBlockAlign +
                               static_cast<double>(mod_.BufferSamples) * WrapCount);
  LastPlayCursor = Cursors.lPlay;
  SetCurrentPosFromPlayed(mod_, pos);
}

// ---------------------------------------------------------------- notifications and the stop tick

void StreamDx7Class::DxEventFrm0_DxEventForward(int32_t /*eventid*/) { Refill(2); }

void StreamDx7Class::DxEventFrm1_DxEventForward(int32_t /*eventid*/) { Refill(1); }

void StreamDx7Class::DxEventFrm2_DxEventForward(int32_t /*eventid*/) {
  try {
    PendingWraps = vb::Add(PendingWraps, 1);
  } catch (const std::exception& e) {
    LogHandlerFailure("wrap notification", e);
  }
}

// A refill that fails ends the run as running out of data would: nothing
// more is written, TailMs is 1 as for an empty chunk (the failed call may
// have sized a short final chunk first, and the half it was meant for still
// holds an old chunk), and the next notification arms the stop timer.
void StreamDx7Class::Refill(int32_t Half) {
  if (InRefill) return;
  InRefill = true;
  try {
    if (mod_.TailMs < 1 && !mod_.EndOfData) {
      if (stream::FillPlayChunk(mod_, ctx_.Dx9Mod, Half)) {
        WriteHalf(Half);
      } else {
        mod_.EndOfData = true;
      }
    } else {
      ArmStopTimer();
      mod_.StopTimerMark = TimeOfDayMs();
    }
  } catch (const std::exception& e) {
    LogHandlerFailure("refill", e);
    ShowReadFailure(ctx_.Box, e);
    mod_.EndOfData = true;
    mod_.TailMs = 1;
  }
  InRefill = false;
}

void StreamDx7Class::StopPlayTimer_Timer() {
  try {
    StopPlayTimer.SetEnabled(false);
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
    mod_.StopTimerMark = 0;
  } catch (const std::exception& e) {
    LogHandlerFailure("stop timer", e);
    StopInternal();
  }
}

}  // namespace engines
