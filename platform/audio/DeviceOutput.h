#pragma once
// The sound card as an AudioOutput. Frames handed over on the loop thread
// are converted to the card's rate (platform/audio/Resampler.h) and to
// stereo, and queued in a lock-free ring; the backend's real-time thread takes
// them from there (DeviceOutput::Render) and fills with silence when it has
// none.
//
// Which sound system: the backends given, tried in their order at each open
// (AudioBackendNames for `--output device`); the first that opens is used
// until it is closed, and the log says which.
//
// Latency: the sound system keeps what it needs (its period or its own
// small queue) and the ring keeps, at its lowest, a margin above the largest
// request the sound system makes (Settings::latencyUs / 2, or
// kDefaultMarginUs; grown by half after an underrun, while the device stays
// open). A Start tops the ring up at once: the loop's clock (SlavedClock) is
// moved on by what the ring lacks, so the device stand-in hands that much
// over immediately and the card has it at its next request; the first
// hand-over tops up again what a fresh conversion holds back. A Start while
// the last run drains (a U-turn, a continue, a tempo change) joins on without
// a gap, through the same conversion when the rate stays. After each
// hand-over the clock's speed is set so that the ring's low-water mark stays
// at the margin: the stand-ins' cursors, positions, notifications and end
// marks follow the card.
//
// Positions come from the card: each request of the sound system says how
// much of what was rendered is still on its way (AudioBackend::Timing), and
// UnheardFrames() is what was handed over since the latest Start that has
// not left the card yet, by that count; what has left never goes back.
// AwaitHeard() waits (at most kAwaitLimitUs) until the ring's last frame has
// left the card.
//
// A ring that runs dry while a run sounds is an underrun: counted, logged,
// and the card waits for a margin and a whole request again. Stop lets the
// ring drain. The sound system may change its period under a run: a
// request the backend marks as the first of a new size
// (AudioBackend::Timing::reconfigured, a JACK server's new buffer size, a
// PipeWire graph's new quantum) that the ring cannot fill is a period of
// silence of the sound system's making (silence whole, logged, not an
// underrun); a larger period has the ring topped up to it at once.
// The card may change its rate under a run (a JACK server's): Render then
// plays silence and leaves the ring alone (ratePaused_) until the loop
// thread, at its next hand-over, has dropped the ring's frames and made
// them again at the new rate (SwitchRate): from the source frames the card
// had got to, which the present conversion keeps (kHistoryFrames), in one
// conversion with what follows; what the ring holds of an earlier
// conversion is converted from its own frames. Positions, the margin and
// the clock's steering go on at the new rate (Segment::cardRate).
//
// Idle: kIdleUs after the last run has ended the sound system is let go
// (stream closed, client gone) so that it can suspend the card, and the loop
// thread drops its real-time scheduling; the next Start opens it again (and
// Available() stays true meanwhile, so that the engines' polls do not wake
// it). A device that cannot be opened, or goes away (sound server
// killed), makes Available() false for the rest of the run; the next
// Available() outside a run tries again (at most twice a second).
// Thread: every member on the loop thread except Render (backend thread).

