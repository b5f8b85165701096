// The C entries of the sound service library. Handles are small positive
// numbers naming instances in the library's table. The table and the bound
// host are the library's own process-wide state (a C library with 32-bit
// handles has nowhere else to keep them); a mutex serialises the entries.
// No exception leaves an entry: a failure is logged through the host (the
// instance's own, else the one bound last) and gives the entry's failure
// result. Entries that change the sound log their failures as warnings; the
// position and flag queries, which the engine polls, and unknown handles at
// the debug level.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "soundservice/ServiceInstance.h"
#include "soundservice/SoundServiceHost.h"

namespace {

using soundservice::LogTo;
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

  // A line for the bound host's log, if one is bound.
  void Log(int32_t level, const std::string& text) const noexcept {
    if (hostBound) LogTo(host, level, text);
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
         host->outputStart != nullptr && host->outputPlay != nullptr && host->outputStop != nullptr &&
         host->log != nullptr;
}

// "<entry>: <what>" for a log line. Building it may fail for want of memory;
// then the reason goes alone.
void LogFailure(const SoundServiceHost* host, const Registry& reg, int32_t level, const char* entry,
                const char* what) noexcept {
  try {
    const std::string line = std::string(entry) + ": " + what;
    host != nullptr ? LogTo(*host, level, line) : reg.Log(level, line);
  } catch (...) {
    if (host != nullptr) {
      host->log(host->context, level, what);
    } else if (reg.hostBound) {
      reg.host.log(reg.host.context, level, what);
    }
  }
}

// Runs `body(registry)` under the lock; an exception is logged at `level`
// with the entry's name and gives `failed`.
template <typename Result, typename Body>
Result Guarded(const char* entry, int32_t level, Result failed, Body body) noexcept {
  Registry& reg = TheRegistry();
  std::unique_lock<std::mutex> lock(reg.mu, std::defer_lock);
  try {
    lock.lock();
    return body(reg);
  } catch (const std::exception& e) {
    LogFailure(nullptr, reg, level, entry, e.what());
  } catch (...) {
    LogFailure(nullptr, reg, level, entry, "an error of unknown kind");
  }
  return failed;
}

// Runs `body` on the instance named by `handle`; an unknown handle (logged
// at the debug level) or an exception (logged at `level` through the
// instance's host) gives `failed`.
template <typename Result, typename Body>
Result WithInstance(const char* entry, int32_t level, int32_t handle, Result failed, Body body) noexcept {
  return Guarded(entry, level, failed, [&](Registry& reg) -> Result {
    ServiceInstance* instance = reg.Find(handle);
    if (instance == nullptr) {
      reg.Log(SOUND_SERVICE_LOG_DEBUG, std::string(entry) + ": no buffer has the handle " + std::to_string(handle));
      return failed;
    }
    try {
      return body(*instance);
    } catch (const std::exception& e) {
      LogFailure(&instance->Host(), reg, level, entry, e.what());
    } catch (...) {
      LogFailure(&instance->Host(), reg, level, entry, "an error of unknown kind");
    }
    return failed;
  });
}

// The output's pump: an instance it names may have been released since.
void PumpInstance(void* arg) {
  Guarded("pump", SOUND_SERVICE_LOG_WARNING, 0, [arg](Registry& reg) {
    auto* instance = static_cast<ServiceInstance*>(arg);
    if (!reg.Holds(instance)) return 0;
    try {
      instance->CatchUp();
    } catch (const std::exception& e) {
      LogFailure(&instance->Host(), reg, SOUND_SERVICE_LOG_WARNING, "pump", e.what());
    }
    return 1;
  });
}

}  // namespace

extern "C" {

int32_t ServiceBindHost(const SoundServiceHost* host) {
  return Guarded("ServiceBindHost", SOUND_SERVICE_LOG_WARNING, 0, [host](Registry& reg) {
    reg.hostBound = HostComplete(host);
    reg.host = reg.hostBound ? *host : SoundServiceHost{};
    return reg.hostBound ? 1 : 0;
  });
}

int32_t Service02(int32_t oldHandle, int32_t /*windowHandle*/, int32_t channels, int32_t friq, int32_t bufferBytes,
                  int32_t bytesPer100Ms) {
  return Guarded("Service02", SOUND_SERVICE_LOG_WARNING, 0, [&](Registry& reg) {
    if (oldHandle != 0) reg.Remove(oldHandle);
    if (!reg.hostBound) return 0;
    if (reg.host.outputAvailable(reg.host.context) == 0) throw soundservice::ServiceError("the output has no device");
    return reg.Add(ServiceInstance::Create(reg.host, &PumpInstance, channels, friq, bufferBytes, bytesPer100Ms));
  });
}

void Service03(int32_t handle) {
  Guarded("Service03", SOUND_SERVICE_LOG_WARNING, 0, [handle](Registry& reg) {
    reg.Remove(handle);
    return 1;
  });
}

int32_t Service04(int32_t handle, int32_t mode, int32_t rate) {
  return WithInstance("Service04", SOUND_SERVICE_LOG_WARNING, handle, 0, [&](ServiceInstance& s) {
    s.Play(mode, rate);
    return 1;
  });
}

void Service05(int32_t handle) {
  WithInstance("Service05", SOUND_SERVICE_LOG_WARNING, handle, 0, [](ServiceInstance& s) {
    s.Stop();
    return 1;
  });
}

int32_t Service06(int32_t handle, const int16_t* data, int32_t byteCount, int32_t byteOffset, int32_t endHalf,
                  int32_t endTicks) {
  return WithInstance("Service06", SOUND_SERVICE_LOG_WARNING, handle, 0, [&](ServiceInstance& s) {
    s.Write(data, byteCount, byteOffset, endHalf, endTicks);
    return 1;
  });
}

int32_t Service07(int32_t handle, int32_t* passes, int32_t* bytePos) {
  if (passes == nullptr || bytePos == nullptr) return 0;
  return WithInstance("Service07", SOUND_SERVICE_LOG_DEBUG, handle, 0, [&](ServiceInstance& s) {
    s.Position(*passes, *bytePos);
    return 1;
  });
}

void Service08(int32_t handle, int32_t* refillHalf2, int32_t* refillHalf1, int32_t* playing, int32_t* endPlayed) {
  int32_t h2 = 0;
  int32_t h1 = 0;
  int32_t on = 0;
  int32_t end = 0;
  WithInstance("Service08", SOUND_SERVICE_LOG_DEBUG, handle, 0, [&](ServiceInstance& s) {
    s.TakeFlags(h2, h1, on, end);
    return 1;
  });
  if (refillHalf2 != nullptr) *refillHalf2 = h2;
  if (refillHalf1 != nullptr) *refillHalf1 = h1;
  if (playing != nullptr) *playing = on;
  if (endPlayed != nullptr) *endPlayed = end;
}

}  // extern "C"
