// The ALSA backend, for machines without a sound server: alsa-lib's PCM
// `default` or a named one (hw:0,0, plughw:1, a PCM of the user's asoundrc).
// A thread of ours waits for room in the device's buffer, asks how much is
// still queued (snd_pcm_delay: the card's own count) and renders a period at
// a time into a buffer allocated at open. alsa-lib is loaded at run time.

#include <alsa/asoundlib.h>
#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/AudioBackend.h"
#include "platform/audio/RealTime.h"
#include "platform/audio/SoundLibrary.h"
#include "platform/os/Clock.h"
#include "platform/os/Errors.h"

namespace audio {

namespace {

#define ALSA_ENTRIES(X)                                                                                     \
  X(snd_pcm_open) X(snd_pcm_close) X(snd_pcm_hw_params_malloc) X(snd_pcm_hw_params_free)                  \
  X(snd_pcm_hw_params_any) X(snd_pcm_hw_params_set_access) X(snd_pcm_hw_params_set_format)                \
  X(snd_pcm_hw_params_set_channels) X(snd_pcm_hw_params_set_rate_near) X(snd_pcm_hw_params_set_rate_resample) \
  X(snd_pcm_hw_params_set_period_time_near) X(snd_pcm_hw_params_set_buffer_time_near) X(snd_pcm_hw_params)  \
  X(snd_pcm_get_params) X(snd_pcm_sw_params_malloc) X(snd_pcm_sw_params_free)                              \
  X(snd_pcm_sw_params_current) X(snd_pcm_sw_params_set_start_threshold) X(snd_pcm_sw_params_set_avail_min)  \
  X(snd_pcm_sw_params) X(snd_pcm_wait) X(snd_pcm_avail_update) X(snd_pcm_delay) X(snd_pcm_writei)         \
  X(snd_pcm_recover) X(snd_pcm_drop) X(snd_strerror) X(snd_device_name_hint) X(snd_device_name_get_hint)  \
  X(snd_device_name_free_hint)

struct AlsaApi {
  ALSA_ENTRIES(PLAY_SOUND_ENTRY_MEMBER)
};

// alsa-lib's entries, loaded on first use; throws os::PlayError when the
// library is not installed.
const AlsaApi& Alsa() {
  static const AlsaApi table = [] {
    AlsaApi api;
    const os::SharedLibrary& lib = LoadSoundLibrary("libasound.so.2");
    ALSA_ENTRIES(PLAY_SOUND_ENTRY_RESOLVE)
    return api;
  }();
  return table;
}

constexpr int32_t kChannels = 2;
constexpr unsigned kWantedRate = 48000;
// Periods of 5 ms; the buffer holds three unless the caller asks for more.
constexpr unsigned kPeriodUs = 5000;
constexpr unsigned kDefaultBufferUs = 3 * kPeriodUs;
// How long the thread waits for room before it looks at its stop flag again.
constexpr int kWaitMs = 100;

class AlsaBackend final : public AudioBackend {
 public:
  ~AlsaBackend() override { Close(); }

  const char* Name() const override { return "alsa"; }

