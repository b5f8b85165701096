#pragma once
// The loop's time source. Time is counted in microseconds from an arbitrary
// origin and never goes backwards. SteadyClock follows the machine's steady
// clock; ManualClock moves only when told to (tests, the server's --simulate
// mode), so that everything driven by it is deterministic.

#include <cstdint>

namespace os {

// The machine's steady clock in nanoseconds from an arbitrary origin. Any
// thread, a sound card's real-time one included: no lock, no allocation.
int64_t SteadyNs();
// The same in milliseconds.
inline int64_t SteadyMs() { return SteadyNs() / 1000000; }

class Clock {
 public:
  virtual ~Clock() = default;
  virtual int64_t NowUs() const = 0;
  // The time of day: seconds since midnight, with the fraction.
  virtual double SecondsSinceMidnight() const = 0;
  virtual bool IsManual() const = 0;
};

class SteadyClock final : public Clock {
 public:
  SteadyClock();
  int64_t NowUs() const override;
  double SecondsSinceMidnight() const override;
  bool IsManual() const override { return false; }

 private:
  int64_t originNs_;
};

class ManualClock final : public Clock {
 public:
  // startUs: the time the clock shows at first. The time of day is NowUs
  // modulo one day, counted from midnight.
  explicit ManualClock(int64_t startUs = 0) : nowUs_(startUs) {}
  int64_t NowUs() const override { return nowUs_; }
  double SecondsSinceMidnight() const override;
  bool IsManual() const override { return true; }

  // REQUIRES: us >= NowUs(). The event loop advances the clock; tests that
  // drive a loop use EventLoop::RunFor instead of calling this directly.
  void AdvanceTo(int64_t us);

 private:
  int64_t nowUs_;
};

}  // namespace os
