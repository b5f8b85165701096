#pragma once
// One looping sound buffer of the sound service library: two halves of whole
// frames, played at a given rate on the host's output. Private to the library;
// the C entries in SoundService.cpp own the instances and check handles.
//
// Positions: `played_` counts the buffer frames that have sounded since the
// last mode-1 start (held once the end mark has sounded); `rendered_` counts
// every frame the device has put out since then, silence after the end
// included. Both advance only in CatchUp, from the host's clock.
//
// Errors: a refused argument, a lost device or a failed output call throws
// ServiceError with the reason; the C entries log it and fail. Time moves on
// regardless: frames the output failed to take count as sounded.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "soundservice/SoundServiceHost.h"

// Only the C entries are exported from the shared object.
#pragma GCC visibility push(hidden)

namespace soundservice {

// Why an entry failed, for the host's log.
class ServiceError final : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One line for `host`'s log (whose function never throws).
void LogTo(const SoundServiceHost& host, int32_t level, const std::string& text) noexcept;

class ServiceInstance final {
 public:
  // Throws ServiceError when the format is unusable: channels 1 or 2, friq
  // 100 to 100000, a buffer of two halves of whole frames, bytesPer100Ms > 0.
  // `pump` is what the host's output calls with the instance while it plays
  // (see outputStart).
  static std::unique_ptr<ServiceInstance> Create(const SoundServiceHost& host, void (*pump)(void*),
                                                 int32_t channels, int32_t friq, int32_t bufferBytes,
                                                 int32_t bytesPer100Ms);
  // Stops the output if the buffer is playing (a failure is logged).
  ~ServiceInstance();
  ServiceInstance(const ServiceInstance&) = delete;
  ServiceInstance& operator=(const ServiceInstance&) = delete;

  // The entries' work; each throws ServiceError (see above). Play, Write and
  // Position also fail while the host's output has lost its device. When the
  // output failed to take what sounded since the last entry, Stop, Write,
  // Position and TakeFlags do their work and then throw; Play only logs it
  // (it belongs to the run before) and fails only when the output does not
  // start.
  void Play(int32_t mode, int32_t rate);
  void Stop();
  void Write(const int16_t* data, int32_t byteCount, int32_t byteOffset, int32_t endHalf, int32_t endTicks);
  void Position(int32_t& passes, int32_t& bytePos);
  void TakeFlags(int32_t& half2, int32_t& half1, int32_t& playing, int32_t& endPlayed);
  // Hands the output what sounded since the last entry (the pump's work).
  void CatchUp();

  const SoundServiceHost& Host() const { return host_; }

 private:
  ServiceInstance(const SoundServiceHost& host, void (*pump)(void*), int32_t channels, int64_t bufferFrames,
                  int32_t bytesPer100Ms);

  void FailIfDeviceLost() const;
  // CatchUp, with an output failure returned as its reason ("" for none), for
  // the entries that finish their work before they fail.
  std::string CatchUpReportingFailure();
  void Debug(const std::string& text) const { LogTo(host_, SOUND_SERVICE_LOG_DEBUG, text); }
  // The host's outputStart; a status of 0 throws ServiceError.
  void OutputStart(int32_t rate);
  int64_t DeviceFramesAt(int64_t nowUs) const;
  int64_t TimeOfDeviceFrameUs(int64_t frame) const;
  bool RenderBuffer(int64_t from, int64_t to);
  bool RenderSilence(int64_t from, int64_t to);
  void FlagHalvesPassed(int64_t from, int64_t to);
  void ResolveMark(int64_t reference);

  SoundServiceHost host_;
  void (*pump_)(void*);
  int32_t channels_;
  int64_t bufferFrames_;
  int64_t halfFrames_;
  int32_t bytesPer100Ms_;
  std::vector<int16_t> buffer_;   // bufferFrames_ x channels_ samples
  std::vector<int16_t> silence_;  // a run of zero frames for the time after the end

  // Device clock: frames counted at rate_ from startUs_ on, on top of countBase_.
  bool running_ = false;
  int32_t rate_ = 0;
  int64_t startUs_ = 0;
  int64_t countBase_ = 0;
  int64_t rendered_ = 0;
  int64_t played_ = 0;

  bool half1Flag_ = false;
  bool half2Flag_ = false;
  bool endFlag_ = false;
  bool ended_ = false;

  // End mark: in the buffer (half and frame position), and as the value of
  // played_ at which it sounds.
  bool markSet_ = false;
  int32_t markHalf_ = 0;
  int64_t markPos_ = 0;
  int64_t markAt_ = 0;
};

}  // namespace soundservice

#pragma GCC visibility pop
