#include "engines/PlayApiClass.h"

#include <exception>
#include <string>

#include "engines/EngineGeometry.h"
#include "engines/RunStart.h"
#include "platform/os/Log.h"
#include "platform/runtime/VbMath.h"
#include "stream/FillPlayChunk.h"

namespace engines {

namespace {

void LogFailure(const char* where, const std::exception& e) {
  os::LogCaught(std::string("waveOut engine, ") + where, e);
}

// A device call whose failure the engine turns into a False or a report.
void LogResult(const char* call, devices::waveout::MMRESULT result) {
  os::LogWarning(std::string("waveOut engine: ") + call + " failed with result " + std::to_string(result));
}

}  // namespace

PlayApiClass::PlayApiClass(state::PlayContext& ctx)
    : ctx_(ctx),
      mod_(ctx.Mod),
      winmm_(ctx.Audio),
      StopPlayTimer(ctx.Timers.Timer0),
      CallBackTimer(ctx.Timers.Timer2) {
  HdrSize = devices::waveout::kWaveHdrSize;
  PosInfo.wType = devices::waveout::TIME_SAMPLES;
  PosInfoSize = devices::waveout::kMmTimeSize;
  StopPlayTimer.SetOnTick([this] { StopPlayTimer_Timer(); });
  CallBackTimer.SetOnTick([this] { CallBackTimer_Timer(); });
}

PlayApiClass::~PlayApiClass() {
  try {
    mod_.EndOfData = true;
    CloseDevice();
  } catch (const std::exception& e) {
    LogFailure("closing the device", e);
  }
  CallBackTimer.SetEnabled(false);
  CallBackTimer.SetOnTick(nullptr);
  StopPlayTimer.SetEnabled(false);
  StopPlayTimer.SetOnTick(nullptr);
}

// ---- device

void PlayApiClass::OpenDevice() {
  if (DeviceOpen) LastResult = winmm_.waveOutClose(WaveOutHandle);
  if (winmm_.waveOutGetNumDevs() < 1) {
    DeviceOpen = false;
    os::LogWarning("waveOut engine: no output device");
    return;
  }
  const int32_t blockAlign = vb::Mul(16 / 8, mod_.FmtChannal);
  WaveFmt.wFormatTag = devices::waveout::WAVE_FORMAT_PCM;
  WaveFmt.nChannels = static_cast<uint16_t>(mod_.FmtChannal);
  WaveFmt.nSamplesPerSec = static_cast<uint32_t>(mod_.FmtFriq);
  WaveFmt.wBitsPerSample = 16;
  WaveFmt.nBlockAlign = static_cast<uint16_t>(blockAlign);
  WaveFmt.nAvgBytesPerSec = static_cast<uint32_t>(vb::Mul(blockAlign, mod_.FmtFriq));
  WaveFmt.cbSize = 0;
  LastResult = winmm_.waveOutOpen(&WaveOutHandle, devices::waveout::WAVE_MAPPER, &WaveFmt, 0, 0, 0);
  DeviceOpen = (LastResult == devices::waveout::MMSYSERR_NOERROR);
  if (!DeviceOpen) LogResult("waveOutOpen", LastResult);
}

void PlayApiClass::CloseDevice() {
  if (!DeviceOpen) return;
  CallBackTimer.SetEnabled(false);
  mod_.EndOfData = true;
  StopRequested = true;
  LastResult = winmm_.waveOutReset(WaveOutHandle);
  for (int32_t h = 1; h <= 2; ++h) {
    if (HdrPrepared[h]) {
      LastResult = winmm_.waveOutUnprepareHeader(WaveOutHandle, &WaveHdrs[h], HdrSize);
      HdrPrepared[h] = false;
    }
  }
  LastResult = winmm_.waveOutClose(WaveOutHandle);
}

bool PlayApiClass::CreateSoundBuffer() {
  try {
    if (mod_.RunningState != state::kRunIdle) StopPlay();
    SetBufferGeometry(mod_);
    CloseDevice();
    OpenDevice();
    mod_.RunningState = state::kRunIdle;
    return DeviceOpen;
  } catch (const std::exception& e) {
    LogFailure("CreateSoundBuffer", e);
    RaiseMsgBoxOb("S2", "Play Buffer - Failed");
    return false;
  }
}

// ---- queueing chunks

void PlayApiClass::StopInternal() {
  StopRequested = true;
  CallBackTimer.SetEnabled(false);
  // A pending end of the run that is being stopped must not end (or restart)
  // whatever run comes next.
  StopPlayTimer.SetEnabled(false);
  LastResult = winmm_.waveOutReset(WaveOutHandle);
  mod_.RunningState = state::kRunIdle;
}

void PlayApiClass::PrepareHalf(int32_t Half) {
  devices::waveout::WAVEHDR& hdr = WaveHdrs[Half];
  const int32_t first = (Half == 2) ? vb::Add(mod_.HalfOffset, 1) : 1;
  hdr.lpData = reinterpret_cast<char*>(mod_.PlayChunk.Ptr(first));
  hdr.dwBufferLength = static_cast<uint32_t>(mod_.ChunkBytes);
  hdr.dwBytesRecorded = 0;
  hdr.dwUser = 0;
  hdr.dwFlags = 0;
  hdr.dwLoops = 0;
  hdr.lpNext = nullptr;
  LastResult = winmm_.waveOutPrepareHeader(WaveOutHandle, &hdr, HdrSize);
  HdrPrepared[Half] = (LastResult == devices::waveout::MMSYSERR_NOERROR);
}

void PlayApiClass::FillNext() {
  if (FillBusy) return;
  FillBusy = true;
  try {
    const int32_t h = NextHalf;
    LastWriteOk = false;
    if (mod_.EndOfData) {
      if (!StopRequested) {
        // Arm the stop timer. The poll comes here again while the device
        // stands at the end; an armed timer keeps its countdown, since neither
        // the same interval nor enabling it again restarts it.
        StopPlayTimer.SetInterval(40);
        StopPlayTimer.SetEnabled(true);
      }
      FillBusy = false;
      return;
    }
    if (!DeviceOpen) {
      // No device took the format: nothing can be queued, so no chunk sized
      // from the format is built; the start fails as the refused write would.
      NextHalf = (NextHalf == 1) ? 2 : 1;
      FillBusy = false;
      return;
    }
    if (!stream::FillPlayChunk(mod_, ctx_.Dx9Mod, h)) {
      NextHalf = 0;
      mod_.EndOfData = true;
      FillBusy = false;
      return;
    }
    PrepareHalf(h);
    LastResult = winmm_.waveOutWrite(WaveOutHandle, &WaveHdrs[h], HdrSize);
    if (LastResult != devices::waveout::MMSYSERR_NOERROR) LogResult("waveOutWrite", LastResult);
    if (LastResult == devices::waveout::MMSYSERR_NOERROR) {
      LastWriteOk = true;
      PrevQueuedEnd = QueuedEnd;
      QueuedEnd = vb::Add(QueuedEnd, mod_.ChunkFilled);
      if (mod_.ChunkFilled < mod_.ChunkSamples) mod_.EndOfData = true;  // the last chunk
    }
    NextHalf = (NextHalf == 1) ? 2 : 1;
    FillBusy = false;
  } catch (const std::exception& e) {
    // A chunk that cannot be built ends the run: what is queued drains, then
    // the run ends as at the end of the wave.
    LogFailure("building the next chunk", e);
    ShowReadFailure(ctx_.Box, e);
    FillBusy = false;
    mod_.EndOfData = true;
    NextHalf = 0;
  }
}

// ---- timers

void PlayApiClass::CallBackTimer_Timer() {
  try {
    UpdatePlayPosition();
    if (DevicePos > PrevQueuedEnd && !mod_.EndOfData) FillNext();  // the device has begun the latest chunk
    if (StallSeen && DevicePos == QueuedEnd) FillNext();           // played out, on two polls in a row
    StallSeen = (DevicePos == QueuedEnd);
  } catch (const std::exception& e) {
    LogFailure("poll", e);
    CallBackTimer.SetEnabled(false);
    mod_.EndOfData = true;
    NextHalf = 0;
    if (!StopRequested) {
      StopPlayTimer.SetInterval(40);
      StopPlayTimer.SetEnabled(true);
    }
  }
}

void PlayApiClass::StopPlayTimer_Timer() {
  try {
    StopPlayTimer.SetEnabled(false);
    if (mod_.LoopPlayON) {
      const int32_t c = LoopCount;
      StopInternal();
      PlayMe();
      LoopCount = vb::Add(c, 1);
      RaiseMsgBoxOb("S2", LoopText(LoopCount));
    } else {
      LoopCount = 0;
      StopInternal();
      RaiseMsgBoxOb("S2", "Play Done");
    }
  } catch (const std::exception& e) {
    LogFailure("end of run", e);
    StopInternal();
  }
}

// ---- the contract

bool PlayApiClass::StopPlay() {
  try {
    StopInternal();
    RaiseMsgBoxOb("S2", "Stopped");
    return true;
  } catch (const std::exception& e) {
    LogFailure("StopPlay", e);
    CallBackTimer.SetEnabled(false);
    return false;
  }
}

void PlayApiClass::UpdatePlayPosition() {
  LastResult = winmm_.waveOutGetPosition(WaveOutHandle, &PosInfo, PosInfoSize);
  DevicePos = static_cast<int32_t>(PosInfo.u.sample);
  SetCurrentPosFromPlayed(mod_, DevicePos);
}

bool PlayApiClass::PlayMe() {
  try {
    if (mod_.RunningState != state::kRunIdle) StopInternal();
    mod_.PlayProgress = 1;
    mod_.PlayBase = 0;
    mod_.EndOfData = false;
    LoopCount = 0;
    StopRequested = false;
    NextHalf = 1;
    QueuedEnd = 0;
    PrevQueuedEnd = 0;
    StallSeen = false;  // no poll of this run has seen the device stand still yet
    FillNext();  // the poll queues the second chunk once the device has started
    if (LastWriteOk) {
      CallBackTimer.SetEnabled(true);
      RaiseMsgBoxOb("S2", MarkRunStarted(mod_, false, LoopCount));
      return true;
    }
  } catch (const std::exception& e) {
    LogFailure("PlayMe", e);
  }
  CallBackTimer.SetEnabled(false);
  RaiseMsgBoxOb("S2", "Play Failed");
  return false;
}

bool PlayApiClass::StartAtProgress() {
  ClampPlayProgress(mod_);
  mod_.PlayBase = mod_.PlayProgress - 1;
  mod_.EndOfData = false;
  StopRequested = false;
  NextHalf = 1;
  QueuedEnd = 0;
  PrevQueuedEnd = 0;
  StallSeen = false;
  FillNext();
  if (!LastWriteOk) return false;
  CallBackTimer.SetEnabled(true);
  RaiseMsgBoxOb("S2", MarkRunStarted(mod_, true, LoopCount));
  return true;
}

bool PlayApiClass::UTurn() {
  try {
    UpdatePlayPosition();
    if (mod_.RunningState != state::kRunIdle) StopInternal();
    TurnAtCurrentPos(mod_);
    if (StartAtProgress()) return true;
  } catch (const std::exception& e) {
    LogFailure("UTurn", e);
  }
  CallBackTimer.SetEnabled(false);
  RaiseMsgBoxOb("S2", "UTurn failed");
  return false;
}

bool PlayApiClass::PlayAtCurrentPosition() {
  try {
    if (mod_.RunningState != state::kRunIdle) StopInternal();
    ProgressAtCurrentPos(mod_);
    if (StartAtProgress()) return true;
  } catch (const std::exception& e) {
    LogFailure("PlayAtCurrentPosition", e);
  }
  CallBackTimer.SetEnabled(false);
  RaiseMsgBoxOb("S2", "Play at.. failed");
  return false;
}

void PlayApiClass::PlayPause() {
  CallBackTimer.SetEnabled(false);
  LastResult = winmm_.waveOutPause(WaveOutHandle);
  mod_.RunningState = state::kRunPaused;
}

void PlayApiClass::PlayContinue() {
  LastResult = winmm_.waveOutRestart(WaveOutHandle);
  CallBackTimer.SetEnabled(true);
  mod_.RunningState = mod_.LoopPlayON ? state::kRunPlayingLoop : state::kRunPlaying;
}

}  // namespace engines
