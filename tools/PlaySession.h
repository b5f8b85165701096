#pragma once
// One playback session of the command-line host: starts playsrv, attaches the
// object to a window, gives it a private folder for temporary files and a
// memory limit, hands a WAV file over (read in place) and runs commands,
// printing every report of the server and a position line as time passes.
//
// Time: with Simulate the server's clock is virtual and the session moves it
// with AdvanceTime; otherwise time is real and the session waits.
// A failure report of the server (an error box, or a status such as
// "Play Failed") ends the session with PlayFailure.

#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>

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
  // Calls a member; a failure report during the call throws PlayFailure.
  nlohmann::json Command(const std::string& member, const nlohmann::json& params = nullptr);
  // Lets `ms` of time pass, printing the position every quarter second.
  void Pass(int32_t ms);
  // Lets time pass until "Play Done" (true) or `maxMs` have passed (false).
  bool WaitForPlayDone(int32_t maxMs);
  int32_t Position();

  // For a transport that steers the run itself: lets `ms` of time pass
  // without printing; a failure report on the way throws PlayFailure (and is
  // then forgotten, so a refused command does not end the session).
  void Advance(int32_t ms);
  // Called with the text of every status report (Ttl of an "S2" report).
  void OnStatus(std::function<void(const std::string&)> onStatus) { onStatus_ = std::move(onStatus); }
  // "DirectSound" or "waveOut", after Prepare.
  const std::string& EngineName() const { return engine_; }
  // Destroys the object and waits for the server to end; its exit status.
  int Release();
  // The server's message that its WAV output failed (frames were lost), or "".
  const std::string& OutputLost() const { return outputLost_; }

 private:
  void OnNotification(const std::string& method, const nlohmann::json& params);
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
  std::string engine_;
  std::function<void(const std::string&)> onStatus_;
};

}  // namespace playctl
