#include "platform/audio/VirtualOutput.h"

#include <stdexcept>

namespace audio {

void VirtualOutput::Start(int32_t channels, int32_t rate, OutputPump /*pump*/) {
  if (channels < 1 || rate < 1) throw std::invalid_argument("VirtualOutput: bad format");
  if (!segments_.empty() && segments_.back().channels == channels && segments_.back().rate == rate) return;
  segments_.push_back(Segment{channels, rate, -1, {}});
}

void VirtualOutput::Play(const int16_t* frames, size_t frameCount, int64_t atUs) {
  if (segments_.empty()) throw std::logic_error("VirtualOutput: Play before Start");
  if (frameCount == 0) return;
  Segment& seg = segments_.back();
  if (seg.firstUs < 0) seg.firstUs = atUs;
  seg.samples.insert(seg.samples.end(), frames, frames + frameCount * static_cast<size_t>(seg.channels));
  framesPlayed_ += static_cast<int64_t>(frameCount);
  lastEndUs_ = atUs + static_cast<int64_t>(frameCount) * 1000000 / seg.rate;
}

std::vector<int16_t> VirtualOutput::Samples() const {
  std::vector<int16_t> all;
  for (const auto& seg : segments_) all.insert(all.end(), seg.samples.begin(), seg.samples.end());
  return all;
}

std::vector<int16_t> VirtualOutput::TakeSamples() {
  std::vector<int16_t> all = Samples();
  if (!segments_.empty()) segments_.erase(segments_.begin(), segments_.end() - 1);
  if (!segments_.empty()) segments_.back().samples.clear();
  return all;
}

void VirtualOutput::Clear() {
  segments_.clear();
  framesPlayed_ = 0;
  lastEndUs_ = -1;
  stops_ = 0;
}

}  // namespace audio
