#include "platform/devices/WaveOutApi.h"

#include <algorithm>
#include <exception>

#include "platform/os/Log.h"

namespace devices::waveout {

WaveOutApi::WaveOutApi(AudioPlatform& platform) : platform_(platform), clock_(platform.Loop().GetClock()) {}

WaveOutApi::~WaveOutApi() {
  if (event_ != 0) platform_.Loop().Cancel(event_);
  if (sounding_) platform_.Output().Stop();
}

bool WaveOutApi::HasDevice() {
  return platform_.Offer().WaveOut && platform_.Output().Available();
}

bool WaveOutApi::FormatOk(const WAVEFORMATEX& f) {
  return f.wFormatTag == WAVE_FORMAT_PCM && f.wBitsPerSample == 16 && (f.nChannels == 1 || f.nChannels == 2) &&
         f.nSamplesPerSec >= 100 && f.nSamplesPerSec <= 384000 && f.nBlockAlign == f.nChannels * 2 &&
         f.nAvgBytesPerSec == f.nBlockAlign * f.nSamplesPerSec;
}

uint32_t WaveOutApi::waveOutGetNumDevs() { return HasDevice() ? 1 : 0; }

MMRESULT WaveOutApi::waveOutOpen(HWAVEOUT* phwo, int32_t uDeviceID, const WAVEFORMATEX* pwfx,
                                 uintptr_t /*dwCallback*/, uintptr_t /*dwInstance*/, uint32_t fdwOpen) {
  if (!HasDevice() || (uDeviceID != 0 && uDeviceID != WAVE_MAPPER)) return MMSYSERR_BADDEVICEID;
  if (pwfx == nullptr) return MMSYSERR_INVALPARAM;
  if ((fdwOpen & ~WAVE_FORMAT_QUERY) != 0) return MMSYSERR_INVALFLAG;
  if (!FormatOk(*pwfx)) return WAVERR_BADFORMAT;
  if ((fdwOpen & WAVE_FORMAT_QUERY) != 0) return MMSYSERR_NOERROR;
  if (phwo == nullptr) return MMSYSERR_INVALPARAM;
  if (handle_ != 0) return MMSYSERR_ALLOCATED;
  if (++lastHandle_ == 0) ++lastHandle_;
  handle_ = lastHandle_;
  format_ = *pwfx;
  queue_.clear();
  frontDone_ = queuedTotal_ = played_ = 0;
  paused_ = sounding_ = false;
  *phwo = handle_;
  return MMSYSERR_NOERROR;
}

MMRESULT WaveOutApi::waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) {
  if (!Valid(hwo)) return MMSYSERR_INVALHANDLE;
  if (pwh == nullptr || cbwh < kWaveHdrSize) return MMSYSERR_INVALPARAM;
  CatchUp();
  Replan();
  if ((pwh->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
  pwh->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT WaveOutApi::waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) {
  if (!Valid(hwo)) return MMSYSERR_INVALHANDLE;
  if (pwh == nullptr || cbwh < kWaveHdrSize) return MMSYSERR_INVALPARAM;
  if (!platform_.Output().Available()) return MMSYSERR_NODRIVER;
  CatchUp();
  Replan();
  if ((pwh->dwFlags & WHDR_PREPARED) == 0) return WAVERR_UNPREPARED;
  if ((pwh->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
  if (pwh->dwBufferLength > 0 &&
      (pwh->lpData == nullptr || reinterpret_cast<uintptr_t>(pwh->lpData) % alignof(int16_t) != 0))
    return MMSYSERR_INVALPARAM;
  const int64_t frames = pwh->dwBufferLength / format_.nBlockAlign;
  pwh->dwFlags = (pwh->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
  queue_.push_back(Queued{pwh, reinterpret_cast<const int16_t*>(pwh->lpData), frames});
  queuedTotal_ += frames;
  PopFinished();
  BeginSoundingIfReady();
  Replan();
  return MMSYSERR_NOERROR;
}

MMRESULT WaveOutApi::waveOutGetPosition(HWAVEOUT hwo, MMTIME* pmmt, uint32_t cbmmt) {
  if (!Valid(hwo)) return MMSYSERR_INVALHANDLE;
  if (pmmt == nullptr || cbmmt < kMmTimeSize) return MMSYSERR_INVALPARAM;
  if (!platform_.Output().Available()) return MMSYSERR_NODRIVER;
  CatchUp();
  Replan();
  // The fields are 32 bits wide: a long run's position wraps round.
  switch (pmmt->wType) {
    case TIME_BYTES:
      pmmt->u.cb = static_cast<uint32_t>(played_ * format_.nBlockAlign);
      break;
    case TIME_MS:
      pmmt->u.ms = static_cast<uint32_t>(played_ * 1000 / format_.nSamplesPerSec);
      break;
    default:
      pmmt->wType = TIME_SAMPLES;
      pmmt->u.sample = static_cast<uint32_t>(played_);
      break;
  }
  return MMSYSERR_NOERROR;
}

MMRESULT WaveOutApi::waveOutPause(HWAVEOUT hwo) {
  if (!Valid(hwo)) return MMSYSERR_INVALHANDLE;
  CatchUp();
  if (sounding_) EndSounding();
  paused_ = true;
  Replan();
  return MMSYSERR_NOERROR;
}

MMRESULT WaveOutApi::waveOutRestart(HWAVEOUT hwo) {
  if (!Valid(hwo)) return MMSYSERR_INVALHANDLE;
  CatchUp();
  paused_ = false;
  BeginSoundingIfReady();
  Replan();
  return MMSYSERR_NOERROR;
}

MMRESULT WaveOutApi::waveOutReset(HWAVEOUT hwo) {
  if (!Valid(hwo)) return MMSYSERR_INVALHANDLE;
  CatchUp();
  for (const Queued& q : queue_) q.hdr->dwFlags = (q.hdr->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
  queue_.clear();
  if (sounding_) EndSounding();
  frontDone_ = queuedTotal_ = played_ = 0;
  paused_ = false;
  Replan();
  return MMSYSERR_NOERROR;
}

MMRESULT WaveOutApi::waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh) {
  if (!Valid(hwo)) return MMSYSERR_INVALHANDLE;
  if (pwh == nullptr || cbwh < kWaveHdrSize) return MMSYSERR_INVALPARAM;
  CatchUp();
  Replan();
  if ((pwh->dwFlags & WHDR_INQUEUE) != 0) return WAVERR_STILLPLAYING;
  pwh->dwFlags &= ~WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT WaveOutApi::waveOutClose(HWAVEOUT hwo) {
  if (!Valid(hwo)) return MMSYSERR_INVALHANDLE;
  CatchUp();
  Replan();
  if (!queue_.empty()) return WAVERR_STILLPLAYING;
  handle_ = 0;
  paused_ = false;
  frontDone_ = queuedTotal_ = played_ = 0;
  return MMSYSERR_NOERROR;
}

// ---- rendering

void WaveOutApi::Pump(void* self) {
  auto* api = static_cast<WaveOutApi*>(self);
  try {
    api->CatchUp();
    api->Replan();
  } catch (const std::exception& e) {
    os::LogCaught("waveOut device", e);
  }
}

void WaveOutApi::CatchUp() {
  if (sounding_) {
    const int64_t sounded = spanBase_ + clock_.Frames();
    RenderTo(std::min(sounded, queuedTotal_));
    if (sounded >= queuedTotal_) EndSounding();  // the queue ran dry
  }
  PopFinished();
}

void WaveOutApi::RenderTo(int64_t target) {
  const int64_t channels = format_.nChannels;
  while (played_ < target) {
    PopFinished();
    const Queued& q = queue_.front();  // played_ < target <= queuedTotal_: something is queued
    const int64_t n = std::min(q.frames - frontDone_, target - played_);
    platform_.Output().Play(q.data + frontDone_ * channels, static_cast<size_t>(n),
                            clock_.TimeOfFrameUs(played_ - spanBase_));
    played_ += n;
    frontDone_ += n;
  }
  PopFinished();
}

void WaveOutApi::PopFinished() {
  while (!queue_.empty() && frontDone_ >= queue_.front().frames) {
    WAVEHDR* hdr = queue_.front().hdr;
    hdr->dwFlags = (hdr->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
    queue_.pop_front();
    frontDone_ = 0;
  }
}

void WaveOutApi::BeginSoundingIfReady() {
  if (handle_ == 0 || paused_ || sounding_ || played_ >= queuedTotal_) return;
  sounding_ = true;
  spanBase_ = played_;
  clock_.Reset();
  clock_.Start(static_cast<int32_t>(format_.nSamplesPerSec));
  platform_.Output().Start(format_.nChannels, static_cast<int32_t>(format_.nSamplesPerSec),
                           audio::OutputPump{&Pump, this});
  os::LogDebug("waveOut device sounding: " + std::to_string(format_.nChannels) + " channel(s) at " +
               std::to_string(format_.nSamplesPerSec) + " frames/s, from frame " + std::to_string(played_));
}

void WaveOutApi::EndSounding() {
  sounding_ = false;
  clock_.Reset();
  platform_.Output().Stop();
  os::LogDebug("waveOut device silent after frame " + std::to_string(played_));
}

void WaveOutApi::Replan() {
  os::EventLoop& loop = platform_.Loop();
  if (event_ != 0) loop.Cancel(event_);
  event_ = 0;
  if (!sounding_ || queue_.empty()) return;
  // Wake when the header now playing has finished: it is then marked done,
  // and if it was the last one the device falls silent on time.
  const int64_t frontEnd = played_ + queue_.front().frames - frontDone_;
  event_ = loop.PostAt(clock_.TimeOfFrameUs(frontEnd - spanBase_), [this] {
    event_ = 0;
    try {
      CatchUp();
      Replan();
    } catch (const std::exception& e) {
      os::LogCaught("waveOut device", e);
    }
  });
}

}  // namespace devices::waveout
