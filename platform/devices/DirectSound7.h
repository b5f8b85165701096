#pragma once
// The DirectSound-7-style device API the DirectSound 7 engine plays through:
// a root object (DirectX7) that opens the default DirectSound device and keeps
// the notification events, the DirectSound object, and a looping secondary
// buffer with position notifications. Sound goes to the platform's one
// AudioOutput; which frames have sounded is decided from the loop's clock.
//
// Units: offsets, sizes and cursors are bytes; rates are frames per second.
// The buffer holds 16-bit PCM, 1 or 2 channels, interleaved left first.
//
// Failures (no device offered, bad parameters, an operation the buffer was not
// created for) throw os::PlayError naming the call.
//
// Notifications: a table entry (offset, event handle) is signalled when the
// play cursor reaches the offset, that is when the frame holding that byte
// begins to sound, including at the start of play when the cursor stands on
// it (so an entry at offset 0 is signalled as play starts from position 0).
// Each signalled entry calls, as an event of the loop of its own (never
// inside an API call), the handler that DirectX7::CreateEvent registered for
// its handle, with the handle as eventid. An entry signalled again before its
// delivery is delivered once. A handle destroyed, or a buffer released, before
// delivery drops the call.
//
// The play cursor is the next frame to be handed to the output (a sound
// card plays it a little later). A buffer whose output is not available
// (the device went away) throws from WriteBuffer, GetCurrentPosition and Play.
//
// Lifetime: the objects may be released in any order; a buffer released while
// playing stops sounding. One buffer sounds on the output at a time.
// The types keep the library's names (WAVEFORMATEX, DSBUFFERDESC, ...) in a
// namespace of their own, apart from the waveOut-style API's.
// Thread: loop thread only.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/devices/AudioPlatform.h"
#include "platform/devices/FrameClock.h"

namespace devices::dx7 {

// Cooperative levels of SetCooperativeLevel.
constexpr int32_t DSSCL_NORMAL = 1;
constexpr int32_t DSSCL_PRIORITY = 2;
constexpr int32_t DSSCL_EXCLUSIVE = 3;
constexpr int32_t DSSCL_WRITEPRIMARY = 4;

// Buffer capability flags of DSBUFFERDESC::lFlags.
constexpr int32_t DSBCAPS_LOCSOFTWARE = 0x8;
constexpr int32_t DSBCAPS_CTRLFREQUENCY = 0x20;
constexpr int32_t DSBCAPS_CTRLPOSITIONNOTIFY = 0x100;
constexpr int32_t DSBCAPS_GLOBALFOCUS = 0x8000;
constexpr int32_t DSBCAPS_GETCURRENTPOSITION2 = 0x10000;

// Flags of Play and WriteBuffer.
constexpr int32_t DSBPLAY_LOOPING = 1;
constexpr int32_t DSBLOCK_FROMWRITECURSOR = 1;
constexpr int32_t DSBLOCK_ENTIREBUFFER = 2;

// SetFrequency: 0 restores the rate of the buffer's format.
constexpr int32_t DSBFREQUENCY_ORIGINAL = 0;
constexpr int32_t DSBFREQUENCY_MIN = 100;
constexpr int32_t DSBFREQUENCY_MAX = 100000;

struct WAVEFORMATEX {
  int16_t nFormatTag = 0;  // 1 = PCM, the only format accepted
  int16_t nChannels = 0;
  int32_t lSamplesPerSec = 0;
  int32_t lAvgBytesPerSec = 0;
  int16_t nBlockAlign = 0;
  int16_t nBitsPerSample = 0;
  int16_t nSize = 0;
  int32_t lExtra = 0;
};

struct DSBUFFERDESC {
  int32_t lFlags = 0;
  int32_t lBufferBytes = 0;
  int32_t lReserved = 0;
};

struct DSCURSORS {
  int32_t lPlay = 0;   // byte offset of the next byte to sound
  int32_t lWrite = 0;  // first byte that is safe to write
};

struct DSBPOSITIONNOTIFY {
  int32_t lOffset = 0;       // bytes
  int32_t hEventNotify = 0;  // a handle from DirectX7::CreateEvent
};

// The registered notification handlers, shared by the root and everything
// made from it, so that a buffer can outlive the root without dangling.
class DxEventTable;

class DirectSoundBuffer;

// The DirectSound object of the default device.
class DirectSound final {
 public:
  DirectSound(AudioPlatform& platform, std::shared_ptr<DxEventTable> events);
  DirectSound(const DirectSound&) = delete;
  DirectSound& operator=(const DirectSound&) = delete;

  // hwnd: a window handle (> 0); level: DSSCL_NORMAL..DSSCL_WRITEPRIMARY.
  void SetCooperativeLevel(int32_t hwnd, int32_t level);
  // REQUIRES: SetCooperativeLevel has succeeded. The format must be 16-bit
  // PCM, 1 or 2 channels, block align = 2 x channels, a rate within
  // DSBFREQUENCY_MIN..MAX; the size a positive multiple of the block align.
  // The new buffer is silent, stopped, at position 0, at the format's rate.
  std::unique_ptr<DirectSoundBuffer> CreateSoundBuffer(const DSBUFFERDESC& desc, const WAVEFORMATEX& format);

