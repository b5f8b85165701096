#pragma once
// The DirectSound 7 engine: plays the wave through the DirectSound-7-style
// device API (platform/devices/DirectSound7.h) from one looping buffer of two halves
// of four seconds each. Three position notifications say when a half has
// been played (offset 0: refill half 2; offset HalfBytes: refill half 1) and
// when the play cursor is about to wrap (counted for the position). The
// notification at offset 0 is signalled as play starts, so half 2 is written
// while half 1 sounds. When the final chunk is in the buffer, the next
// refill notification arms the one-shot stop timer (TimerFrm's Timer0) for
// CLng(TailMs / tempo + 1) ms; its tick ends the run with "Play Done" or, in
// loop mode, starts it again.
//
// Tempo: the buffer plays at PlayFriq = CLng(tempo x FmtFriq) with the tempo
// of the play direction (PlayTempoFor forward, PlayTempoRev reverse), so
// tempo changes speed and pitch together.
//
// Reports go out through MsgBoxOb with Msg "S2". PlayMe and CreateSoundBuffer
// report their own failures; UTurn, PlayAtCurrentPosition, PlayPause,
// PlayContinue and UpdatePlayPosition let a failure (os::PlayError)
// reach the caller. A failure inside a notification or the stop tick is
// caught there, logged to stderr, and ends the run as its normal end would.
// Releasing the engine stops it and reports "Stopped".
// Thread: loop thread only.

#include <cstdint>
#include <memory>

#include "engines/DxEventFrm.h"
#include "engines/EngineContract.h"
#include "platform/devices/DirectSound7.h"
#include "platform/runtime/VbArray.h"
#include "state/PlayContext.h"

namespace engines {

class StreamDx7Class final : public Dx7EngineContract {
 public:
  // Binds TimerFrm's Timer0 as the stop timer; opens no device yet.
  explicit StreamDx7Class(state::PlayContext& ctx);
  // ReleaseEngine (reports "Stopped"); unbinds the stop timer.
  ~StreamDx7Class() override;
  StreamDx7Class(const StreamDx7Class&) = delete;
  StreamDx7Class& operator=(const StreamDx7Class&) = delete;

  // Opens the default device for the window and the three notification
  // events. False (everything released) when the platform offers no
  // DirectSound 7 device or any step fails.
  bool PutONDx7Ds(int32_t& MFrmHwnd) override;
  bool CreateSoundBuffer() override;
  bool PlayMe() override;
  void PlayContinue() override;
  void UpdatePlayPosition() override;
  void PlayPause() override;
  bool StopPlay() override;
  bool UTurn() override;
  bool PlayAtCurrentPosition() override;

  // The notification forms' DxEventForward handlers. Public so that a test
  // can deliver a notification while another one is being handled, as a
  // message pumped during a refill would; eventid is not used.
  void DxEventFrm0_DxEventForward(int32_t eventid);
  void DxEventFrm1_DxEventForward(int32_t eventid);
  void DxEventFrm2_DxEventForward(int32_t eventid);

 private:
  bool StopInternal();
  void ReleaseEngine();
  void ArmStopTimer();
  void StopPlayTimer_Timer();
  // The body of the two refill handlers: half 1 or 2.
  void Refill(int32_t Half);
  // Shared tail of UTurn and PlayAtCurrentPosition: clamp PlayProgress,
  // start the run there, report.
  bool StartAtProgress();
  // One WriteBuffer of the whole of half 1 or 2 of PlayChunk.
  void WriteHalf(int32_t Half);
  int32_t TimeOfDayMs() const;
  devices::dx7::DirectSoundBuffer& Buffer();
  void OpenEvent(std::unique_ptr<DxEventFrm>& form, int32_t& handle, void (StreamDx7Class::*handler)(int32_t));
  void CloseEvent(std::unique_ptr<DxEventFrm>& form, int32_t& handle);

  state::PlayContext& ctx_;
  state::PlayDllMod& mod_;

  std::unique_ptr<devices::dx7::DirectX7> DxRoot;
  std::unique_ptr<devices::dx7::DirectSound> DSound;
  std::unique_ptr<devices::dx7::DirectSoundBuffer> DSBuffer;
  bool BufferLive = false;
  devices::dx7::WAVEFORMATEX WaveFmt;
  devices::dx7::DSBUFFERDESC BuffDesc;
  runtime::VbArray<devices::dx7::DSBPOSITIONNOTIFY> NotifyPos;
  int32_t NotifyCount = 0;
  int32_t EventHandle0 = 0;
  int32_t EventHandle1 = 0;
  int32_t EventHandle2 = 0;
  bool InRefill = false;
  int32_t LoopCount = 0;
  int32_t WrapCount = 0;
  int32_t PendingWraps = 0;
  devices::dx7::DSCURSORS Cursors;
  os::Timer& StopPlayTimer;
  std::unique_ptr<DxEventFrm> DxEventFrm0;
  std::unique_ptr<DxEventFrm> DxEventFrm1;
  std::unique_ptr<DxEventFrm> DxEventFrm2;
  int32_t LastPlayCursor = 0;
};

}  // namespace engines
