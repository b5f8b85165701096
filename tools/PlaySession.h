#pragma once
// One playback session of the command-line host: starts playsrv, attaches the
// object to a window, gives it a private folder for temporary files and a
// memory limit, hands a WAV file over (read in place) and runs commands,
// printing every report of the server and, with Progress, a position line
// every quarter second as time passes.
//
// Time: with Simulate the server's clock is virtual and the session moves it
// with AdvanceTime; otherwise time is real and the session waits. Reports
// are stamped with the time the step that raised them reaches.
// A failure report of the server (an error box, or a status such as
// "Play Failed") ends the session with PlayFailure, whose text adds the
// server's warnings and errors that came with it (why a device failed).
// The server's diagnostics go to the diagnostics handler (standard error
// until one is set); when only the waveOut engine is offered, the server's
// word that DirectSound refused the window while attaching is expected and
// left out.

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/EditList.h"
#include "tools/ServerClient.h"
#include "platform/audio/WavFile.h"

namespace playctl {

class PlayFailure final : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A fresh folder under the system's temporary folder, removed with its
// contents at the end.
class TempFolder final {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

struct SessionOptions {
  std::string Output;  // playsrv --output; empty: the server's default
  std::string Engine;  // dx9, dx7 or waveout: the only engine offered; empty: all
  bool Simulate = false;
  int32_t MemoryBytes = 64 << 20;
  std::string TempDir;  // the server's AppTmpDir; empty: a folder of the session's own
  bool Quiet = false;   // reports are not printed (a status line shows them instead)
  int32_t LatencyMs = -1;  // playsrv --latency-ms; below 0: the server's default
  bool Progress = false;   // Pass and WaitForPlayDone print the position every quarter second
};

class PlaySession final {
 public:
  PlaySession(const SessionOptions& options, std::ostream& out);
  // Ends a server that was not released: closes its input and waits.
  ~PlaySession();
  PlaySession(const PlaySession&) = delete;
  PlaySession& operator=(const PlaySession&) = delete;

  // DxObj, AppTmpDir, MemorySizeToUse, WriteWaveMemo; then LoopPlayON and the
  // two tempo factors (after the hand-over, so that the server keeps them in
  // its rate range). `wavPath` must be a full path.
  void Prepare(const std::string& wavPath, const audio::WavInfo& wav, bool loop, float tempo);
  // The same for a wave made of an edit list.
  void Prepare(const EditWave& wave, bool loop, float tempo);
  // Hands `frames` frames of the wave's format over as `lists` (the wave, or
  // an excerpt of it) with the loop switch as given; the tempo factors stay.
  void HandOver(const EditWave& wave, const HostLists& lists, int32_t frames, bool loop);
  // Calls a member; a failure report during the call throws PlayFailure.
  nlohmann::json Command(const std::string& member, const nlohmann::json& params = nullptr);
  // Lets `ms` of time pass (printing the position every quarter second with
  // Progress).
  void Pass(int32_t ms);
  // Lets time pass until "Play Done" (true) or `maxMs` have passed (false).
  // On the virtual clock without Progress the first `expectedMs` pass in one
  // step.
  bool WaitForPlayDone(int32_t maxMs, int32_t expectedMs = 0);
  int32_t Position();

  // For a transport that steers the run itself: lets `ms` of time pass
  // without printing; a failure report on the way throws PlayFailure (and is
  // then forgotten, so a refused command does not end the session).
  void Advance(int32_t ms);
  // Called with the text of every status report (Ttl of an "S2" report).
  void OnStatus(std::function<void(const std::string&)> onStatus) { onStatus_ = std::move(onStatus); }
  // Where the server's diagnostics go from now on (null: standard error).
  void OnDiagnostic(std::function<void(const std::string&)> onDiagnostic) { onDiagnostic_ = std::move(onDiagnostic); }
  // "DirectSound" or "waveOut", after Prepare.
  const std::string& EngineName() const { return engine_; }
  // Destroys the object and waits for the server to end; its exit status.
  int Release();
  // The server's message that its WAV output failed (frames were lost), or "".
  const std::string& OutputLost() const { return outputLost_; }

 private:
  void OnNotification(const std::string& method, const nlohmann::json& params);
  void OnServerDiagnostic(const std::string& line);
  void Step(int32_t ms);
  void CheckFailure();
  double NowSeconds() const;

  std::ostream& out_;
  bool simulate_;
  std::string tempDir_;
  int32_t memoryBytes_;
  int32_t rate_ = 0;
  TempFolder tmp_;
  std::unique_ptr<ServerClient> client_;
  int64_t virtualMs_ = 0;
  int64_t startMs_ = 0;
  bool playDone_ = false;
  bool releasing_ = false;
  std::string failure_;
  std::string outputLost_;
  bool quiet_ = false;
  bool progress_ = false;
  bool waveOutOnly_ = false;
  bool attaching_ = false;
  std::vector<std::string> troubles_;  // the server's warnings and errors since the last command or step
  std::string engine_;
  std::function<void(const std::string&)> onStatus_;
  std::function<void(const std::string&)> onDiagnostic_;
};

}  // namespace playctl