 private:
  AudioPlatform& platform_;
  std::shared_ptr<DxEventTable> events_;
  int32_t cooperativeLevel_ = 0;
};

// The root object: device creation and notification events.
class DirectX7 final {
 public:
  using EventHandler = std::function<void(int32_t eventid)>;

  explicit DirectX7(AudioPlatform& platform);
  ~DirectX7();
  DirectX7(const DirectX7&) = delete;
  DirectX7& operator=(const DirectX7&) = delete;

  // guid "" names the default device, the only one there is. Throws when the
  // platform offers no DirectSound 7 or its output is not available.
  std::unique_ptr<DirectSound> DirectSoundCreate(const std::string& guid);
  // Registers `handler` (not empty); returns its handle, never 0.
  int32_t CreateEvent(EventHandler handler);
  // Forgets the handle; notifications to it are dropped from now on.
  // Unknown handles throw.
  void DestroyEvent(int32_t handle);

 private:
  AudioPlatform& platform_;
  std::shared_ptr<DxEventTable> events_;
};

// A secondary buffer of 16-bit PCM that plays on the platform's output. Every
// call first hands the output the frames that have sounded since the last
// call, read from the buffer as it stood; so what the output records is
// exactly what the buffer held when each frame sounded.
class DirectSoundBuffer final {
 public:
  // Made by DirectSound::CreateSoundBuffer, which states the requirements.
  DirectSoundBuffer(AudioPlatform& platform, std::shared_ptr<DxEventTable> events, const DSBUFFERDESC& desc,
                    const WAVEFORMATEX& format);
  // A playing buffer stops sounding here.
  ~DirectSoundBuffer();
  DirectSoundBuffer(const DirectSoundBuffer&) = delete;
  DirectSoundBuffer& operator=(const DirectSoundBuffer&) = delete;

  // Copies byteCount bytes from `first` into the buffer from startByte on,
  // wrapping round the buffer's end. Flags: 0; DSBLOCK_FROMWRITECURSOR (start
  // at the write cursor); DSBLOCK_ENTIREBUFFER (the whole buffer from 0).
  // REQUIRES: startByte and byteCount are multiples of the block align,
  // 0 <= startByte < size, 0 <= byteCount <= size.
  void WriteBuffer(int32_t startByte, int32_t byteCount, const int16_t* first, int32_t flags);
  // Moves the play cursor to `byteOffset` (rounded down to a whole frame).
  void SetCurrentPosition(int32_t byteOffset);
  void GetCurrentPosition(DSCURSORS& cursors);
  // Frames per second, DSBFREQUENCY_MIN..MAX, or DSBFREQUENCY_ORIGINAL.
  // REQUIRES: created with DSBCAPS_CTRLFREQUENCY.
  void SetFrequency(int32_t hz);
  // flags must hold DSBPLAY_LOOPING: the buffer plays round and round until
  // Stop. Playing while playing changes nothing.
  void Play(int32_t flags);
  // Stops where the play cursor stands; Play resumes from there. Notifications
  // signalled but not yet delivered are dropped (as by SetCurrentPosition).
  void Stop();
  bool Playing() const { return clock_.Running(); }
  // Replaces the notification table. REQUIRES: created with
  // DSBCAPS_CTRLPOSITIONNOTIFY, the buffer stopped, offsets inside the buffer,
  // handles that DirectX7::CreateEvent gave. count 0 clears the table.
  void SetNotificationPositions(int32_t count, const DSBPOSITIONNOTIFY* table);

  int32_t SizeBytes() const { return bufferFrames_ * blockAlign_; }

 private:
  struct Notify {
    int32_t frame;   // buffer frame that holds the entry's byte offset
    int32_t handle;
  };

  void CatchUp();
  void Render(int64_t upTo);
  void ScanNotifications(int64_t upTo);
  void PlanTick();
  void Tick();
  void DropUndelivered();
  void Deliver();
  int64_t NextCountOf(int32_t frame, int64_t from) const;
  int32_t PlayFrame() const;
  void FailIfLost(const char* call);
  static void Pump(void* self);

  AudioPlatform& platform_;
  std::shared_ptr<DxEventTable> events_;
  int32_t flags_;
  int32_t channels_;
  int32_t blockAlign_;
  int32_t formatRate_;
  int32_t rate_;
  int32_t bufferFrames_;
  std::vector<int16_t> samples_;
  std::vector<Notify> notifies_;

  // Position: frame count k of the clock sounds buffer frame (origin_ + k) mod size.
  FrameClock clock_;
  int32_t origin_ = 0;
  int64_t rendered_ = 0;        // counts below this have gone to the output
  int64_t scanned_ = 0;         // notifications up to below this count have been signalled
  std::vector<int32_t> signalled_;  // handles waiting for delivery, in order
  uint64_t tickId_ = 0;
  uint64_t deliverId_ = 0;
};

}  // namespace devices::dx7
