#pragma once
// The waveOut engine: plays the wave through the waveOut-style device API
// (platform/devices/WaveOutApi.h) on the platform's output, in chunks of four seconds
// played straight out of the two halves of PlayChunk, at most two queued.
// A 40 ms poll (TimerFrm's Timer2) reads the device position, keeps
// CurrentPos current and queues the next chunk once the device has begun the
// latest one; a one-shot stop timer (Timer0) ends the run, or restarts it in
// loop mode, after the last chunk has sounded. Tempo is ignored: the device
// plays at FmtFriq.
//
// The engine opens its device in CreateSoundBuffer; with no device that
// returns false and every later start reports "Play Failed". Reports go out
// through MsgBoxOb with Msg "S2". A half of PlayChunk is only refilled once
// the device has finished playing it (the device reads queued memory as it
// plays). Errors inside the timer ticks are caught there, logged to stderr,
// and end the run. Thread: loop thread only.

#include <cstdint>

#include "engines/EngineContract.h"
#include "platform/devices/WaveOutApi.h"
#include "state/PlayContext.h"

namespace engines {

class PlayApiClass final : public EngineContract {
 public:
  // Binds TimerFrm's Timer0 (stop) and Timer2 (poll); opens no device yet.
  explicit PlayApiClass(state::PlayContext& ctx);
  // Stops the output and closes the device; unbinds both timers.
  ~PlayApiClass() override;
  PlayApiClass(const PlayApiClass&) = delete;
  PlayApiClass& operator=(const PlayApiClass&) = delete;

  bool StopPlay() override;
  void UpdatePlayPosition() override;
  bool CreateSoundBuffer() override;
  bool PlayMe() override;
  void PlayPause() override;
  void PlayContinue() override;
  bool UTurn() override;
  bool PlayAtCurrentPosition() override;

 private:
  void PrepareHalf(int32_t Half);
  void StopInternal();
  void FillNext();
  void CloseDevice();
  void OpenDevice();
  // Shared tail of UTurn and PlayAtCurrentPosition: clamp PlayProgress, start
  // the run there, report.
  bool StartAtProgress();
  void CallBackTimer_Timer();
  void StopPlayTimer_Timer();

  state::PlayContext& ctx_;
  state::PlayDllMod& mod_;
  devices::waveout::WaveOutApi winmm_;

  os::Timer& StopPlayTimer;
  os::Timer& CallBackTimer;
  devices::waveout::MMTIME PosInfo;
  devices::waveout::WAVEFORMATEX WaveFmt;
  devices::waveout::HWAVEOUT WaveOutHandle = 0;
  bool DeviceOpen = false;
  bool HdrPrepared[3] = {false, false, false};
  devices::waveout::WAVEHDR WaveHdrs[3];
  uint32_t HdrSize = 0;
  devices::waveout::MMRESULT LastResult = 0;
  uint32_t PosInfoSize = 0;
  int32_t LoopCount = 0;
  int32_t NextHalf = 0;
  int32_t QueuedEnd = 0;
  int32_t PrevQueuedEnd = 0;
  bool LastWriteOk = false;
  bool StopRequested = false;
  int32_t DevicePos = 0;
  bool FillBusy = false;
  bool StallSeen = false;
};

}  // namespace engines
