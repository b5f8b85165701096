#include "platform/audio/DeviceOutput.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <string>

#include "platform/os/Clock.h"
#include "platform/os/Errors.h"
#include "platform/os/Log.h"

namespace audio {

namespace {

constexpr int32_t kCardChannels = 2;
// Opening a device that is not there is tried again at most this often.
constexpr int64_t kRetryUs = 500000;
// Clock steering: the speed changes by kGain per second of latency error,
// within the SlavedClock's bounds; the measured latency is smoothed.
constexpr double kGain = 0.5;
constexpr double kSmoothing = 0.05;

}  // namespace

DeviceOutput::DeviceOutput(os::EventLoop& loop, std::unique_ptr<AudioBackend> backend, std::string device,
                           Settings settings)
    : loop_(loop),
      backend_(std::move(backend)),
      device_(std::move(device)),
      steer_(settings.steer),
      targetLatencyUs_(std::max<int64_t>(settings.latencyUs, 10000)),
      ring_(kRingSamples) {}

DeviceOutput::~DeviceOutput() {
  CancelPump();
  Close();
}

bool DeviceOutput::Open() {
  if (open_) return true;
  lastTryUs_ = loop_.NowUs();
  ring_.Clear();  // nothing reads it while the device is closed
  phase_.store(kPreroll, std::memory_order_release);
  try {
    backend_->Open(device_, targetLatencyUs_ / 3, &Render, this);
  } catch (const std::exception& e) {
    backend_->Close();
    trouble_ = e.what();
    return false;
  }
  open_ = true;
  trouble_.clear();
  return true;
}

void DeviceOutput::Close() {
  if (!open_) return;
  backend_->Close();
  open_ = false;
  resampler_.reset();
}

bool DeviceOutput::Available() {
  if (open_ && backend_->Lost()) {
    if (started_) return false;  // the run that lost it fails to its end
    Close();
    trouble_ = "the sound device went away";
  }
  if (open_) return true;
  if (started_) return false;
  if (lastTryUs_ != INT64_MIN && loop_.NowUs() - lastTryUs_ < kRetryUs) return false;
  return Open();
}

void DeviceOutput::Start(int32_t channels, int32_t rate, OutputPump pump) {
  if (channels < 1 || channels > 2 || rate < 1) throw os::PlayError("device output: bad format");
  if (!started_ && !Available()) throw os::PlayError("device output: " + trouble_);
  if (resampler_ && resampler_->InRate() != rate) {
    resampler_->Flush(converted_);
    Queue(converted_);
    resampler_.reset();
  }
  if (!resampler_) resampler_ = std::make_unique<Resampler>(rate, backend_->Rate(), kCardChannels);
  channels_ = channels;
  pump_ = pump;
  if (!started_) {
    started_ = true;
    measured_ = false;
    underrunsLogged_ = underruns_.load(std::memory_order_acquire);
    prerollSamples_.store(targetLatencyUs_ / 3 * backend_->Rate() / 1000000 * kCardChannels, std::memory_order_release);
    startNs_ = os::SteadyNs();
    soundNs_.store(0, std::memory_order_release);
    running_.store(true, std::memory_order_release);
  }
  SchedulePump();
}

void DeviceOutput::Play(const int16_t* frames, size_t frameCount, int64_t /*atUs*/) {
  if (!started_ || !open_ || frameCount == 0) return;
  const int16_t* source = frames;
  if (channels_ == 1) {
    stereo_.resize(frameCount * kCardChannels);
    for (size_t i = 0; i < frameCount; ++i) stereo_[2 * i] = stereo_[2 * i + 1] = frames[i];
    source = stereo_.data();
  }
  resampler_->Process(source, frameCount, converted_);
  Queue(converted_);
  Steer();
  const int64_t underruns = underruns_.load(std::memory_order_acquire);
  if (underruns > underrunsLogged_) {
    os::LogWarning("sound device underrun (" + std::to_string(underruns) + " in all)");
    underrunsLogged_ = underruns;
  }
}

void DeviceOutput::Stop() {
  CancelPump();
  pump_ = OutputPump{};
  if (!started_) return;
  started_ = false;
  if (open_ && resampler_) {
    resampler_->Flush(converted_);
    Queue(converted_);
  }
  running_.store(false, std::memory_order_release);
  if (steer_ != nullptr) steer_->SetRatio(1.0);  // between runs the loop keeps plain time
}

void DeviceOutput::Queue(const std::vector<int16_t>& stereo) {
  if (stereo.empty() || !open_) return;
  const size_t taken = ring_.Write(stereo.data(), stereo.size());
  if (taken < stereo.size())
    os::LogWarning("sound device queue full, " + std::to_string((stereo.size() - taken) / kCardChannels) +
               " frames dropped");
}

// Measures how long the frames just handed over take to sound and turns the
// loop's clock faster when that is less than the target (the card plays
// faster than the loop hands over), slower when it is more.
void DeviceOutput::Steer() {
  const int64_t queued = static_cast<int64_t>(ring_.Size()) / kCardChannels;
  const int64_t nowUs = queued * 1000000 / backend_->Rate() + backend_->QueuedUs();
  latencyUs_ = measured_ ? latencyUs_ + static_cast<int64_t>(kSmoothing * static_cast<double>(nowUs - latencyUs_))
                         : nowUs;
  measured_ = true;
  if (steer_ == nullptr || phase_.load(std::memory_order_acquire) != kSounding) return;
  const double errorSeconds = static_cast<double>(latencyUs_ - targetLatencyUs_) / 1e6;
  steer_->SetRatio(1.0 - kGain * errorSeconds);
}

int64_t DeviceOutput::StartLatencyUs() const {
  const int64_t sound = soundNs_.load(std::memory_order_acquire);
  if (sound == 0) return -1;
  return (sound - startNs_) / 1000 + backend_->QueuedUs();
}

void DeviceOutput::SchedulePump() {
  CancelPump();
  if (pump_.fn == nullptr) return;
  pumpTask_ = loop_.PostAt(loop_.NowUs() + kPumpMs * 1000, [this] {
    pumpTask_ = 0;
    const OutputPump pump = pump_;
    SchedulePump();
    pump.fn(pump.arg);  // may Stop this output, which cancels the next tick
  });
}

void DeviceOutput::CancelPump() {
  if (pumpTask_ != 0) loop_.Cancel(pumpTask_);
  pumpTask_ = 0;
}

// The backend's thread. No locks, no allocation: the ring and the atomics.
void DeviceOutput::Render(void* self, int16_t* out, size_t frames) {
  auto* me = static_cast<DeviceOutput*>(self);
  const size_t wanted = frames * kCardChannels;
  size_t got = 0;
  SpscRing* ring = &me->ring_;
  {
    const bool running = me->running_.load(std::memory_order_acquire);
    const size_t queued = ring->Size();
    int phase = me->phase_.load(std::memory_order_relaxed);
    const auto preroll = static_cast<size_t>(me->prerollSamples_.load(std::memory_order_relaxed));
    if (phase == kPreroll && (queued >= preroll || (!running && queued > 0))) {
      phase = kSounding;
      if (running && me->soundNs_.load(std::memory_order_relaxed) == 0)
        me->soundNs_.store(os::SteadyNs(), std::memory_order_release);
    }
    if (phase == kSounding) {
      got = ring->Read(out, wanted);
      if (got < wanted) {
        if (running) me->underruns_.fetch_add(1, std::memory_order_acq_rel);
        phase = kPreroll;
      }
    }
    me->phase_.store(phase, std::memory_order_release);
  }
  std::memset(out + got, 0, (wanted - got) * sizeof(int16_t));
}

}  // namespace audio
