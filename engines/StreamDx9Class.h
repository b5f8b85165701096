#pragma once
// The DirectSound 9 engine: plays the wave through the sound service library,
// which owns a looping buffer of two halves of four seconds each. The engine
// hands the library one half at a time from the play chunk builder and polls
// it on its own timer (Dx9CallbackFrm's Dx9Timer) for the halves that have
// been played and for the end of the wave, which the chunk builder marks in
// the DirectSound 9 module (EndHalf, EndTicks) and the library reports back.
//
// The library is loaded on first use (CreateSoundBuffer, or any later call
// that needs it); a missing library shows as "Play Buffer - Failed" there.
// The polling timer's interval is set only by CreateSoundBuffer, from the
// tempo of the play direction in force then. Once started, the timer ticks
// for the life of the engine, also while idle.
//
// Reports go out through MsgBoxOb with Msg "S2". Failures inside a timer tick
// are logged to stderr and end the run as a normal end does ("Play Done"): a
// chunk that cannot be built ends the wave after what the library holds.
// Thread: loop thread only. The context must outlive the engine.

#include <cstdint>
#include <memory>

#include "engines/Dx9CallbackFrm.h"
#include "engines/EngineContract.h"
#include "state/PlayContext.h"

namespace engines {

class SoundServiceLibrary;

class StreamDx9Class final : public Dx9EngineContract {
 public:
  // Class_Initialize: ServiceHandle 0, the polling timer bound and disabled.
  explicit StreamDx9Class(state::PlayContext& ctx);
  // Class_Terminate: ReleaseEngine (raises "Stopped"), then unbinds the timer.
  ~StreamDx9Class() override;
  StreamDx9Class(const StreamDx9Class&) = delete;
  StreamDx9Class& operator=(const StreamDx9Class&) = delete;

  // Takes the window without touching the library; refuses (False, after
  // ReleaseEngine) when the platform offers no DirectSound 9.
  bool PutONDx9Ds(int32_t& MFrmHwnd) override;
  bool CreateSoundBuffer() override;
  bool PlayMe() override;
  void PlayContinue() override;
  void UpdatePlayPosition() override;
  void PlayPause() override;
  bool StopPlay() override;
  bool UTurn() override;
  bool PlayAtCurrentPosition() override;

  // For tests: the polling timer as CreateSoundBuffer and the starts left it.
  int32_t PollIntervalMs() const { return Dx9CallBackTimer.Interval(); }
  bool PollEnabled() const { return Dx9CallBackTimer.Enabled(); }

 private:
  bool StopInternal();
  void ReleaseEngine();
  bool StartRun(bool countedLoopText, bool resetLoopCount);
  bool ClampProgressAndStart();
  bool HaveInstance();
  void Dx9CallBackTimer_Timer();
  void PollOnce();
  bool RefillHalf(int32_t half);
  SoundServiceLibrary& Library();

  state::PlayContext& ctx_;
  state::PlayDllMod& mod_;
  state::Dx9CallBackMod& dx9_;

  bool BufferLive = false;
  int32_t LoopCount = 0;
  int32_t WindowHandle = 0;
  Dx9CallbackFrm form_;
  os::Timer& Dx9CallBackTimer;

  std::unique_ptr<SoundServiceLibrary> library_;  // loaded on first use
};

}  // namespace engines
