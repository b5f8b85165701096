#pragma once
// The waveOut-style device API the waveOut engine plays through: the calls,
// records and result codes of the multimedia library, over the platform's one
// AudioOutput and the loop's clock.
//
// Model (one output device, one handle open at a time, no callbacks):
// - Written headers queue up and play one after another, in write order, at
//   the open format's rate: the device sounds while it is open, not paused
//   and has queued frames; it falls silent when the queue runs dry and starts
//   again at the next write.
// - The device reads a header's samples only when it renders them: at the
//   start of each call below, and when a header finishes (a loop event at that
//   frame's time), it hands the frames that have sounded since the last render
//   to AudioOutput::Play. So the caller must not change the memory of a queued
//   header; it may do so once the header is done (WHDR_DONE) or after
//   waveOutReset. The header's data address and length are taken at
//   waveOutWrite; later changes to the record do not affect the queue.
// - The position (waveOutGetPosition) counts frames played (handed to the
//   output) since open or the latest waveOutReset; it stops at the end of
//   what was queued.
// - An output that is not available (its device went away) makes
//   waveOutWrite and waveOutGetPosition return MMSYSERR_NODRIVER.
// - waveOutPause holds the device and its position, waveOutRestart resumes;
//   waveOutReset drops the queue (headers marked done), sets the position to
//   0 and also ends a pause, so that the next write plays.
// - No device at all (waveOutGetNumDevs 0, waveOutOpen MMSYSERR_BADDEVICEID)
//   when the platform does not offer waveOut or the output is not available.
// - Format: PCM, 16 bits, 1 or 2 channels, 100 to 384000 samples per second,
//   block align and byte rate consistent; anything else is WAVERR_BADFORMAT.
//   Open flags: 0 (no callback) or WAVE_FORMAT_QUERY; dwLoops is ignored.
// - Size arguments are the record sizes of the multimedia library's 32-bit
//   layout (WAVEHDR 32 bytes, MMTIME 12 bytes), which callers pass whatever
//   the size of the structs here; smaller ones are MMSYSERR_INVALPARAM.
// Header records and their memory belong to the caller and must outlive their
// time in the queue. Thread: loop thread only.

#include <cstdint>
#include <deque>

#include "platform/devices/AudioPlatform.h"
#include "platform/devices/FrameClock.h"

namespace devices::waveout {

using MMRESULT = uint32_t;
using HWAVEOUT = uint32_t;  // 0 is never a valid handle

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;

constexpr int32_t WAVE_MAPPER = -1;
constexpr uint32_t WAVE_FORMAT_QUERY = 0x0001;
constexpr uint16_t WAVE_FORMAT_PCM = 1;

constexpr uint32_t WHDR_DONE = 0x01;
constexpr uint32_t WHDR_PREPARED = 0x02;
constexpr uint32_t WHDR_BEGINLOOP = 0x04;
constexpr uint32_t WHDR_ENDLOOP = 0x08;
constexpr uint32_t WHDR_INQUEUE = 0x10;

constexpr uint32_t TIME_MS = 0x01;
constexpr uint32_t TIME_SAMPLES = 0x02;
constexpr uint32_t TIME_BYTES = 0x04;

// Sizes of the records in the library's 32-bit layout, as callers pass them.
constexpr uint32_t kWaveHdrSize = 32;
constexpr uint32_t kMmTimeSize = 12;

struct WAVEFORMATEX {
  uint16_t wFormatTag = 0;
  uint16_t nChannels = 0;
  uint32_t nSamplesPerSec = 0;
  uint32_t nAvgBytesPerSec = 0;
  uint16_t nBlockAlign = 0;
  uint16_t wBitsPerSample = 0;
  uint16_t cbSize = 0;
};

struct WAVEHDR {
  char* lpData = nullptr;
  uint32_t dwBufferLength = 0;
  uint32_t dwBytesRecorded = 0;
  uintptr_t dwUser = 0;
  uint32_t dwFlags = 0;
  uint32_t dwLoops = 0;
  WAVEHDR* lpNext = nullptr;
  uintptr_t reserved = 0;
};

struct MMTIME {
  uint32_t wType = 0;
  union {
    uint32_t ms;
    uint32_t sample;
    uint32_t cb;
  } u{0};
  uint32_t reserved = 0;
};

class WaveOutApi final {
 public:
  explicit WaveOutApi(AudioPlatform& platform);
  // Drops any queue without touching the caller's headers; stops the output
  // if it was sounding.
  ~WaveOutApi();
  WaveOutApi(const WaveOutApi&) = delete;
  WaveOutApi& operator=(const WaveOutApi&) = delete;

  uint32_t waveOutGetNumDevs();
  // uDeviceID: 0 or WAVE_MAPPER. With WAVE_FORMAT_QUERY only checks the
  // format and leaves *phwo alone.
  MMRESULT waveOutOpen(HWAVEOUT* phwo, int32_t uDeviceID, const WAVEFORMATEX* pwfx, uintptr_t dwCallback,
                       uintptr_t dwInstance, uint32_t fdwOpen);
  MMRESULT waveOutPrepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh);
  MMRESULT waveOutWrite(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh);
  // TIME_SAMPLES, TIME_BYTES or TIME_MS; any other type is answered in
  // samples, with wType changed to TIME_SAMPLES.
  MMRESULT waveOutGetPosition(HWAVEOUT hwo, MMTIME* pmmt, uint32_t cbmmt);
  MMRESULT waveOutPause(HWAVEOUT hwo);
  MMRESULT waveOutRestart(HWAVEOUT hwo);
  MMRESULT waveOutReset(HWAVEOUT hwo);
  MMRESULT waveOutUnprepareHeader(HWAVEOUT hwo, WAVEHDR* pwh, uint32_t cbwh);
  // WAVERR_STILLPLAYING while headers are queued.
  MMRESULT waveOutClose(HWAVEOUT hwo);

 private:
  struct Queued {
    WAVEHDR* hdr;
    const int16_t* data;  // taken at write
    int64_t frames;
  };

  bool HasDevice();
  bool Valid(HWAVEOUT hwo) const { return hwo != 0 && hwo == handle_; }
  static bool FormatOk(const WAVEFORMATEX& f);
  void CatchUp();
  static void Pump(void* self);
  void RenderTo(int64_t target);
  void PopFinished();
  void BeginSoundingIfReady();
  void EndSounding();
  void Replan();

  AudioPlatform& platform_;
  FrameClock clock_;           // frames of the present sounding span, counted from 0
  HWAVEOUT handle_ = 0;        // 0: closed
  HWAVEOUT lastHandle_ = 0;
  WAVEFORMATEX format_;
  std::deque<Queued> queue_;
  int64_t frontDone_ = 0;      // frames of queue_.front() already played
  int64_t queuedTotal_ = 0;    // frames written since open or reset
  int64_t played_ = 0;         // frames rendered since open or reset
  bool paused_ = false;
  bool sounding_ = false;
  int64_t spanBase_ = 0;       // played_ when the present span began
  uint64_t event_ = 0;         // pending loop event of the next header end (0: none)
};

}  // namespace devices::waveout
