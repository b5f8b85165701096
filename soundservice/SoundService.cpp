// The C entries of the sound service library. Handles are small positive
// numbers naming instances in the library's table. The table and the bound
// host are the library's own process-wide state (a C library with 32-bit
// handles has nowhere else to keep them); a mutex serialises the entries.
// No exception leaves an entry: a failure gives the entry's failure result.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "soundservice/ServiceInstance.h"
#include "soundservice/SoundServiceHost.h"

namespace {

using soundservice::ServiceInstance;

class Registry final {
 public:
  std::mutex mu;
  bool hostBound = false;
  SoundServiceHost host{};

  bool Holds(const ServiceInstance* instance) const {
    for (const auto& entry : instances_)
      if (entry.second.get() == instance) return true;
    return false;
  }

  ServiceInstance* Find(int32_t handle) {
    auto it = instances_.find(handle);
    return it == instances_.end() ? nullptr : it->second.get();
  }

  int32_t Add(std::unique_ptr<ServiceInstance> instance) {
    do {
      next_ = next_ >= INT32_MAX ? 1 : next_ + 1;
    } while (instances_.count(next_) != 0);
    instances_.emplace(next_, std::move(instance));
    return next_;
  }

  void Remove(int32_t handle) {
    auto it = instances_.find(handle);
    if (it == instances_.end()) return;
    // Out of the table first, then destroyed (which stops its output).
    std::unique_ptr<ServiceInstance> gone = std::move(it->second);
    instances_.erase(it);
  }

 private:
  std::map<int32_t, std::unique_ptr<ServiceInstance>> instances_;
  int32_t next_ = 0;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

bool HostComplete(const SoundServiceHost* host) {
  return host != nullptr && host->nowUs != nullptr && host->outputAvailable != nullptr &&
         host->outputStart != nullptr && host->outputPlay != nullptr && host->outputStop != nullptr;
}

// The output's pump: an instance it names may have been released since.
void PumpInstance(void* arg) {
  try {
    Registry& reg = TheRegistry();
    std::lock_guard<std::mutex> lock(reg.mu);
    auto* instance = static_cast<ServiceInstance*>(arg);
    if (reg.Holds(instance)) instance->CatchUp();
  } catch (...) {
  }
}

// Runs `body` on the instance named by `handle` under the lock; `failed`
// when the handle is unknown or the body throws.
template <typename Result, typename Body>
Result WithInstance(int32_t handle, Result failed, Body body) {
  try {
    Registry& reg = TheRegistry();
    std::lock_guard<std::mutex> lock(reg.mu);
    ServiceInstance* instance = reg.Find(handle);
    if (instance == nullptr) return failed;
    return body(*instance);
  } catch (...) {
    return failed;
  }
}

}  // namespace

extern "C" {

int32_t ServiceBindHost(const SoundServiceHost* host) {
  try {
    Registry& reg = TheRegistry();
    std::lock_guard<std::mutex> lock(reg.mu);
    reg.hostBound = HostComplete(host);
    reg.host = reg.hostBound ? *host : SoundServiceHost{};
    return reg.hostBound ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

int32_t Service02(int32_t oldHandle, int32_t /*windowHandle*/, int32_t channels, int32_t friq, int32_t bufferBytes,
                  int32_t bytesPer100Ms) {
  try {
    Registry& reg = TheRegistry();
    std::lock_guard<std::mutex> lock(reg.mu);
    if (oldHandle != 0) reg.Remove(oldHandle);
    if (!reg.hostBound || reg.host.outputAvailable(reg.host.context) == 0) return 0;
    auto instance = ServiceInstance::Create(reg.host, &PumpInstance, channels, friq, bufferBytes, bytesPer100Ms);
    if (!instance) return 0;
    return reg.Add(std::move(instance));
  } catch (...) {
    return 0;
  }
}

void Service03(int32_t handle) {
  try {
    Registry& reg = TheRegistry();
    std::lock_guard<std::mutex> lock(reg.mu);
    reg.Remove(handle);
  } catch (...) {
  }
}

int32_t Service04(int32_t handle, int32_t mode, int32_t rate) {
  return WithInstance(handle, 0, [&](ServiceInstance& s) { return !s.DeviceLost() && s.Play(mode, rate) ? 1 : 0; });
}

void Service05(int32_t handle) {
  WithInstance(handle, 0, [](ServiceInstance& s) {
    s.Stop();
    return 1;
  });
}

int32_t Service06(int32_t handle, const int16_t* data, int32_t byteCount, int32_t byteOffset, int32_t endHalf,
                  int32_t endTicks) {
  return WithInstance(handle, 0, [&](ServiceInstance& s) {
    return !s.DeviceLost() && s.Write(data, byteCount, byteOffset, endHalf, endTicks) ? 1 : 0;
  });
}

int32_t Service07(int32_t handle, int32_t* passes, int32_t* bytePos) {
  if (passes == nullptr || bytePos == nullptr) return 0;
  return WithInstance(handle, 0, [&](ServiceInstance& s) {
    if (s.DeviceLost()) return 0;
    s.Position(*passes, *bytePos);
    return 1;
  });
}

void Service08(int32_t handle, int32_t* refillHalf2, int32_t* refillHalf1, int32_t* playing, int32_t* endPlayed) {
  int32_t h2 = 0;
  int32_t h1 = 0;
  int32_t on = 0;
  int32_t end = 0;
  WithInstance(handle, 0, [&](ServiceInstance& s) {
    s.TakeFlags(h2, h1, on, end);
    return 1;
  });
  if (refillHalf2 != nullptr) *refillHalf2 = h2;
  if (refillHalf1 != nullptr) *refillHalf1 = h1;
  if (playing != nullptr) *playing = on;
  if (endPlayed != nullptr) *endPlayed = end;
}

}  // extern "C"
