#include "facade/PlayDllClass.h"

#include <algorithm>
#include <string>

#include "blocks/VodoRaraZodorUze.h"
#include "buffers/BlockCarrBuffClass.h"
#include "platform/devices/AudioPlatform.h"
#include "platform/os/Errors.h"
#include "platform/os/Log.h"

namespace facade {

namespace {

// The checks a host list passes before a hand-over changes anything: the
// block storage engine's format check, and at least one entry, since a
// channel buffer cannot take a list without a block.
void CheckChannelList(const runtime::VbArray<int32_t>& list, const std::string& listName) {
  blocks::VodoRaraZodorUze::ValidateBlockList(list, listName);
  if (list(1) == 0) {
    throw os::ListFormatError(listName + ": element 1 (N) is 0, a channel needs at least one entry");
  }
}

// Keeps a tempo factor's rate between 100 and 100000 samples per second once
// the wave's rate is known; computed in double precision, stored as float.
void ClampTempo(float& tempo, int32_t fmtFriq) {
  if (fmtFriq == 0) return;
  const double friq = fmtFriq;
  if (static_cast<double>(tempo) * friq < 100.0) {
    tempo = static_cast<float>(100.0 / friq);
  } else if (static_cast<double>(tempo) * friq > 100000.0) {
    tempo = static_cast<float>(100000.0 / friq);
  }
}

}  // namespace

PlayDllClass::PlayDllClass(state::PlayContext& ctx, engines::EngineFactory factory)
    : ctx_(ctx), mod_(ctx.Mod), factory_(std::move(factory)) {
  mod_.PlayTempoFor = 1.0f;
  mod_.PlayTempoRev = 1.0f;
  // Two empty channels from the start, so that no path can meet a missing
  // buffer; the first hand-over replaces them as every later one does.
  mod_.ChanBuffL = std::make_unique<buffers::BlockCarrBuffClass>(ctx_.Blocks, mod_.MemorySizeToUse);
  mod_.ChanBuffR = std::make_unique<buffers::BlockCarrBuffClass>(ctx_.Blocks, mod_.MemorySizeToUse);
}

PlayDllClass::~PlayDllClass() {
  try {
    Terminate();
  } catch (const std::exception& e) {
    os::LogCaught("releasing the object", e);
  }
}

void PlayDllClass::RaiseMsg(const std::string& Msg, const std::string& Ttl) {
  os::LogDebug("MsgBoxOb(\"" + Msg + "\", \"" + Ttl + "\")");
  if (msgBoxOb_) msgBoxOb_(Msg, Ttl);
}

// An engine's report of a run that has ended ("Play Done", "Stopped") goes
// out once a sound card has played that run's last frame.
void PlayDllClass::ConnectEngine(engines::EngineContract& engine) {
  engine.ConnectMsgBoxOb([this](const std::string& Msg, const std::string& Ttl) {
    ctx_.Audio.Output().AwaitHeard();
    RaiseMsg(Msg, Ttl);
  });
}

engines::EngineContract* PlayDllClass::EngineInUse() const {
  switch (DriverType_) {
    case kDriverDx7: return StrmDx7Cls.get();
    case kDriverWaveOut: return PlayApiCls.get();
    case kDriverDx9: return StrmDx9Cls.get();
    default: return nullptr;
  }
}

// ------------------------------------------------------------ engine selection

void PlayDllClass::DxObj(int32_t& MFrmHwnd) {
  const auto chose = [window = MFrmHwnd](const char* engine) {
    os::LogDebug("DxObj(" + std::to_string(window) + "): " + engine);
  };
  try {
    switch (DriverType_) {
      case kDriverDx7: StrmDx7Cls.reset(); break;
      case kDriverWaveOut: PlayApiCls.reset(); break;
      case kDriverDx9: StrmDx9Cls.reset(); break;
      default: break;
    }
    DriverType_ = kDriverNone;
    mod_.RunningState = state::kRunIdle;
    if (MFrmHwnd <= 0) {
      chose("no engine");
      return;
    }

    StrmDx9Cls = factory_.NewStreamDx9();
    ConnectEngine(*StrmDx9Cls);
    if (StrmDx9Cls->PutONDx9Ds(MFrmHwnd)) {
      DriverType_ = kDriverDx9;
      MFrmHwnd = 1;
      chose("the DirectSound 9 engine");
      return;
    }
    StrmDx9Cls.reset();

    StrmDx7Cls = factory_.NewStreamDx7();
    ConnectEngine(*StrmDx7Cls);
    if (StrmDx7Cls->PutONDx7Ds(MFrmHwnd)) {
      DriverType_ = kDriverDx7;
      MFrmHwnd = 1;
      chose("the DirectSound 7 engine");
      return;
    }
    StrmDx7Cls.reset();

    DriverType_ = kDriverWaveOut;
    PlayApiCls = factory_.NewPlayApi();
    ConnectEngine(*PlayApiCls);
    MFrmHwnd = 2;
    chose("the waveOut engine");
  } catch (const std::exception& e) {
    os::LogCaught("DxObj", e);
    DriverType_ = kDriverNone;
    MFrmHwnd = -1;
    PlayApiCls.reset();
    StrmDx7Cls.reset();
  }
}

int32_t PlayDllClass::PlayRunningDx7State() const { return mod_.RunningState; }

void PlayDllClass::SetMemorySizeToUse(int32_t value) { mod_.MemorySizeToUse = value; }
void PlayDllClass::SetLoopPlayON(bool value) { mod_.LoopPlayON = value; }
void PlayDllClass::SetAppTmpDir(const std::string& value) { mod_.AppTmpDir = value; }

void PlayDllClass::SetPlayTempoFor(float value) {
  mod_.PlayTempoFor = value;
  ClampTempo(mod_.PlayTempoFor, mod_.FmtFriq);
}

void PlayDllClass::SetPlayTempoRev(float value) {
  mod_.PlayTempoRev = value;
  ClampTempo(mod_.PlayTempoRev, mod_.FmtFriq);
}

// ------------------------------------------------------------ play commands

void PlayDllClass::PlayAgain() { StartFromBeginning(1, "Play Again - Failed"); }

void PlayDllClass::PlayAgainRev() { StartFromBeginning(-1, "Play Again Rev. - Failed"); }

void PlayDllClass::StartFromBeginning(int32_t direction, const char* noWaveText) {
  if (mod_.WaveNos < 1) {
    RaiseMsg("S2", noWaveText);
    RaiseMsg("Not ready", "Do \"Play New\" first");
    return;
  }
  mod_.PlayDirection = direction;
  mod_.PlayProgress = 1;
  if (DriverType_ == kDriverNone) {
    RaiseMsg("S2", "Driver is Off");
    return;
  }
  // The DirectSound 9 engine reports its own failure; the others are echoed.
  const bool started = EngineInUse()->PlayMe();
  if (!started && DriverType_ != kDriverDx9) RaiseMsg("S2", "Play Failed");
}

void PlayDllClass::PlayUTurn() {
  bool ok = false;
  if (DriverType_ == kDriverNone) {
    RaiseMsg("S2", "Driver is Off");
  } else {
    ok = EngineInUse()->UTurn();
  }
  if (!ok) RaiseMsg("S2", "U-Turn Failed");
}

void PlayDllClass::PlayAtPos(int32_t& Pos) { StartAtPosition(1, Pos); }

void PlayDllClass::PlayAtPosRev(int32_t& Pos) { StartAtPosition(-1, Pos); }

void PlayDllClass::StartAtPosition(int32_t direction, int32_t pos) {
  mod_.PlayDirection = direction;
  mod_.CurrentPos = pos;  // no range test: the engine clamps the start to the wave
  bool ok = false;
  if (DriverType_ == kDriverNone) {
    RaiseMsg("S2", "Driver is Off");
  } else {
    ok = EngineInUse()->PlayAtCurrentPosition();
  }
  if (!ok) RaiseMsg("S2", "Play at.. failed");
}

void PlayDllClass::StopPlay() {
  try {
    if (DriverType_ == kDriverNone) {
      RaiseMsg("S2", "Driver is Off");
    } else {
      EngineInUse()->StopPlay();
    }
    blocks::VodoRaraZodorUze& blocks = ctx_.Blocks;
    for (int32_t slot = 1; slot <= blocks.OrgFileCount; ++slot) blocks.CloseOrgFile(slot);
    for (int32_t slot = 1; slot <= blocks.BlkFileCount; ++slot) blocks.CloseBlkFile(slot);
  } catch (const std::exception& e) {
    os::LogCaught("StopPlay", e);
    RaiseMsg("Stop Play error", "Stop Play error");
  }
}

void PlayDllClass::PlayContinue() {
  try {
    if (mod_.WaveNos > 0) {
      if (DriverType_ == kDriverNone) {
        RaiseMsg("S2", "Driver is Off");
      } else {
        EngineInUse()->PlayContinue();
      }
    } else {
      RaiseMsg("S2", "Nothing to Continue");
    }
  } catch (const std::exception& e) {
    os::LogCaught("PlayContinue", e);
    RaiseMsg("S2", "Play Continue error");
  }
}

void PlayDllClass::PlayPause() {
  try {
    if (DriverType_ == kDriverNone) {
      RaiseMsg("S2", "Driver is Off");
    } else {
      EngineInUse()->PlayPause();
    }
  } catch (const std::exception& e) {
    os::LogCaught("PlayPause", e);
    RaiseMsg("S2", "Play Pause error");
  }
}

void PlayDllClass::UpdatePlayPosition() {
  try {
    if (DriverType_ != kDriverNone) EngineInUse()->UpdatePlayPosition();
  } catch (const std::exception& e) {
    os::LogCaught("UpdatePlayPosition", e);
    mod_.CurrentPos = 0;
  }
}

int32_t PlayDllClass::PlayCurrentPosition() {
  try {
    switch (DriverType_) {
      case kDriverDx7:
      case kDriverDx9:
        EngineInUse()->UpdatePlayPosition();
        return HeardPosition();
      case kDriverWaveOut:
        return HeardPosition();  // kept current by the engine's poll
      default:
        return 0;
    }
  } catch (const std::exception& e) {
    os::LogCaught("PlayCurrentPosition", e);
    return 0;
  }
}

// The engines count what they handed to the output; a sound card plays it
// a little later. The host is told the sample leaving the card: what the
// output has not played yet (by the card's own clock) is taken off, never
// going back before the run's first sample, and within one run in one
// direction never back behind an earlier answer (the waveOut engine's
// position is only as fresh as its last poll). The simulated outputs hold
// nothing back, and nothing lags while not playing.
int32_t PlayDllClass::HeardPosition() {
  const int64_t lag = ctx_.Audio.Output().UnheardFrames();
  const int32_t direction = mod_.PlayDirection;
  const bool playing = mod_.RunningState == state::kRunPlaying || mod_.RunningState == state::kRunPlayingLoop;
  if (lag <= 0 || !playing || (direction != 1 && direction != -1)) return mod_.CurrentPos;
  const int64_t base = mod_.PlayBase;
  const int64_t end = static_cast<int64_t>(mod_.WaveNos) + 1;
  int64_t heard = direction == 1 ? base + std::max<int64_t>(mod_.CurrentPos - base - lag, 0)
                                 : end - base - std::max<int64_t>(end - mod_.CurrentPos - base - lag, 0);
  const bool sameRun = heard_.Base == base && heard_.Direction == direction &&
                       (mod_.CurrentPos - heard_.Cursor) * direction >= 0;
  if (sameRun) heard = direction == 1 ? std::max(heard, heard_.Position) : std::min(heard, heard_.Position);
  heard_ = HeardRun{base, direction, mod_.CurrentPos, heard};
  return static_cast<int32_t>(heard);
}

// ------------------------------------------------------------ wave hand-over

void PlayDllClass::WriteWaveMemo(int32_t& FmtBits, int32_t& FmtChannal, int32_t& FmtFriq, int32_t& WaveNos,
                                 const runtime::VbArray<int32_t>& BlkInLstL,
                                 const runtime::VbArray<int32_t>& BlkInLstR) {
  try {
    RaiseMsg("S2", "Writing to Play Buffer");
    if (WaveNos == 0) {
      RaiseMsg("Zero size wave found", "Play wave error");
      RaiseMsg("S2", "Sound Buffer Failed");
      return;
    }
    if ((FmtChannal != 1 && FmtChannal != 2) || (FmtBits != 16 && FmtBits != 8)) {
      RaiseMsg("Format not Known to write wave file", "Play wave error");
      RaiseMsg("S2", "Sound Buffer Failed");
      return;
    }
    // Both lists are checked before anything changes, so a malformed list
    // leaves the previous wave in place and playable.
    CheckChannelList(BlkInLstL, "BlkInLstL");
    if (FmtChannal == 2) CheckChannelList(BlkInLstR, "BlkInLstR");

    mod_.PlayDirection = 1;
    mod_.PlayProgress = 1;
    ReleaseFiles();
    mod_.WaveNos = WaveNos;

    runtime::VbArray<int32_t> blkIdxList;  // one temporary list serves both channels
    ctx_.Blocks.BlockListIngest(BlkInLstL, blkIdxList);
    mod_.ChanBuffL->BuffBlocksPutFresh(blkIdxList);
    if (FmtChannal == 2) {
      ctx_.Blocks.BlockListIngest(BlkInLstR, blkIdxList);
      mod_.ChanBuffR->BuffBlocksPutFresh(blkIdxList);
    }
    mod_.FmtBits = FmtBits;
    mod_.FmtChannal = FmtChannal;
    mod_.FmtFriq = FmtFriq;
    os::LogDebug("wave handed over: " + std::to_string(WaveNos) + " samples, " + std::to_string(FmtChannal) +
                 " channel(s) of " + std::to_string(FmtBits) + " bits at " + std::to_string(FmtFriq) + " per second");

    if (DriverType_ == kDriverNone) {
      RaiseMsg("S2", "Driver is Off");
    } else if (!EngineInUse()->CreateSoundBuffer()) {
      RaiseMsg("S2", "Sound Buffer Failed");
      return;
    }
    mod_.ChanBuffL->SetQuickBufferLength(mod_.ChunkSamples);
    mod_.ChanBuffR->SetQuickBufferLength(mod_.ChunkSamples);
    RaiseMsg("S2", "Done");
  } catch (const std::exception& e) {
    os::LogCaught("WriteWaveMemo", e);
    RaiseMsg(e.what(), "Play Wave error");
    RaiseMsg("S2", "Failed to play");
  }
}

void PlayDllClass::ReleaseFiles() {
  StopPlay();
  mod_.ChanBuffL.reset();
  mod_.ChanBuffR.reset();
  mod_.ChanBuffL = std::make_unique<buffers::BlockCarrBuffClass>(ctx_.Blocks, mod_.MemorySizeToUse);
  mod_.ChanBuffR = std::make_unique<buffers::BlockCarrBuffClass>(ctx_.Blocks, mod_.MemorySizeToUse);
  mod_.WaveNos = 0;
}

// ------------------------------------------------------------ destruction

void PlayDllClass::Terminate() {
  if (terminated_) return;
  terminated_ = true;
  int32_t none = 0;
  DxObj(none);
  try {
    ReleaseFiles();
  } catch (const std::exception& e) {
    os::LogCaught("ReleaseFiles during release", e);
  }
  StrmDx7Cls.reset();
  PlayApiCls.reset();
  StrmDx9Cls.reset();
}

}  // namespace facade
