#pragma once
// The private sound servers `make test` starts (scripts/sound-servers.sh), as
// the device tests see them: how to point playsrv at each, and a recorder of
// what reaches its sink, on the recording's own clock.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace device_test {

using Samples = std::vector<int16_t>;

constexpr int32_t kCardRate = 48000;  // every private sink's

// One of "pulse", "pipewire", "jack", "alsa". Fails the test (and throws)
// when `make test` did not start that server.
struct SoundSystem {
  std::string name;
  std::string output;                                       // playsrv's --output
  std::vector<std::pair<std::string, std::string>> env;     // what points playsrv at it
  std::string server;  // the recorder's way in: a PulseAudio server string or a JACK server name
};
SoundSystem FindSoundSystem(const std::string& name);

// Sets environment variables for the child processes started while it lives
// (empty value: unset), and puts the old values back.
class ScopedEnv final {
 public:
  explicit ScopedEnv(const std::vector<std::pair<std::string, std::string>>& vars);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;  // unset: nullopt
};

// Records the left channel of what reaches a sound system's sink from the
// moment it is made, at kCardRate.
class Recorder {
 public:
  virtual ~Recorder() = default;
  // Ends the recording; Left and TimeOfFrameNs are final from then on.
  virtual void Stop() = 0;
  const Samples& Left() const { return left_; }
  // The steady time (CLOCK_MONOTONIC, ns) at which recorded frame `n`
  // reached the sink, by the recording's own clock.
  int64_t TimeOfFrameNs(size_t n) const;

 protected:
  struct Anchor {
    size_t frame;
    int64_t ns;  // when it reached the sink
  };
  Samples left_;
  std::vector<Anchor> anchors_;  // in frame order; the frames between follow at kCardRate
};
std::unique_ptr<Recorder> StartRecorder(const SoundSystem& system);

// A sound server of a test's own, so that it can be killed: "pulse" (a
// PulseAudio with the null sink; `alsa` plays into it through alsa-lib),
// "pipewire" (a desktop's PipeWire, scripts/sound-servers.sh) or "jack".
// Started by Start, ended by Kill (by its process ids) or at the end.
class OwnServer final {
 public:
  explicit OwnServer(std::string kind);
  ~OwnServer();
  OwnServer(const OwnServer&) = delete;
  OwnServer& operator=(const OwnServer&) = delete;

  void Start();
  void Kill();
  // What points playsrv at this server (as SoundSystem::env), for `system`
  // "pulse", "alsa", "pipewire" or "jack".
  std::vector<std::pair<std::string, std::string>> Env(const std::string& system) const;

 private:
  std::string kind_;
  std::string dir_;
  std::vector<int> pids_;
};

// Runs a shell command with the system's environment; its exit status.
int Shell(const SoundSystem& system, const std::string& command);

}  // namespace device_test
