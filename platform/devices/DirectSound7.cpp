#include "platform/devices/DirectSound7.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <utility>

#include "platform/os/Errors.h"
#include "platform/os/Log.h"

namespace devices::dx7 {

namespace {

// How far ahead of the play cursor the write cursor stands while playing.
// Frames are handed to the output only once they have sounded, so writing
// anywhere is safe; the lead is what a software buffer's mixer would claim.
constexpr int32_t kWriteLeadMs = 10;

[[noreturn]] void Fail(const std::string& call, const std::string& why) {
  throw os::PlayError("DirectSound " + call + ": " + why);
}

int64_t Mod(int64_t a, int64_t n) {
  const int64_t r = a % n;
  return r < 0 ? r + n : r;
}

}  // namespace

// ---------------------------------------------------------------- events

class DxEventTable final {
 public:
  int32_t Add(DirectX7::EventHandler handler) {
    const int32_t handle = next_++;
    handlers_.emplace(handle, std::move(handler));
    return handle;
  }
  bool Remove(int32_t handle) { return handlers_.erase(handle) > 0; }
  bool Has(int32_t handle) const { return handlers_.count(handle) > 0; }
  // The handler is copied first: it may destroy its own event.
  void Fire(int32_t handle) const {
    const auto it = handlers_.find(handle);
    if (it == handlers_.end()) return;
    const DirectX7::EventHandler handler = it->second;
    handler(handle);
  }

