#include "platform/audio/DeviceOutput.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <string>
#include <thread>

#include "platform/audio/RealTime.h"
#include "platform/os/Clock.h"
#include "platform/os/Errors.h"
#include "platform/os/Log.h"

namespace audio {

namespace {

constexpr int32_t kCardChannels = 2;
// Opening a device that is not there is tried again at most this often.
constexpr int64_t kRetryUs = 500000;
// Clock steering: the speed changes by kGain per second of error in the
// ring's fill, within the SlavedClock's bounds; the fill is smoothed.
constexpr double kGain = 2.0;
constexpr double kSmoothing = 0.1;

int64_t UsOf(int64_t frames, int32_t rate) { return rate > 0 ? frames * 1000000 / rate : 0; }

}  // namespace

DeviceOutput::DeviceOutput(os::EventLoop& loop, std::vector<std::unique_ptr<AudioBackend>> backends,
                           std::string device, Settings settings)
    : loop_(loop),
      backends_(std::move(backends)),
      device_(std::move(device)),
      steer_(settings.steer),
      configuredMarginUs_(settings.latencyUs > 0 ? std::max<int64_t>(settings.latencyUs / 2, 1000) : kDefaultMarginUs),
      marginUs_(configuredMarginUs_),
      systemQueueUs_(settings.latencyUs > 0 ? settings.latencyUs / 2 : 0),
      ring_(kRingSamples) {
  if (backends_.empty()) throw os::PlayError("device output: no sound system");
}

DeviceOutput::~DeviceOutput() {
  CancelPump();
  CancelFlush();
  CancelIdle();
  Close();
}

std::string DeviceOutput::BackendName() const { return state_ == State::kOpen ? backends_[active_]->Name() : ""; }

// Tries each backend in turn; the first that opens is used.
bool DeviceOutput::Open() {
  if (state_ == State::kOpen) return true;
  lastTryUs_ = loop_.NowUs();
  // Nothing reads the ring or the render state while no backend is open.
  ring_.Clear();
  ringWritten_ = 0;
  lastRingOut_ = 0;
  lastPeriod_ = 0;
  renderTotal_ = 0;
  stretches_ = {};
  newest_ = 0;
  ringRead_.store(0, std::memory_order_relaxed);
  outRing_.store(0, std::memory_order_relaxed);
  outSounding_.store(false, std::memory_order_relaxed);
  phase_.store(kPreroll, std::memory_order_release);
  ratePaused_.store(false, std::memory_order_relaxed);
  ringRate_.store(0, std::memory_order_relaxed);  // not known until a backend opens
  std::string why;
  for (size_t i = 0; i < backends_.size(); ++i) {
    active_ = i;  // before the backend's thread starts: Render asks it for the card's rate
    try {
      backends_[i]->Open(device_, systemQueueUs_, &Render, this);
    } catch (const std::exception& e) {
      backends_[i]->Close();
      why += (why.empty() ? "" : "; ") + std::string(e.what());
      continue;
    }
    state_ = State::kOpen;
    ringRate_.store(CardRate(), std::memory_order_release);
    marginUs_ = configuredMarginUs_;
    // While it holds the card, the loop thread hands frames over ahead of
    // ordinary work, where the system allows it.
    RequestRealTime(kLoopPriority);
    trouble_.clear();
    if (backends_.size() > 1 && lastBackend_ != backends_[i]->Name())
      os::LogInfo(std::string("sound device: ") + backends_[i]->Name() + " (" + std::to_string(CardRate()) + " Hz)");
    lastBackend_ = backends_[i]->Name();
    return true;
  }
  trouble_ = why;
  return false;
}

void DeviceOutput::Close() {
  CancelFlush();
  if (state_ != State::kOpen) return;
  backends_[active_]->Close();
  state_ = State::kClosed;
  resampler_.reset();
}

bool DeviceOutput::Available() {
  if (state_ == State::kOpen && backends_[active_]->Lost()) {
    if (started_) return false;  // the run that lost it fails to its end
    Close();
    trouble_ = "the sound device went away";
  }
  if (state_ != State::kClosed) return true;  // idle: opened again at the next Start
  if (started_) return false;
  if (lastTryUs_ != INT64_MIN && loop_.NowUs() - lastTryUs_ < kRetryUs) return false;
  return Open();
}

void DeviceOutput::Start(int32_t channels, int32_t rate, OutputPump pump) {
  if (channels < 1 || channels > 2 || rate < 1) throw os::PlayError("device output: bad format");
  CancelIdle();
  if (state_ == State::kIdle) {  // let go between runs: open again now
    state_ = State::kClosed;
    lastTryUs_ = INT64_MIN;
  }
  if (!started_ && !Available()) throw os::PlayError("device output: " + trouble_);
  if (state_ != State::kOpen) throw os::PlayError("device output: " + trouble_);
  SwitchRate();
  const bool newRate = !resampler_ || resampler_->InRate() != rate || resampler_->OutRate() != RingRate();
  CancelFlush();  // a run that joins on goes on through the same conversion
  if (resampler_ && newRate) {
    Flush();
    resampler_.reset();
  }
  if (!resampler_) NewConversion(rate);
  channels_ = channels;
  pump_ = pump;
  if (!started_) {
    started_ = true;
    measured_ = false;
    lowWater_.store(INT64_MAX, std::memory_order_release);
    underrunsLogged_ = underruns_.load(std::memory_order_acquire);
    prerollSamples_.store(marginUs_ * RingRate() / 1000000 * kCardChannels, std::memory_order_release);
    // A run that joins on shares the conversion: what it holds back still
    // belongs to the run before.
    segments_.assign(1, Segment{ringWritten_ + resampler_->HeldFrames(), 0, rate, RingRate()});
    runHanded_ = 0;
    startNs_ = os::SteadyNs();
    startLatencyUs_ = -1;
    running_.store(true, std::memory_order_release);
  } else if (newRate) {
    segments_.push_back(Segment{ringWritten_, runHanded_, rate, RingRate()});
  }
  TopUp();
  topUpPending_ = true;
  SchedulePump(0);
}

// What the ring lacks of a full request, a pump's worth and the margin,
// handed over at once: the loop's clock moves on by that much, so the
// stand-in's cursor passes those frames at the pump that follows. True when
// it moved the clock.
bool DeviceOutput::TopUp() {
  if (steer_ == nullptr) return false;
  const int64_t period = backends_[active_]->PeriodFrames();
  const int64_t fullUs = (period > 0 ? UsOf(period, RingRate()) : kAssumedPeriodUs) + kPumpMs * 1000 + marginUs_;
  const int64_t lack = fullUs - UsOf(static_cast<int64_t>(ring_.Size()) / kCardChannels, RingRate());
  if (lack <= 0) return false;
  steer_->Advance(lack);
  return true;
}

void DeviceOutput::Play(const int16_t* frames, size_t frameCount, int64_t /*atUs*/) {
  if (!started_ || state_ != State::kOpen || frameCount == 0) return;
  SwitchRate();
  NoteNewPeriod();
  const int16_t* source = frames;
  if (channels_ == 1) {
    stereo_.resize(frameCount * kCardChannels);
    for (size_t i = 0; i < frameCount; ++i) stereo_[2 * i] = stereo_[2 * i + 1] = frames[i];
    source = stereo_.data();
  }
  runHanded_ += static_cast<int64_t>(frameCount);
  Remember(source, frameCount);
  resampler_->Process(source, frameCount, converted_);
  Queue(converted_);
  // The first hand-over after a Start may leave the ring short by what a
  // fresh conversion holds back: that much more is handed over at once.
  if (topUpPending_) {
    topUpPending_ = false;
    if (TopUp()) SchedulePump(0);
  }
  Steer();
  const int64_t underruns = underruns_.load(std::memory_order_acquire);
  if (underruns > underrunsLogged_) {
    // This machine needs more in hand than thought: the margin grows for as
    // long as the sound system stays open.
    marginUs_ = std::min(marginUs_ + marginUs_ / 2, kMaxMarginUs);
    os::LogWarning("sound device underrun (" + std::to_string(underruns) + " in all)");
    underrunsLogged_ = underruns;
  }
  const int realTime = backends_[active_]->RealTime();
  if (realTime == 0 && !realTimeTold_) {
    os::LogInfo("the sound thread runs without real-time scheduling (not allowed here)");
    realTimeTold_ = true;
  }
}

// The sound system asks for more at a time than before (a JACK server's new
// buffer size, a PipeWire graph's longer cycle): the ring is topped up to
// the new size at once rather than by the clock's slow steering. Logs the
// sound system's pauses Render saw since the last hand-over.
void DeviceOutput::NoteNewPeriod() {
  const int64_t period = backends_[active_]->PeriodFrames();
  const int64_t changes = reconfigurations_.load(std::memory_order_acquire);
  if (changes != reconfigurationsLogged_) {
    os::LogInfo("the sound system reconfigured (now " + std::to_string(period) + " frames a period at " +
                std::to_string(CardRate()) + " Hz); the card had silence for one period");
    reconfigurationsLogged_ = changes;
  }
  if (period > lastPeriod_ && lastPeriod_ > 0 && TopUp()) SchedulePump(0);
  lastPeriod_ = period;
}

void DeviceOutput::Stop() {
  CancelPump();
  pump_ = OutputPump{};
  if (!started_) return;
  started_ = false;
  // What the conversion holds back is queued after this dispatch, unless a
  // Start in it joins on (a U-turn), which goes on converting without a seam.
  flushTask_ = loop_.Post([this] {
    flushTask_ = 0;
    Flush();
  });
  running_.store(false, std::memory_order_release);
  if (steer_ != nullptr) steer_->SetRatio(1.0);  // between runs the loop keeps plain time
  ScheduleIdle();
}

void DeviceOutput::Queue(const std::vector<int16_t>& stereo) {
  if (stereo.empty() || state_ != State::kOpen) return;
  const size_t taken = ring_.Write(stereo.data(), stereo.size());
  ringWritten_ += static_cast<int64_t>(taken / kCardChannels);
  if (taken < stereo.size())
    os::LogWarning("sound device queue full, " + std::to_string((stereo.size() - taken) / kCardChannels) +
                   " frames dropped");
}

void DeviceOutput::Flush() {
  if (state_ != State::kOpen || !resampler_) return;
  SwitchRate();
  resampler_->Flush(converted_);
  Queue(converted_);
  ForgetHistory();
}

// A conversion from `rate` to the ring's rate, whose output begins at the
// ring's end.
void DeviceOutput::NewConversion(int32_t rate) {
  resampler_ = std::make_unique<Resampler>(rate, RingRate(), kCardChannels);
  ForgetHistory();
}

// The present conversion starts afresh: its output begins at the ring's end.
void DeviceOutput::ForgetHistory() {
  history_.clear();
  streamFrames_ = 0;
  streamRing_ = ringWritten_;
}

// Keeps the source frames of the present conversion, the last
// kHistoryFrames of them at least, for a switch of rate.
void DeviceOutput::Remember(const int16_t* stereo, size_t frames) {
  if (history_.size() >= 2 * kHistoryFrames * kCardChannels) {
    history_.erase(history_.begin(), history_.end() - static_cast<long>(kHistoryFrames * kCardChannels));
  }
  history_.insert(history_.end(), stereo, stereo + frames * kCardChannels);
  streamFrames_ += static_cast<int64_t>(frames);
}

void DeviceOutput::CancelFlush() {
  if (flushTask_ != 0) loop_.Cancel(flushTask_);
  flushTask_ = 0;
}

// The card took a new rate (a JACK server's): once Render has stopped
// reading the ring (ratePaused_), the frames queued in it are dropped and
// made again at the new rate, and the conversion goes on at the new rate;
// then Render reads again. Nothing of the wave is dropped or repeated. The
// present conversion's source frames are converted again from the one the
// card had got to, in one stream with what follows; what the ring holds of
// an earlier conversion (or of source frames no longer kept) is converted
// from the ring's frames instead. The run's segments from the first frame
// not yet rendered on are moved to the new rate.
void DeviceOutput::SwitchRate() {
  if (state_ != State::kOpen || !ratePaused_.load(std::memory_order_acquire)) return;
  const int32_t from = RingRate(), to = CardRate();
  if (to != from) {
    const int64_t read = ringRead_.load(std::memory_order_acquire);
    queued_.resize(ring_.Size());
    queued_.resize(ring_.Read(queued_.data(), queued_.size()));
    ringWritten_ = read;
    ringRate_.store(to, std::memory_order_release);
    // The present conversion's source frame the card had got to, and
    // whether it is still kept.
    const int64_t oldest = streamFrames_ - static_cast<int64_t>(history_.size() / kCardChannels);
    const int64_t at =
        resampler_ ? std::min(std::max<int64_t>(read - streamRing_, 0) * resampler_->InRate() / from, streamFrames_) : 0;
    const bool kept = resampler_ && at >= oldest;
    const auto queuedFrames = static_cast<int64_t>(queued_.size() / kCardChannels);
    if (kept) {  // only an earlier conversion's frames are made from the ring's
      ConvertAgain(std::clamp<int64_t>(streamRing_ - read, 0, queuedFrames), from, to);
    } else {     // all of them, and what the conversion holds back
      if (resampler_) {
        resampler_->Flush(converted_);
        queued_.insert(queued_.end(), converted_.begin(), converted_.end());
      }
      ConvertAgain(static_cast<int64_t>(queued_.size() / kCardChannels), from, to);
    }
    MoveSegments(read, from, to);
    if (resampler_) {
      const auto first = history_.begin() + (kept ? (at - oldest) * kCardChannels : 0);
      const std::vector<int16_t> source(first, kept ? history_.end() : first);
      NewConversion(resampler_->InRate());
      Remember(source.data(), source.size() / kCardChannels);
      resampler_->Process(source.data(), source.size() / kCardChannels, converted_);
      Queue(converted_);
    }
    prerollSamples_.store(marginUs_ * to / 1000000 * kCardChannels, std::memory_order_release);
    lowWater_.store(INT64_MAX, std::memory_order_release);
  }
  ratePaused_.store(false, std::memory_order_release);
}

// Queues the first `frames` of queued_ (ring frames at `from` Hz) again at
// `to` Hz, in a conversion of their own.
void DeviceOutput::ConvertAgain(int64_t frames, int32_t from, int32_t to) {
  if (frames <= 0) return;
  Resampler again(from, to, kCardChannels);
  again.Process(queued_.data(), static_cast<size_t>(frames), converted_);
  Queue(converted_);
  again.Flush(converted_);
  Queue(converted_);
}

// The segments at and after ring frame `read` (not rendered yet) from ring
// frames at `from` Hz to `to` Hz; a segment begins there at the new rate.
void DeviceOutput::MoveSegments(int64_t read, int32_t from, int32_t to) {
  if (segments_.empty() || segments_.front().ring > read) {
    for (Segment& s : segments_) s = Segment{read + (s.ring - read) * to / from, s.source, s.rate, to};
    return;
  }
  auto after = std::find_if(segments_.begin(), segments_.end(), [read](const Segment& s) { return s.ring > read; });
  const Segment& at = *(after - 1);
  const Segment split{read, at.source + (read - at.ring) * at.rate / at.cardRate, at.rate, to};
  for (auto s = after; s != segments_.end(); ++s) *s = Segment{read + (s->ring - read) * to / from, s->source, s->rate, to};
  segments_.insert(after, split);
}

// Turns the loop's clock faster when the ring holds less than its target
// (the card plays faster than the loop hands over), slower when it holds
// more; notes when the run's first frame left the card.
void DeviceOutput::Steer() {
  const int64_t low = lowWater_.exchange(INT64_MAX, std::memory_order_acq_rel);
  if (low != INT64_MAX) {
    const auto lowUs = static_cast<double>(UsOf(low / kCardChannels, RingRate()));
    lowUs_ = measured_ ? lowUs_ + kSmoothing * (lowUs - lowUs_) : lowUs;
    measured_ = true;
  }
  const int64_t out = RingFramesOut();
  const int64_t first = segments_.front().ring;
  if (startLatencyUs_ < 0 && out > first) {
    const int64_t leftNs = os::SteadyNs() - UsOf(out - first, RingRate()) * 1000;
    startLatencyUs_ = std::max<int64_t>((leftNs - startNs_) / 1000, 0);
  }
  if (steer_ == nullptr || !measured_) return;
  const double errorSeconds = (lowUs_ - static_cast<double>(marginUs_)) / 1e6;
  steer_->SetRatio(1.0 - kGain * errorSeconds);
}

// Ring frames that have left the card by now: the latest request's count,
// moved on by the time since then while the card played ring frames; never
// less than an earlier answer.
int64_t DeviceOutput::RingFramesOut() {
  if (state_ != State::kOpen) return lastRingOut_;
  int64_t out = 0, ns = 0, read = 0;
  bool sounding = false;
  for (;;) {
    // Acquire loads throughout: none of them moves before the one above it.
    const uint32_t before = seq_.load(std::memory_order_acquire);
    out = outRing_.load(std::memory_order_acquire);
    ns = outNs_.load(std::memory_order_acquire);
    sounding = outSounding_.load(std::memory_order_acquire);
    read = ringRead_.load(std::memory_order_acquire);
    if ((before & 1u) == 0 && seq_.load(std::memory_order_acquire) == before) break;
  }
  if (sounding && ns > 0) out += (os::SteadyNs() - ns) / 1000 * RingRate() / 1000000;
  lastRingOut_ = std::max(lastRingOut_, std::min(out, read));
  return lastRingOut_;
}

int64_t DeviceOutput::UnheardFrames() {
  if (state_ != State::kOpen || segments_.empty()) return 0;
  const int64_t out = RingFramesOut();
  // The source frame of the run the card has got to, segment by segment.
  int64_t heard = 0;
  for (const Segment& s : segments_) {
    if (out < s.ring) break;
    heard = s.source + (out - s.ring) * s.rate / s.cardRate;
  }
  return runHanded_ - std::clamp<int64_t>(heard, 0, runHanded_);
}

// The loop thread waits here, between runs only, while the ring's last
// frames leave the card (a few milliseconds): nothing else is due meanwhile.
void DeviceOutput::AwaitHeard() {
  if (started_ || state_ != State::kOpen) return;
  if (flushTask_ != 0) {  // the run's last frames, held back by the conversion
    CancelFlush();
    Flush();
  }
  const int64_t limitNs = os::SteadyNs() + kAwaitLimitUs * 1000;
  while (!backends_[active_]->Lost() && RingFramesOut() < ringWritten_ && os::SteadyNs() < limitNs) {
    SwitchRate();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void DeviceOutput::SchedulePump(int64_t delayUs) {
  CancelPump();
  if (pump_.fn == nullptr) return;
  pumpTask_ = loop_.PostAt(loop_.NowUs() + delayUs, [this] {
    pumpTask_ = 0;
    const OutputPump pump = pump_;
    SchedulePump(kPumpMs * 1000);
    pump.fn(pump.arg);  // may Stop this output, which cancels the next tick
  });
}

void DeviceOutput::CancelPump() {
  if (pumpTask_ != 0) loop_.Cancel(pumpTask_);
  pumpTask_ = 0;
}

// Lets the sound system go once nothing has been started for kIdleUs.
void DeviceOutput::ScheduleIdle() {
  CancelIdle();
  idleTask_ = loop_.PostAt(loop_.NowUs() + kIdleUs, [this] {
    idleTask_ = 0;
    if (started_ || state_ != State::kOpen) return;
    const bool lost = backends_[active_]->Lost();
    CancelFlush();
    if (lost) {
      backends_[active_]->Close();
    } else {
      backends_[active_]->Suspend();
    }
    state_ = lost ? State::kClosed : State::kIdle;
    resampler_.reset();
    DropRealTime();
  });
}

void DeviceOutput::CancelIdle() {
  if (idleTask_ != 0) loop_.Cancel(idleTask_);
  idleTask_ = 0;
}

// ---- the backend's thread. No locks, no allocation: the ring and the atomics.

// Where the card is: the render index leaving it now, and which ring frame
// that is, from the stretches rendered lately.
void DeviceOutput::Publish(const AudioBackend::Timing& timing) {
  const int64_t at = std::max<int64_t>(renderTotal_ - timing.delayFrames, 0);
  Stretch found = stretches_[newest_];
  for (size_t back = 0; back < stretches_.size(); ++back) {
    const Stretch& s = stretches_[(newest_ + stretches_.size() - back) % stretches_.size()];
    found = s;
    if (s.render <= at) break;
  }
  const bool sounding = found.sounding && found.render <= at;
  const int64_t ring = found.ring + (sounding ? at - found.render : 0);
  const uint32_t seq = seq_.load(std::memory_order_relaxed);
  // Release stores throughout: a reader that sees any of them sees the odd
  // sequence number before it.
  seq_.store(seq + 1, std::memory_order_release);
  outRing_.store(ring, std::memory_order_release);
  outNs_.store(timing.nowNs, std::memory_order_release);
  outSounding_.store(sounding, std::memory_order_release);
  seq_.store(seq + 2, std::memory_order_release);
}

void DeviceOutput::NoteLowWater(int64_t samples) {
  int64_t low = lowWater_.load(std::memory_order_relaxed);
  while (samples < low && !lowWater_.compare_exchange_weak(low, samples, std::memory_order_acq_rel)) {
  }
}

// From the present render index on, the backend plays ring frames (or silence).
void DeviceOutput::MarkStretch(bool sounding) {
  if (stretches_[newest_].sounding == sounding) return;
  newest_ = (newest_ + 1) % stretches_.size();
  stretches_[newest_] = Stretch{renderTotal_, ringRead_.load(std::memory_order_relaxed), sounding};
}

void DeviceOutput::Render(void* self, int16_t* out, size_t frames, const AudioBackend::Timing& timing) {
  auto* me = static_cast<DeviceOutput*>(self);
  me->Publish(timing);
  // The card's new rate: the ring is left alone until the loop thread has
  // converted what it holds (SwitchRate), and the card meanwhile has the
  // sound system's own pause.
  bool paused = me->ratePaused_.load(std::memory_order_acquire);
  const int32_t ringRate = me->ringRate_.load(std::memory_order_acquire);
  if (!paused && ringRate != 0 && me->backends_[me->active_]->Rate() != ringRate) {
    if (me->running_.load(std::memory_order_acquire)) me->reconfigurations_.fetch_add(1, std::memory_order_acq_rel);
    me->ratePaused_.store(true, std::memory_order_release);
    paused = true;
  }
  const size_t wanted = frames * kCardChannels;
  size_t got = 0;
  SpscRing* ring = &me->ring_;
  const bool running = me->running_.load(std::memory_order_acquire);
  const size_t queued = ring->Size();
  int phase = me->phase_.load(std::memory_order_relaxed);
  const auto preroll = static_cast<size_t>(me->prerollSamples_.load(std::memory_order_relaxed));
  // A run starts sounding once the ring holds its margin and the whole of
  // this request, so that its first frames never run dry; a drained run's
  // last frames go out as they are.
  if (phase == kPreroll && queued > 0 && ((queued >= preroll && queued >= wanted) || !running)) phase = kSounding;
  if (paused) {
    phase = kPreroll;
  } else if (phase == kSounding && running && timing.reconfigured && queued < wanted) {
    // A request of a new size the ring was not kept for is the sound
    // system's own pause (it reconfigured), not ours: silence for the whole
    // of it, beside the sound system's own, rather than a second pause.
    me->reconfigurations_.fetch_add(1, std::memory_order_acq_rel);
    phase = kPreroll;
  } else if (phase == kSounding) {
    me->MarkStretch(true);
    got = ring->Read(out, wanted);
    me->ringRead_.fetch_add(static_cast<int64_t>(got / kCardChannels), std::memory_order_release);
    if (got < wanted) {
      if (running) me->underruns_.fetch_add(1, std::memory_order_acq_rel);
      phase = kPreroll;
    }
    if (running) me->NoteLowWater(static_cast<int64_t>(ring->Size()));
  }
  me->phase_.store(phase, std::memory_order_release);
  me->renderTotal_ += static_cast<int64_t>(got / kCardChannels);
  if (got < wanted) me->MarkStretch(false);
  me->renderTotal_ += static_cast<int64_t>((wanted - got) / kCardChannels);
  std::memset(out + got, 0, (wanted - got) * sizeof(int16_t));
}

}  // namespace audio
