#include "soundservice/ServiceInstance.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/devices/FrameTime.h"

namespace soundservice {

namespace {

constexpr int64_t kSilenceFrames = 4096;
constexpr int32_t kMinRate = 100;
constexpr int32_t kMaxRate = 100000;

std::string Str(int64_t v) { return std::to_string(v); }

void CheckRate(int32_t rate) {
  if (rate < kMinRate || rate > kMaxRate)
    throw ServiceError("rate " + Str(rate) + " frames/s is outside " + Str(kMinRate) + " to " + Str(kMaxRate));
}

}  // namespace

void LogTo(const SoundServiceHost& host, int32_t level, const std::string& text) noexcept {
  host.log(host.context, level, text.c_str());
}

std::unique_ptr<ServiceInstance> ServiceInstance::Create(const SoundServiceHost& host, void (*pump)(void*),
                                                         int32_t channels, int32_t friq, int32_t bufferBytes,
                                                         int32_t bytesPer100Ms) {
  if (channels != 1 && channels != 2) throw ServiceError(Str(channels) + " channels: 1 or 2 are played");
  // The rates a DirectSound buffer accepts; refused before anything is sized from them.
  CheckRate(friq);
  if (bytesPer100Ms <= 0) throw ServiceError("the 100-ms byte count " + Str(bytesPer100Ms) + " is not positive");
  const int32_t blockAlign = 2 * channels;
  if (bufferBytes <= 0 || bufferBytes % (2 * blockAlign) != 0)
    throw ServiceError("a buffer of " + Str(bufferBytes) + " bytes is not two halves of whole frames of " +
                       Str(blockAlign) + " bytes");
  auto instance = std::unique_ptr<ServiceInstance>(
      new ServiceInstance(host, pump, channels, bufferBytes / blockAlign, bytesPer100Ms));
  instance->Debug("a buffer of " + Str(bufferBytes / blockAlign) + " frames, " + Str(channels) + " channel(s) at " +
                  Str(friq) + " frames/s");
  return instance;
}

ServiceInstance::ServiceInstance(const SoundServiceHost& host, void (*pump)(void*), int32_t channels,
                                 int64_t bufferFrames, int32_t bytesPer100Ms)
    : host_(host),
      pump_(pump),
      channels_(channels),
      bufferFrames_(bufferFrames),
      halfFrames_(bufferFrames / 2),
      bytesPer100Ms_(bytesPer100Ms),
      buffer_(static_cast<size_t>(bufferFrames * channels), 0),
      silence_(static_cast<size_t>(kSilenceFrames * channels), 0) {}

ServiceInstance::~ServiceInstance() {
  try {
    Stop();
  } catch (const std::exception& e) {
    LogTo(host_, SOUND_SERVICE_LOG_WARNING, std::string("releasing a playing buffer: ") + e.what());
  }
}

void ServiceInstance::FailIfDeviceLost() const {
  if (host_.outputAvailable(host_.context) == 0) throw ServiceError("the output has no device");
}

void ServiceInstance::OutputStart(int32_t rate) {
  if (host_.outputStart(host_.context, channels_, rate, pump_, this) == 0)
    throw ServiceError("the output did not start (" + Str(channels_) + " channel(s) at " + Str(rate) +
                       " frames/s); the buffer is not playing");
}

void ServiceInstance::Play(int32_t mode, int32_t rate) {
  if (mode != 0 && mode != 1) throw ServiceError("mode " + Str(mode) + ": 1 plays from the start, 0 resumes");
  CheckRate(rate);
  FailIfDeviceLost();
  // What sounded before belongs to the run before: its failure does not fail this start.
  const std::string behind = CatchUpReportingFailure();
  if (!behind.empty()) LogTo(host_, SOUND_SERVICE_LOG_WARNING, behind + " (before a start)");
  const bool wasRunning = running_;
  const int32_t oldRate = rate_;
  if (mode == 1) {
    // A new run from byte 0: half 2 counts as just played, so that the
    // caller's first poll fills it while half 1 sounds.
    rendered_ = played_ = 0;
    half1Flag_ = false;
    half2Flag_ = true;
    endFlag_ = false;
    ended_ = false;
    if (markSet_) ResolveMark(0);
  }
  countBase_ = rendered_;
  startUs_ = host_.nowUs(host_.context);
  rate_ = rate;
  running_ = true;
  Debug(std::string(mode == 1 ? "playing from the buffer's start" : "playing on") + " at " + Str(rate) +
        " frames/s");
  if (wasRunning && oldRate == rate) return;
  try {
    OutputStart(rate);
  } catch (const ServiceError&) {
    running_ = false;
    // An output that was sounding at the old rate is told that it stopped.
    if (wasRunning) host_.outputStop(host_.context);
    throw;
  }
}

// Stops also when the output failed to take what sounded before; that
// failure is thrown once the buffer has stopped.
void ServiceInstance::Stop() {
  std::string failure = CatchUpReportingFailure();
  if (running_) {
    countBase_ = rendered_;
    running_ = false;
    Debug("stopped after " + Str(played_) + " frames of the buffer");
    if (host_.outputStop(host_.context) == 0) failure += failure.empty() ? "the output did not stop" : "; nor did it stop";
  }
  if (!failure.empty()) throw ServiceError(failure);
}

void ServiceInstance::Write(const int16_t* data, int32_t byteCount, int32_t byteOffset, int32_t endHalf,
                            int32_t endTicks) {
  const int64_t blockAlign = 2 * channels_;
  const int64_t bufferBytes = bufferFrames_ * blockAlign;
  if (data == nullptr || byteCount <= 0 || byteOffset < 0 || byteCount % blockAlign != 0 ||
      byteOffset % blockAlign != 0 || static_cast<int64_t>(byteOffset) + byteCount > bufferBytes)
    throw ServiceError(Str(byteCount) + " bytes at byte " + Str(byteOffset) + " are not whole frames of the " +
                       Str(bufferBytes) + "-byte buffer");
  if (endHalf < 0 || endHalf > 2 || endTicks < -1)
    throw ServiceError("end mark " + Str(endHalf) + ", " + Str(endTicks) +
                       ": the half is 0 to 2, the ticks -1 or more");
  FailIfDeviceLost();

  // What sounded so far came from the buffer as it was; the write is made
  // also when the output failed to take it, and fails afterwards.
  const std::string failure = CatchUpReportingFailure();
  std::memcpy(buffer_.data() + byteOffset / 2, data, static_cast<size_t>(byteCount));

  if (endHalf != 0) {
    int64_t within = halfFrames_;
    if (endTicks >= 0) {
      const int64_t markBytes = static_cast<int64_t>(endTicks) * bytesPer100Ms_;
      within = std::min((markBytes + blockAlign - 1) / blockAlign, halfFrames_);
    }
    markHalf_ = endHalf;
    markPos_ = (endHalf - 1) * halfFrames_ + within;
    markSet_ = true;
    ResolveMark(played_);
  } else if (markSet_) {
    const int64_t markStart = (markHalf_ - 1) * halfFrames_;
    const int64_t writeStart = byteOffset / blockAlign;
    const int64_t writeEnd = writeStart + byteCount / blockAlign;
    if (writeStart < markStart + halfFrames_ && markStart < writeEnd) markSet_ = false;
  }
  if (!failure.empty()) throw ServiceError(failure);
}

void ServiceInstance::Position(int32_t& passes, int32_t& bytePos) {
  FailIfDeviceLost();
  const std::string failure = CatchUpReportingFailure();
  passes = static_cast<int32_t>(std::min<int64_t>(played_ / bufferFrames_, INT32_MAX));
  bytePos = static_cast<int32_t>((played_ % bufferFrames_) * 2 * channels_);
  if (!failure.empty()) throw ServiceError(failure);
}

void ServiceInstance::TakeFlags(int32_t& half2, int32_t& half1, int32_t& playing, int32_t& endPlayed) {
  const std::string failure = CatchUpReportingFailure();
  half2 = half2Flag_ ? 1 : 0;
  half1 = half1Flag_ ? 1 : 0;
  playing = running_ ? 1 : 0;
  endPlayed = endFlag_ ? 1 : 0;
  half2Flag_ = half1Flag_ = endFlag_ = false;
  if (!failure.empty()) throw ServiceError(failure);
}

std::string ServiceInstance::CatchUpReportingFailure() {
  try {
    CatchUp();
  } catch (const ServiceError& e) {
    return e.what();
  }
  return {};
}

// Brings the instance up to the host's present: hands the frames that
// sounded since the last entry to the output, flags the halves that were
// played through, and notes the end mark once it has sounded. After the mark
// the device goes on putting out silence while the position holds. The
// bookkeeping is done before an output failure is thrown, so that the next
// entry does not hand the same frames over again.
void ServiceInstance::CatchUp() {
  if (!running_) return;
  const int64_t target = std::max(DeviceFramesAt(host_.nowUs(host_.context)), rendered_);
  bool taken = true;
  if (!ended_) {
    int64_t soundTo = target;
    if (markSet_ && markAt_ < soundTo) soundTo = std::max(markAt_, rendered_);
    if (soundTo > rendered_) {
      taken = RenderBuffer(rendered_, soundTo);
      FlagHalvesPassed(played_, soundTo);
      played_ = rendered_ = soundTo;
    }
    if (markSet_ && played_ >= markAt_) {
      ended_ = true;
      endFlag_ = true;
      markSet_ = false;
      Debug("the end mark sounded after " + Str(played_) + " frames of the buffer");
    }
  }
  if (target > rendered_) {
    taken = RenderSilence(rendered_, target) && taken;
    rendered_ = target;
  }
  if (!taken) throw ServiceError("the output did not take the frames that sounded");
}

int64_t ServiceInstance::DeviceFramesAt(int64_t nowUs) const {
  return countBase_ + devices::FramesAfterUs(std::max<int64_t>(nowUs - startUs_, 0), rate_);
}

// The first host time at which `frame` frames have been put out, i.e. when
// the frame with that 0-based index starts sounding.
int64_t ServiceInstance::TimeOfDeviceFrameUs(int64_t frame) const {
  return startUs_ + devices::UsUntilFrames(std::max<int64_t>(frame - countBase_, 0), rate_);
}

// Frames from..to-1 of the run, taken from the looping buffer in as few
// contiguous pieces as the wrap allows; false when the output failed to take
// one. REQUIRES: not ended (device frames and buffer frames coincide).
bool ServiceInstance::RenderBuffer(int64_t from, int64_t to) {
  bool taken = true;
  for (int64_t f = from; f < to;) {
    const int64_t at = f % bufferFrames_;
    const int64_t n = std::min(to - f, bufferFrames_ - at);
    taken = host_.outputPlay(host_.context, buffer_.data() + at * channels_, n, TimeOfDeviceFrameUs(f)) != 0 && taken;
    f += n;
  }
  return taken;
}

bool ServiceInstance::RenderSilence(int64_t from, int64_t to) {
  bool taken = true;
  for (int64_t f = from; f < to;) {
    const int64_t n = std::min(to - f, kSilenceFrames);
    taken = host_.outputPlay(host_.context, silence_.data(), n, TimeOfDeviceFrameUs(f)) != 0 && taken;
    f += n;
  }
  return taken;
}

// Half 1 has been played each time the run passes an odd multiple of the
// half, half 2 at each even one.
void ServiceInstance::FlagHalvesPassed(int64_t from, int64_t to) {
  const int64_t first = from / halfFrames_ + 1;
  const int64_t last = to / halfFrames_;
  if (last < first) return;
  if (last > first) {
    half1Flag_ = half2Flag_ = true;
  } else if (first % 2 == 1) {
    half1Flag_ = true;
  } else {
    half2Flag_ = true;
  }
}

// The mark sounds the next time its half comes round: in the first pass
// whose copy of the half starts at or after `reference`.
void ServiceInstance::ResolveMark(int64_t reference) {
  const int64_t halfStart = (markHalf_ - 1) * halfFrames_;
  const int64_t pass = reference <= halfStart ? 0 : (reference - halfStart + bufferFrames_ - 1) / bufferFrames_;
  markAt_ = pass * bufferFrames_ + markPos_;
}

}  // namespace soundservice