#include <array>
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
  static constexpr int32_t kPumpMs = 3;
  // What the ring keeps at its lowest, between the sound system's requests:
  // enough for an engine to turn (a stop, a chunk of four seconds built, a
  // start) before the ring runs dry.
  static constexpr int64_t kDefaultMarginUs = 8000;
  static constexpr int64_t kMaxMarginUs = 40000;
  // A period until the sound system has asked for one.
  static constexpr int64_t kAssumedPeriodUs = 5000;
  static constexpr int64_t kIdleUs = 3000000;
  // The longest AwaitHeard waits: far more than the sound system holds.
  static constexpr int64_t kAwaitLimitUs = 250000;
  // The ring holds two seconds of stereo at up to 192 kHz: far more than a
  // run keeps queued.
  static constexpr size_t kRingSamples = 2 * 192000 * 2;
  // The source frames kept for a change of the card's rate: far more than
  // the ring holds.
  static constexpr size_t kHistoryFrames = 96000;

  // How a device output runs.
  struct Settings {
    SlavedClock* steer = nullptr;  // the loop's clock when it is a SlavedClock
    int64_t latencyUs = 0;         // 0: the defaults; else half in the sound system, half in the ring
  };

  // `device` "" is each backend's default output. Opens nothing yet.
  DeviceOutput(os::EventLoop& loop, std::vector<std::unique_ptr<AudioBackend>> backends, std::string device,
               Settings settings);
  ~DeviceOutput() override;
  DeviceOutput(const DeviceOutput&) = delete;
  DeviceOutput& operator=(const DeviceOutput&) = delete;

  void Start(int32_t channels, int32_t rate, OutputPump pump) override;
  void Play(const int16_t* frames, size_t frameCount, int64_t atUs) override;
  void Stop() override;
  bool Available() override;
  int64_t UnheardFrames() override;
  void AwaitHeard() override;

  int64_t Underruns() const { return underruns_.load(std::memory_order_acquire); }
  // Of the latest run: from its Start to its first frame leaving the card,
  // by the card's clock; -1 until that frame has left.
  int64_t StartLatencyUs() const { return startLatencyUs_; }
  // The backend in use ("" when none is open).
  std::string BackendName() const;
  // Why the device is not available ("" when it is).
  const std::string& Trouble() const { return trouble_; }

 private:
  enum Phase : int { kPreroll, kSounding };
  enum class State { kClosed, kOpen, kIdle };
  // A stretch of the frames the backend rendered: from render index
  // `render` on, ring frames from `ring` on (sounding) or silence.
  struct Stretch {
    int64_t render = 0;
    int64_t ring = 0;
    bool sounding = false;
  };
  // Where a rate of the present run begins, in ring and in source frames.
  struct Segment {
    int64_t ring;
    int64_t source;
    int32_t rate;
    int32_t cardRate;  // of the ring frames
  };

  static void Render(void* self, int16_t* out, size_t frames, const AudioBackend::Timing& timing);
  void Publish(const AudioBackend::Timing& timing);
  void MarkStretch(bool sounding);
  void NoteLowWater(int64_t samples);
  bool Open();
  void Close();
  void Queue(const std::vector<int16_t>& stereo);
  void NoteNewPeriod();
  bool TopUp();
  void Flush();
  void CancelFlush();
  void SwitchRate();
  void ConvertAgain(int64_t frames, int32_t from, int32_t to);
  void NewConversion(int32_t rate);
  void ForgetHistory();
  void Remember(const int16_t* stereo, size_t frames);
  void MoveSegments(int64_t read, int32_t from, int32_t to);
  void Steer();
  int64_t RingFramesOut();
  int32_t CardRate() const { return backends_[active_]->Rate(); }
  // The rate of the frames in the ring: the card's, but for a moment after
  // the card changed it (SwitchRate).
  int32_t RingRate() const { return ringRate_.load(std::memory_order_relaxed); }
  void SchedulePump(int64_t delayUs);
  void CancelPump();
  void ScheduleIdle();
  void CancelIdle();

  os::EventLoop& loop_;
  std::vector<std::unique_ptr<AudioBackend>> backends_;
  std::string device_;
  SlavedClock* steer_;
  const int64_t configuredMarginUs_;
  int64_t marginUs_;  // grows after an underrun
  int64_t systemQueueUs_;

  State state_ = State::kClosed;
  size_t active_ = 0;
  std::string lastBackend_;
  bool started_ = false;
  std::string trouble_;
  int64_t lastTryUs_ = INT64_MIN;
  int32_t channels_ = 0;
  std::unique_ptr<Resampler> resampler_;
  std::vector<int16_t> stereo_;     // scratch: source frames as stereo
  std::vector<int16_t> converted_;  // scratch: at the card's rate
  std::vector<int16_t> queued_;     // scratch: the ring's frames at a rate switch
  // The present conversion (resampler_) since it was made or flushed: its
  // latest source frames (stereo), how many it took in all, and the ring
  // frame its output begins at.
  std::vector<int16_t> history_;
  int64_t streamFrames_ = 0;
  int64_t streamRing_ = 0;
  SpscRing ring_;                   // stereo samples at the card's rate
  int64_t ringWritten_ = 0;         // frames written to the ring since open
  OutputPump pump_;
  uint64_t pumpTask_ = 0;
  uint64_t idleTask_ = 0;
  uint64_t flushTask_ = 0;
  bool topUpPending_ = false;
  double lowUs_ = 0;  // the ring's smoothed low-water mark
  bool measured_ = false;
  int64_t underrunsLogged_ = 0;
  bool realTimeTold_ = false;
  int64_t lastPeriod_ = 0;          // the sound system's period at the last hand-over
  int64_t reconfigurationsLogged_ = 0;
  // The present run (from the latest Start after a Stop).
  std::vector<Segment> segments_;
  int64_t runHanded_ = 0;  // source frames handed over
  int64_t startNs_ = 0;
  int64_t startLatencyUs_ = -1;
  int64_t lastRingOut_ = 0;

  // Shared with the backend's thread.
  std::atomic<bool> running_{false};  // a run is on: a dry ring is an underrun
  std::atomic<int> phase_{kPreroll};  // written by Render only
  std::atomic<int64_t> prerollSamples_{0};
  std::atomic<int64_t> underruns_{0};
  std::atomic<int64_t> reconfigurations_{0};  // first requests after a reconfiguration the ring could not fill
  std::atomic<int32_t> ringRate_{0};          // written by the loop thread
  std::atomic<bool> ratePaused_{false};       // set by Render at a new rate, cleared by SwitchRate
  std::atomic<int64_t> lowWater_{INT64_MAX};  // the ring's least since the last Steer (samples)
  // What left the card, as of the latest request (a sequence lock: odd
  // while Render writes).
  std::atomic<uint32_t> seq_{0};
  std::atomic<int64_t> outRing_{0};      // ring frames that had left the card
  std::atomic<int64_t> outNs_{0};        // when
  std::atomic<bool> outSounding_{false}; // and whether the card was playing ring frames then
  std::atomic<int64_t> ringRead_{0};     // ring frames rendered so far

  // The backend's thread only (reset at open, before it starts).
  int64_t renderTotal_ = 0;
  std::array<Stretch, 16> stretches_{};
  size_t newest_ = 0;
};

}  // namespace audio
