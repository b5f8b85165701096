#include "platform/os/Clock.h"

#include <chrono>
#include <ctime>
#include <stdexcept>

namespace os {

int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

SteadyClock::SteadyClock() : originNs_(SteadyNs()) {}

int64_t SteadyClock::NowUs() const { return (SteadyNs() - originNs_) / 1000; }

double SteadyClock::SecondsSinceMidnight() const {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  const time_t secs = ts.tv_sec;
  tm local{};
  localtime_r(&secs, &local);
  return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + ts.tv_nsec / 1e9;
}

double ManualClock::SecondsSinceMidnight() const {
  constexpr int64_t kDayUs = 86400LL * 1000000LL;
  return static_cast<double>(nowUs_ % kDayUs) / 1e6;
}

void ManualClock::AdvanceTo(int64_t us) {
  if (us < nowUs_) throw std::logic_error("ManualClock cannot go backwards");
  nowUs_ = us;
}

}  // namespace os
