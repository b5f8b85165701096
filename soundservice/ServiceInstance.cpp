#include "soundservice/ServiceInstance.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace soundservice {

namespace {

constexpr int64_t kUsPerSecond = 1000000;
constexpr int64_t kSilenceFrames = 4096;
constexpr int32_t kMinRate = 100;
constexpr int32_t kMaxRate = 100000;

}  // namespace

std::unique_ptr<ServiceInstance> ServiceInstance::Create(const SoundServiceHost& host, void (*pump)(void*),
                                                         int32_t channels, int32_t friq, int32_t bufferBytes,
                                                         int32_t bytesPer100Ms) {
  if (channels != 1 && channels != 2) return nullptr;
  // The rates a DirectSound buffer accepts; refused before anything is sized from them.
  if (friq < kMinRate || friq > kMaxRate || bytesPer100Ms <= 0 || bufferBytes <= 0) return nullptr;
  const int32_t blockAlign = 2 * channels;
  if (bufferBytes % (2 * blockAlign) != 0) return nullptr;
  return std::unique_ptr<ServiceInstance>(
      new ServiceInstance(host, pump, channels, bufferBytes / blockAlign, bytesPer100Ms));
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

ServiceInstance::~ServiceInstance() { Stop(); }

bool ServiceInstance::Play(int32_t mode, int32_t rate) {
  if ((mode != 0 && mode != 1) || rate < kMinRate || rate > kMaxRate) return false;
  CatchUp();
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
  if (!wasRunning || oldRate != rate) host_.outputStart(host_.context, channels_, rate, pump_, this);
  return true;
}

void ServiceInstance::Stop() {
  CatchUp();
  if (!running_) return;
  countBase_ = rendered_;
  running_ = false;
  host_.outputStop(host_.context);
}

bool ServiceInstance::Write(const int16_t* data, int32_t byteCount, int32_t byteOffset, int32_t endHalf,
                            int32_t endTicks) {
  const int64_t blockAlign = 2 * channels_;
  const int64_t bufferBytes = bufferFrames_ * blockAlign;
  if (data == nullptr || byteCount <= 0 || byteOffset < 0) return false;
  if (byteCount % blockAlign != 0 || byteOffset % blockAlign != 0) return false;
  if (static_cast<int64_t>(byteOffset) + byteCount > bufferBytes) return false;
  if (endHalf < 0 || endHalf > 2 || endTicks < -1) return false;

  CatchUp();  // what sounded so far came from the buffer as it was
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
  return true;
}

void ServiceInstance::Position(int32_t& passes, int32_t& bytePos) {
  CatchUp();
  passes = static_cast<int32_t>(std::min<int64_t>(played_ / bufferFrames_, INT32_MAX));
  bytePos = static_cast<int32_t>((played_ % bufferFrames_) * 2 * channels_);
}

bool ServiceInstance::DeviceLost() const { return host_.outputAvailable(host_.context) == 0; }

void ServiceInstance::TakeFlags(int32_t& half2, int32_t& half1, int32_t& playing, int32_t& endPlayed) {
  CatchUp();
  half2 = half2Flag_ ? 1 : 0;
  half1 = half1Flag_ ? 1 : 0;
  playing = running_ ? 1 : 0;
  endPlayed = endFlag_ ? 1 : 0;
  half2Flag_ = half1Flag_ = endFlag_ = false;
}

// Brings the instance up to the host's present: hands the frames that
// sounded since the last entry to the output, flags the halves that were
// played through, and notes the end mark once it has sounded. After the mark
// the device goes on putting out silence while the position holds.
void ServiceInstance::CatchUp() {
  if (!running_) return;
  const int64_t target = std::max(DeviceFramesAt(host_.nowUs(host_.context)), rendered_);
  if (!ended_) {
    int64_t soundTo = target;
    if (markSet_ && markAt_ < soundTo) soundTo = std::max(markAt_, rendered_);
    if (soundTo > rendered_) {
      RenderBuffer(rendered_, soundTo);
      FlagHalvesPassed(played_, soundTo);
      played_ = rendered_ = soundTo;
    }
    if (markSet_ && played_ >= markAt_) {
      ended_ = true;
      endFlag_ = true;
      markSet_ = false;
    }
  }
  if (target > rendered_) {
    RenderSilence(rendered_, target);
    rendered_ = target;
  }
}

int64_t ServiceInstance::DeviceFramesAt(int64_t nowUs) const {
  const int64_t elapsed = std::max<int64_t>(nowUs - startUs_, 0);
  // Whole seconds and the rest apart, so that the product stays in range.
  return countBase_ + (elapsed / kUsPerSecond) * rate_ + ((elapsed % kUsPerSecond) * rate_) / kUsPerSecond;
}

// The first host time at which `frame` frames have been put out, i.e. when
// the frame with that 0-based index starts sounding.
int64_t ServiceInstance::TimeOfDeviceFrameUs(int64_t frame) const {
  const int64_t k = std::max<int64_t>(frame - countBase_, 0);
  return startUs_ + (k / rate_) * kUsPerSecond + ((k % rate_) * kUsPerSecond + rate_ - 1) / rate_;
}

// Frames from..to-1 of the run, taken from the looping buffer in as few
// contiguous pieces as the wrap allows. REQUIRES: not ended (device frames
// and buffer frames coincide).
void ServiceInstance::RenderBuffer(int64_t from, int64_t to) {
  for (int64_t f = from; f < to;) {
    const int64_t at = f % bufferFrames_;
    const int64_t n = std::min(to - f, bufferFrames_ - at);
    host_.outputPlay(host_.context, buffer_.data() + at * channels_, n, TimeOfDeviceFrameUs(f));
    f += n;
  }
}

void ServiceInstance::RenderSilence(int64_t from, int64_t to) {
  for (int64_t f = from; f < to;) {
    const int64_t n = std::min(to - f, kSilenceFrames);
    host_.outputPlay(host_.context, silence_.data(), n, TimeOfDeviceFrameUs(f));
    f += n;
  }
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
