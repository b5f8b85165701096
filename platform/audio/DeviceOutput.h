#pragma once
// The sound card as an AudioOutput. Frames handed over on the loop thread
// are converted to the card's rate (platform/audio/Resampler.h) and to stereo, and
// queued in a lock-free ring; the backend's real-time thread takes them from
// there (DeviceOutput::Render) and fills with silence when it has none.
//
// The card is the clock: after each hand-over the output measures how long
// its frames still take to sound (ring + what the sound server holds) and
// sets the speed of the loop's clock (SlavedClock) so that this stays at
// Settings::latencyUs (60 ms unless the server is told otherwise). The stand-ins' cursors, positions, notifications and end
// marks therefore follow the card, and LatencyUs() is that measured time.
//
// Runs: Start begins handing over; the card starts sounding once a third of the
// latency is queued (so the start of a run is never cut), and Stop lets
// it drain what is queued. A Start while draining (a U-turn, a tempo change)
// joins on without a gap. A ring that runs dry in a run is an underrun:
// counted, logged, and the card waits for a new pre-roll.
//
// The device opens at the first Available() or Start; if it cannot, or goes
// away (sound server killed), Available() is false for the rest of the run,
// and the next Available() outside a run tries to open it again.
// Thread: every member on the loop thread except Render (backend thread).

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/AudioBackend.h"
#include "platform/audio/AudioOutput.h"
#include "platform/audio/Resampler.h"
#include "platform/audio/SlavedClock.h"
#include "platform/audio/SpscRing.h"
#include "platform/os/EventLoop.h"

namespace audio {

class DeviceOutput final : public AudioOutput {
 public:
  static constexpr int32_t kPumpMs = 10;
  // The ring holds two seconds of stereo at up to 192 kHz: far more than a
  // run keeps queued.
  static constexpr size_t kRingSamples = 2 * 192000 * 2;

  // How a device output runs.
  struct Settings {
    SlavedClock* steer = nullptr;  // the loop's clock when it is a SlavedClock
    int64_t latencyUs = 60000;     // what to keep queued: a third in the sound server,
                                   // the rest in the ring; a third is the pre-roll
  };

  // `device` "" is the default output. Opens nothing yet.
  DeviceOutput(os::EventLoop& loop, std::unique_ptr<AudioBackend> backend, std::string device, Settings settings);
  ~DeviceOutput() override;
  DeviceOutput(const DeviceOutput&) = delete;
  DeviceOutput& operator=(const DeviceOutput&) = delete;

  void Start(int32_t channels, int32_t rate, OutputPump pump) override;
  void Play(const int16_t* frames, size_t frameCount, int64_t atUs) override;
  void Stop() override;
  bool Available() override;
  int64_t LatencyUs() const override { return latencyUs_; }

  int64_t Underruns() const { return underruns_.load(std::memory_order_acquire); }
  // Of the latest run: from its Start to its first frame leaving the
  // loudspeaker (the first render plus what the sound server held then);
  // -1 until that frame has been rendered.
  int64_t StartLatencyUs() const;
  // Why the device is not available ("" when it is).
  const std::string& Trouble() const { return trouble_; }

 private:
  enum Phase : int { kPreroll, kSounding };

  static void Render(void* self, int16_t* out, size_t frames);
  bool Open();
  void Close();
  void Queue(const std::vector<int16_t>& stereo);
  void Steer();
  void SchedulePump();
  void CancelPump();

  os::EventLoop& loop_;
  std::unique_ptr<AudioBackend> backend_;
  std::string device_;
  SlavedClock* steer_;
  int64_t targetLatencyUs_;

  bool open_ = false;
  bool started_ = false;
  std::string trouble_;
  int64_t lastTryUs_ = INT64_MIN;
  int32_t channels_ = 0;
  std::unique_ptr<Resampler> resampler_;
  std::vector<int16_t> stereo_;     // scratch: source frames as stereo
  std::vector<int16_t> converted_;  // scratch: at the card's rate
  SpscRing ring_;                   // stereo samples at the card's rate
  OutputPump pump_;
  uint64_t pumpTask_ = 0;
  int64_t latencyUs_ = 0;
  bool measured_ = false;
  int64_t underrunsLogged_ = 0;

  // Shared with the backend's thread.
  std::atomic<bool> running_{false};   // a run is on: a dry ring is an underrun
  std::atomic<int> phase_{kPreroll};   // written by Render only
  std::atomic<int64_t> prerollSamples_{0};
  std::atomic<int64_t> underruns_{0};
  int64_t startNs_ = 0;                  // steady time of the run's Start
  std::atomic<int64_t> soundNs_{0};      // steady time its first frame was rendered (0: not yet)
};

}  // namespace audio
