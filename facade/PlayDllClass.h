#pragma once
// The public object the host drives. Holds at most one output engine (chosen
// by DxObj), forwards every report of the engine unchanged through its own
// event MsgBoxOb, and implements the play commands and the wave hand-over on
// the shared playback state of its PlayContext.
//
// Every outcome of a play command reaches the host through MsgBoxOb, which is
// delivered synchronously (the operation goes on after the handler returns).
// Members without an error handler of their own (PlayAgain, PlayAgainRev,
// PlayUTurn, PlayAtPos, PlayAtPosRev, ReleaseFiles) let a run-time error
// (os::PlayError or another std::exception) escape to the caller.
// Thread: loop thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "engines/EngineContract.h"
#include "platform/runtime/VbArray.h"
#include "state/PlayContext.h"

namespace facade {

// The values of DriverType: the engine in use.
inline constexpr int32_t kDriverNone = 0;
inline constexpr int32_t kDriverDx7 = 1;
inline constexpr int32_t kDriverWaveOut = 2;
inline constexpr int32_t kDriverDx9 = 3;

class PlayDllClass final {
 public:
  using MsgHandler = std::function<void(const std::string& Msg, const std::string& Ttl)>;

  // Construction: both tempo factors 1.0, no engine (kDriverNone).
  PlayDllClass(state::PlayContext& ctx, engines::EngineFactory factory);
  // Runs Terminate() unless it has run.
  ~PlayDllClass();
  PlayDllClass(const PlayDllClass&) = delete;
  PlayDllClass& operator=(const PlayDllClass&) = delete;

  // The host's event sink for MsgBoxOb.
  void ConnectMsgBoxOb(MsgHandler handler) { msgBoxOb_ = std::move(handler); }

  // ---- members of the dispatch interface, in interface order
  void DxObj(int32_t& MFrmHwnd);
  int32_t PlayCurrentPosition();
  void PlayAgain();
  void PlayAgainRev();
  int32_t PlayRunningDx7State() const;
  void PlayUTurn();
  void PlayAtPos(int32_t& Pos);
  void PlayAtPosRev(int32_t& Pos);
  void ReleaseFiles();
  void StopPlay();
  void PlayContinue();
  void UpdatePlayPosition();
  void PlayPause();
  // Lists are the host's arrays: element 1 holds the entry count N. Both
  // lists (the right one for stereo only) are checked before anything
  // changes: one that breaks the list format or has no entry is reported
  // through the two error messages and the previous wave stays playable.
  void WriteWaveMemo(int32_t& FmtBits, int32_t& FmtChannal, int32_t& FmtFriq, int32_t& WaveNos,
                     const runtime::VbArray<int32_t>& BlkInLstL, const runtime::VbArray<int32_t>& BlkInLstR);
  void SetMemorySizeToUse(int32_t value);
  void SetLoopPlayON(bool value);
  void SetPlayTempoFor(float value);
  void SetPlayTempoRev(float value);
  void SetAppTmpDir(const std::string& value);

  // ---- destruction of the object, as the host's release triggers it:
  // DxObj(0), ReleaseFiles, release of the three engine fields. (The wait
  // of 300 ms and the end of the process that follow are the server's:
  // server/ServerProcess.h.) Runs once; later calls do nothing.
  void Terminate();

  // ---- for tests
  int32_t DriverType() const { return DriverType_; }
  // The engine DriverType names, or nullptr.
  engines::EngineContract* EngineInUse() const;
  state::PlayContext& Context() { return ctx_; }

 private:
  int32_t HeardPosition();
  void RaiseMsg(const std::string& Msg, const std::string& Ttl);
  void StartFromBeginning(int32_t direction, const char* noWaveText);
  void StartAtPosition(int32_t direction, int32_t pos);
  void ConnectEngine(engines::EngineContract& engine);

  state::PlayContext& ctx_;
  state::PlayDllMod& mod_;
  engines::EngineFactory factory_;
  MsgHandler msgBoxOb_;
  bool terminated_ = false;

  std::unique_ptr<engines::Dx7EngineContract> StrmDx7Cls;
  std::unique_ptr<engines::EngineContract> PlayApiCls;
  std::unique_ptr<engines::Dx9EngineContract> StrmDx9Cls;
  int32_t DriverType_ = kDriverNone;
  // The latest heard position told and the run it belongs to.
  struct HeardRun {
    int64_t Base = -1;
    int32_t Direction = 0;
    int64_t Cursor = 0;    // the engine's CurrentPos then
    int64_t Position = 0;  // what the host was told
  } heard_;
};

}  // namespace facade