  void Open(const std::string& device, int64_t queueUs, RenderFn render, void* arg) override {
    Close();
    const AlsaApi& alsa = Alsa();
    name_ = device.empty() ? "default" : device;
    render_ = render;
    arg_ = arg;
    lost_.store(false, std::memory_order_release);
    stop_.store(false, std::memory_order_release);
    realTime_.store(-1, std::memory_order_release);
    int opened = 0;
    {
      // A plugin's own thread (the pulse plugin's) feeds the card as ours does.
      const ScopedRealTime realTime(kRenderPriority);
      opened = alsa.snd_pcm_open(&pcm_, name_.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    }
    if (opened == -EBUSY) throw os::PlayError("ALSA: the device '" + name_ + "' is busy (another program plays on it)");
    if (opened < 0) throw os::PlayError("ALSA: cannot open '" + name_ + "': " + alsa.snd_strerror(opened));
    try {
      Configure(queueUs > 0 ? static_cast<unsigned>(queueUs) : kDefaultBufferUs);
    } catch (...) {
      alsa.snd_pcm_close(pcm_);
      pcm_ = nullptr;
      throw;
    }
    buffer_.assign(static_cast<size_t>(periodFrames_) * kChannels, 0);
    thread_ = std::thread([this] { Loop(); });
  }

  void Close() override {
    if (pcm_ == nullptr) return;
    stop_.store(true, std::memory_order_release);
    if (thread_.joinable()) thread_.join();
    Alsa().snd_pcm_drop(pcm_);
    Alsa().snd_pcm_close(pcm_);
    pcm_ = nullptr;
  }

  int32_t Rate() const override { return rate_; }
  bool Lost() const override { return lost_.load(std::memory_order_acquire); }
  int64_t PeriodFrames() const override { return burst_.load(std::memory_order_acquire); }
  int RealTime() const override { return realTime_.load(std::memory_order_acquire); }

  std::vector<Device> List() override {
    const AlsaApi& alsa = Alsa();
    void** hints = nullptr;
    if (alsa.snd_device_name_hint(-1, "pcm", &hints) < 0 || hints == nullptr)
      throw os::PlayError("ALSA: cannot list the PCM devices");
    std::vector<Device> devices;
    for (void** h = hints; *h != nullptr; ++h) {
      char* name = alsa.snd_device_name_get_hint(*h, "NAME");
      char* desc = alsa.snd_device_name_get_hint(*h, "DESC");
      char* io = alsa.snd_device_name_get_hint(*h, "IOID");
      if (name != nullptr && (io == nullptr || std::string(io) == "Output")) {
        std::string text = desc != nullptr ? desc : "";
        std::replace(text.begin(), text.end(), '\n', ' ');
        devices.push_back({name, text});
      }
      free(name);  // alsa-lib hands these out from malloc
      free(desc);
      free(io);
    }
    alsa.snd_device_name_free_hint(hints);
    return devices;
  }

 private:
  // Interleaved 16-bit stereo at the device's rate nearest 48 kHz, periods
  // of about 5 ms, a buffer of about `bufferUs`; the device starts once a
  // period is written and wakes us when a period has room.
  void Configure(unsigned bufferUs) {
    const AlsaApi& alsa = Alsa();
    snd_pcm_hw_params_t* hw = nullptr;
    alsa.snd_pcm_hw_params_malloc(&hw);
    unsigned rate = kWantedRate;
    unsigned period = kPeriodUs;
    unsigned buffer = std::max(bufferUs, 2 * kPeriodUs);
    int dir = 0;
    int r = alsa.snd_pcm_hw_params_any(pcm_, hw);
    if (r >= 0) r = alsa.snd_pcm_hw_params_set_access(pcm_, hw, SND_PCM_ACCESS_RW_INTERLEAVED);
    if (r >= 0) r = alsa.snd_pcm_hw_params_set_format(pcm_, hw, SND_PCM_FORMAT_S16_LE);
    if (r >= 0) r = alsa.snd_pcm_hw_params_set_channels(pcm_, hw, kChannels);
    if (r >= 0) r = alsa.snd_pcm_hw_params_set_rate_resample(pcm_, hw, 0);
    if (r >= 0) r = alsa.snd_pcm_hw_params_set_rate_near(pcm_, hw, &rate, &dir);
    if (r >= 0) r = alsa.snd_pcm_hw_params_set_buffer_time_near(pcm_, hw, &buffer, &dir);
    if (r >= 0) r = alsa.snd_pcm_hw_params_set_period_time_near(pcm_, hw, &period, &dir);
    if (r >= 0) r = alsa.snd_pcm_hw_params(pcm_, hw);
    alsa.snd_pcm_hw_params_free(hw);
    if (r < 0) throw os::PlayError("ALSA: '" + name_ + "' cannot play 16-bit stereo: " + alsa.snd_strerror(r));
    snd_pcm_uframes_t bufferFrames = 0;
    snd_pcm_uframes_t periodFrames = 0;
    alsa.snd_pcm_get_params(pcm_, &bufferFrames, &periodFrames);
    rate_ = static_cast<int32_t>(rate);
    periodFrames_ = static_cast<int64_t>(std::max<snd_pcm_uframes_t>(periodFrames, 1));
    // Until it has been seen, the most it may ask for at once is its buffer.
    burst_.store(static_cast<int64_t>(bufferFrames), std::memory_order_release);
    snd_pcm_sw_params_t* sw = nullptr;
    alsa.snd_pcm_sw_params_malloc(&sw);
    r = alsa.snd_pcm_sw_params_current(pcm_, sw);
    if (r >= 0) r = alsa.snd_pcm_sw_params_set_start_threshold(pcm_, sw, periodFrames);
    if (r >= 0) r = alsa.snd_pcm_sw_params_set_avail_min(pcm_, sw, periodFrames);
    if (r >= 0) r = alsa.snd_pcm_sw_params(pcm_, sw);
    alsa.snd_pcm_sw_params_free(sw);
    if (r < 0) throw os::PlayError("ALSA: '" + name_ + "': " + alsa.snd_strerror(r));
  }

  // Our thread: a period whenever there is room for one. An underrun of the
  // device (we were late) is recovered from; any other error loses it.
  void Loop() {
    const AlsaApi& alsa = Alsa();
    realTime_.store(RequestRealTime(kRenderPriority) ? 1 : 0, std::memory_order_release);
    while (!stop_.load(std::memory_order_acquire)) {
      int r = alsa.snd_pcm_wait(pcm_, kWaitMs);
      if (r == 0) continue;
      snd_pcm_sframes_t room = r < 0 ? r : alsa.snd_pcm_avail_update(pcm_);
      if (room < 0) {
        if (alsa.snd_pcm_recover(pcm_, static_cast<int>(room), 1) < 0) break;
        continue;
      }
      while (room >= periodFrames_ && !stop_.load(std::memory_order_acquire)) {
        Timing timing;
        snd_pcm_sframes_t delay = 0;
        if (alsa.snd_pcm_delay(pcm_, &delay) == 0) timing.delayFrames = std::max<int64_t>(delay, 0);
        timing.nowNs = os::SteadyNs();
        render_(arg_, buffer_.data(), static_cast<size_t>(periodFrames_), timing);
        const snd_pcm_sframes_t written =
            alsa.snd_pcm_writei(pcm_, buffer_.data(), static_cast<snd_pcm_uframes_t>(periodFrames_));
        if (written < 0) {
          if (alsa.snd_pcm_recover(pcm_, static_cast<int>(written), 1) < 0) {
            lost_.store(true, std::memory_order_release);
            return;
          }
          break;
        }
        room -= written;
      }
    }
    if (!stop_.load(std::memory_order_acquire)) lost_.store(true, std::memory_order_release);
  }

  std::string name_;
  snd_pcm_t* pcm_ = nullptr;
  std::thread thread_;
  std::vector<int16_t> buffer_;
  RenderFn render_ = nullptr;
  void* arg_ = nullptr;
  int32_t rate_ = 0;
  int64_t periodFrames_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> lost_{false};
  std::atomic<int> realTime_{-1};
  std::atomic<int64_t> burst_{0};  // the most it asks for at once: its buffer
};

}  // namespace

std::unique_ptr<AudioBackend> MakeAlsaBackend() { return std::make_unique<AlsaBackend>(); }

}  // namespace audio