 private:
  std::map<int32_t, DirectX7::EventHandler> handlers_;
  int32_t next_ = 1;
};

DirectX7::DirectX7(AudioPlatform& platform) : platform_(platform), events_(std::make_shared<DxEventTable>()) {}

DirectX7::~DirectX7() = default;

std::unique_ptr<DirectSound> DirectX7::DirectSoundCreate(const std::string& guid) {
  if (!guid.empty()) Fail("DirectSoundCreate", "no device '" + guid + "'");
  if (!platform_.Offer().Dx7 || !platform_.Output().Available())
    Fail("DirectSoundCreate", "no DirectSound device");
  return std::make_unique<DirectSound>(platform_, events_);
}

int32_t DirectX7::CreateEvent(EventHandler handler) {
  if (!handler) Fail("CreateEvent", "no callback");
  return events_->Add(std::move(handler));
}

void DirectX7::DestroyEvent(int32_t handle) {
  if (!events_->Remove(handle)) Fail("DestroyEvent", "unknown event " + std::to_string(handle));
}

// ---------------------------------------------------------------- device

DirectSound::DirectSound(AudioPlatform& platform, std::shared_ptr<DxEventTable> events)
    : platform_(platform), events_(std::move(events)) {}

void DirectSound::SetCooperativeLevel(int32_t hwnd, int32_t level) {
  if (hwnd <= 0) Fail("SetCooperativeLevel", "invalid window " + std::to_string(hwnd));
  if (level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY)
    Fail("SetCooperativeLevel", "invalid level " + std::to_string(level));
  cooperativeLevel_ = level;
}

std::unique_ptr<DirectSoundBuffer> DirectSound::CreateSoundBuffer(const DSBUFFERDESC& desc,
                                                                  const WAVEFORMATEX& format) {
  if (cooperativeLevel_ == 0) Fail("CreateSoundBuffer", "no cooperative level set");
  return std::make_unique<DirectSoundBuffer>(platform_, events_, desc, format);
}

// ---------------------------------------------------------------- buffer

DirectSoundBuffer::DirectSoundBuffer(AudioPlatform& platform, std::shared_ptr<DxEventTable> events,
                                     const DSBUFFERDESC& desc, const WAVEFORMATEX& format)
    : platform_(platform),
      events_(std::move(events)),
      flags_(desc.lFlags),
      channels_(format.nChannels),
      blockAlign_(format.nBlockAlign),
      formatRate_(format.lSamplesPerSec),
      rate_(format.lSamplesPerSec),
      bufferFrames_(0),
      clock_(platform.Loop().GetClock()) {
  if (format.nFormatTag != 1 || format.nBitsPerSample != 16) Fail("CreateSoundBuffer", "only 16-bit PCM");
  if (channels_ < 1 || channels_ > 2) Fail("CreateSoundBuffer", "channels must be 1 or 2");
  if (blockAlign_ != 2 * channels_) Fail("CreateSoundBuffer", "block align must be 2 x channels");
  if (formatRate_ < DSBFREQUENCY_MIN || formatRate_ > DSBFREQUENCY_MAX)
    Fail("CreateSoundBuffer", "rate " + std::to_string(formatRate_) + " out of range");
  if (desc.lBufferBytes <= 0 || desc.lBufferBytes % blockAlign_ != 0)
    Fail("CreateSoundBuffer", "size " + std::to_string(desc.lBufferBytes) + " is not whole frames");
  bufferFrames_ = desc.lBufferBytes / blockAlign_;
  samples_.assign(static_cast<size_t>(desc.lBufferBytes / 2), 0);
  clock_.Reset();
}

DirectSoundBuffer::~DirectSoundBuffer() {
  auto& loop = platform_.Loop();
  try {
    if (clock_.Running()) {
      Render(clock_.Frames());
      platform_.Output().Stop();
    }
  } catch (const std::exception& e) {
    // Releasing never fails; the output has what it could take.
    os::LogCaught("DirectSound buffer release", e);
  }
  if (tickId_ != 0) loop.Cancel(tickId_);
  if (deliverId_ != 0) loop.Cancel(deliverId_);
}

void DirectSoundBuffer::WriteBuffer(int32_t startByte, int32_t byteCount, const int16_t* first, int32_t flags) {
  FailIfLost("WriteBuffer");
  CatchUp();
  if (flags & DSBLOCK_ENTIREBUFFER) {
    startByte = 0;
    byteCount = SizeBytes();
  } else if (flags & DSBLOCK_FROMWRITECURSOR) {
    DSCURSORS c;
    GetCurrentPosition(c);
    startByte = c.lWrite;
  }
  if (startByte < 0 || startByte >= SizeBytes() || startByte % blockAlign_ != 0)
    Fail("WriteBuffer", "start " + std::to_string(startByte) + " is not a frame of the buffer");
  if (byteCount < 0 || byteCount > SizeBytes() || byteCount % blockAlign_ != 0)
    Fail("WriteBuffer", "count " + std::to_string(byteCount) + " is not whole frames of the buffer");
  if (byteCount == 0) return;
  if (first == nullptr) Fail("WriteBuffer", "no source");
  // Up to two runs: to the buffer's end, then on from its start.
  const size_t start = static_cast<size_t>(startByte) / 2;
  const size_t total = static_cast<size_t>(byteCount) / 2;
  const size_t head = std::min(total, samples_.size() - start);
  std::memcpy(samples_.data() + start, first, head * sizeof(int16_t));
  if (total > head) std::memcpy(samples_.data(), first + head, (total - head) * sizeof(int16_t));
}

void DirectSoundBuffer::SetCurrentPosition(int32_t byteOffset) {
  if (byteOffset < 0 || byteOffset >= SizeBytes())
    Fail("SetCurrentPosition", "offset " + std::to_string(byteOffset) + " outside the buffer");
  CatchUp();
  const bool wasPlaying = clock_.Running();
  DropUndelivered();
  origin_ = byteOffset / blockAlign_;
  clock_.Reset();
  rendered_ = 0;
  scanned_ = 0;
  if (wasPlaying) {
    clock_.Start(rate_);
    CatchUp();  // the cursor now stands on the new position: its notification is due
    PlanTick();
  }
}

void DirectSoundBuffer::GetCurrentPosition(DSCURSORS& cursors) {
  FailIfLost("GetCurrentPosition");
  CatchUp();
  const int32_t play = PlayFrame();
  int32_t write = play;
  if (clock_.Running()) {
    const int64_t lead = static_cast<int64_t>(rate_) * kWriteLeadMs / 1000;
    write = static_cast<int32_t>(Mod(play + lead, bufferFrames_));
  }
  cursors.lPlay = play * blockAlign_;
  cursors.lWrite = write * blockAlign_;
}

void DirectSoundBuffer::SetFrequency(int32_t hz) {
  if ((flags_ & DSBCAPS_CTRLFREQUENCY) == 0) Fail("SetFrequency", "buffer made without DSBCAPS_CTRLFREQUENCY");
  if (hz == DSBFREQUENCY_ORIGINAL) hz = formatRate_;
  if (hz < DSBFREQUENCY_MIN || hz > DSBFREQUENCY_MAX)
    Fail("SetFrequency", "rate " + std::to_string(hz) + " out of range");
  CatchUp();
  if (hz == rate_) return;
  rate_ = hz;
  if (clock_.Running()) {
    clock_.SetRate(rate_);
    platform_.Output().Start(channels_, rate_, audio::OutputPump{&Pump, this});
    PlanTick();
  }
}

void DirectSoundBuffer::Play(int32_t flags) {
  if ((flags & DSBPLAY_LOOPING) == 0) Fail("Play", "only looping play is supported");
  FailIfLost("Play");
  CatchUp();
  if (clock_.Running()) return;
  clock_.Start(rate_);
  platform_.Output().Start(channels_, rate_, audio::OutputPump{&Pump, this});
  os::LogDebug("DirectSound buffer playing: " + std::to_string(channels_) + " channel(s) at " +
               std::to_string(rate_) + " frames/s");
  CatchUp();  // a notification where the cursor stands is signalled at the start
  PlanTick();
}

void DirectSoundBuffer::Stop() {
  CatchUp();
  if (!clock_.Running()) return;
  clock_.Stop();
  if (tickId_ != 0) platform_.Loop().Cancel(tickId_);
  tickId_ = 0;
  DropUndelivered();
  platform_.Output().Stop();
  os::LogDebug("DirectSound buffer stopped at frame " + std::to_string(PlayFrame()));
}

// Notifications signalled while playing but not yet handed to their handlers
// belong to the play that just ended: a handler must not refill, or arm a
// stop, for a run that is over (a timer due at the same instant can stop the
// buffer between the signal and its delivery).
void DirectSoundBuffer::DropUndelivered() {
  signalled_.clear();
  if (deliverId_ != 0) platform_.Loop().Cancel(deliverId_);
  deliverId_ = 0;
}

void DirectSoundBuffer::SetNotificationPositions(int32_t count, const DSBPOSITIONNOTIFY* table) {
  if ((flags_ & DSBCAPS_CTRLPOSITIONNOTIFY) == 0)
    Fail("SetNotificationPositions", "buffer made without DSBCAPS_CTRLPOSITIONNOTIFY");
  if (clock_.Running()) Fail("SetNotificationPositions", "buffer is playing");
  if (count < 0 || (count > 0 && table == nullptr)) Fail("SetNotificationPositions", "no table");
  std::vector<Notify> fresh;
  for (int32_t i = 0; i < count; ++i) {
    const DSBPOSITIONNOTIFY& e = table[i];
    if (e.lOffset < 0 || e.lOffset >= SizeBytes())
      Fail("SetNotificationPositions", "entry " + std::to_string(i) + ": offset outside the buffer");
    if (!events_->Has(e.hEventNotify))
      Fail("SetNotificationPositions", "entry " + std::to_string(i) + ": unknown event");
    fresh.push_back(Notify{e.lOffset / blockAlign_, e.hEventNotify});
  }
  notifies_ = std::move(fresh);
}

// ---------------------------------------------------------------- inside

void DirectSoundBuffer::CatchUp() {
  if (!clock_.Running()) return;
  const int64_t now = clock_.Frames();
  Render(now);
  ScanNotifications(now);
}

void DirectSoundBuffer::Render(int64_t upTo) {
  while (rendered_ < upTo) {
    const int64_t frame = Mod(origin_ + rendered_, bufferFrames_);
    const int64_t run = std::min(upTo - rendered_, bufferFrames_ - frame);
    platform_.Output().Play(samples_.data() + frame * channels_, static_cast<size_t>(run),
                            clock_.TimeOfFrameUs(rendered_));
    rendered_ += run;
  }
}

// Every entry whose frame the cursor reached at counts scanned_..upTo is
// signalled once, in the order the cursor reached them.
void DirectSoundBuffer::ScanNotifications(int64_t upTo) {
  if (upTo < scanned_) return;
  std::vector<std::pair<int64_t, int32_t>> reached;
  for (const Notify& n : notifies_) {
    const int64_t k = NextCountOf(n.frame, scanned_);
    if (k <= upTo) reached.emplace_back(k, n.handle);
  }
  scanned_ = upTo + 1;
  std::stable_sort(reached.begin(), reached.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& r : reached) {
    if (std::find(signalled_.begin(), signalled_.end(), r.second) == signalled_.end())
      signalled_.push_back(r.second);
  }
  if (!signalled_.empty() && deliverId_ == 0)
    deliverId_ = platform_.Loop().Post([this] { Deliver(); });
}

void DirectSoundBuffer::PlanTick() {
  auto& loop = platform_.Loop();
  if (tickId_ != 0) loop.Cancel(tickId_);
  tickId_ = 0;
  if (!clock_.Running() || notifies_.empty()) return;
  int64_t next = INT64_MAX;
  for (const Notify& n : notifies_) next = std::min(next, NextCountOf(n.frame, scanned_));
  tickId_ = loop.PostAt(clock_.TimeOfFrameUs(next), [this] { Tick(); });
}

void DirectSoundBuffer::Tick() {
  tickId_ = 0;
  CatchUp();
  PlanTick();
}

void DirectSoundBuffer::Deliver() {
  deliverId_ = 0;
  CatchUp();
  // A handler may release this buffer: keep what the rest needs in locals.
  const std::vector<int32_t> handles = std::move(signalled_);
  signalled_.clear();
  const std::shared_ptr<DxEventTable> events = events_;
  for (const int32_t h : handles) events->Fire(h);
}

// The first count from `from` on at which the cursor stands on `frame`.
int64_t DirectSoundBuffer::NextCountOf(int32_t frame, int64_t from) const {
  const int64_t at = Mod(origin_ + from, bufferFrames_);
  return from + Mod(frame - at, bufferFrames_);
}

int32_t DirectSoundBuffer::PlayFrame() const {
  return static_cast<int32_t>(Mod(origin_ + clock_.Frames(), bufferFrames_));
}

void DirectSoundBuffer::FailIfLost(const char* call) {
  if (!platform_.Output().Available()) Fail(call, "the sound device was lost");
}

void DirectSoundBuffer::Pump(void* self) {
  try {
    static_cast<DirectSoundBuffer*>(self)->CatchUp();
  } catch (const std::exception& e) {
    os::LogCaught("DirectSound buffer", e);
  }
}

}  // namespace devices::dx7
