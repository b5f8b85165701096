#include "platform/os/EventLoop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/Stdio.h"

using os::EventLoop;
using os::ManualClock;
using os::Timer;

namespace {

class EventLoopTest : public ::testing::Test {
 protected:
  ManualClock clock;
  EventLoop loop{clock};
};

// That RunFor dispatches what falls due in time order is what every engine
// run on the virtual clock stands on; here, what those runs do not show.
TEST_F(EventLoopTest, SameTimeTasksRunInPostingOrderOneAtATimeAndCancelledOnesNever) {
  std::vector<int> seen;
  loop.PostAt(10'000, [&] {
    seen.push_back(1);
    loop.Post([&] { seen.push_back(3); });  // runs after this dispatch
    EXPECT_THROW(loop.RunFor(1), std::logic_error);
  });
  loop.PostAt(10'000, [&] { seen.push_back(2); });
  loop.Cancel(loop.PostAt(5'000, [&] { seen.push_back(99); }));
  loop.RunFor(50);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3}));
}

TEST_F(EventLoopTest, TimerTicksWhileEnabledNeverAtIntervalZeroAndANewIntervalRestartsItsCountdown) {
  Timer t(loop);
  std::vector<int64_t> at;
  t.SetOnTick([&] { at.push_back(clock.NowUs()); });
  t.SetInterval(100);
  loop.RunFor(150);  // disabled: no tick
  t.SetEnabled(true);
  loop.RunFor(250);  // ticks at 250 and 350 ms
  t.SetInterval(0);
  loop.RunFor(1000);  // interval 0: no tick
  t.SetInterval(100);  // at 1400 ms: a new interval restarts the countdown
  loop.RunFor(90);
  t.SetInterval(100);  // the same interval does not
  loop.RunFor(10);
  t.SetOnTick([&] {
    at.push_back(clock.NowUs());
    t.SetEnabled(false);  // disabled inside its tick, it stops
  });
  loop.RunFor(1000);
  EXPECT_EQ(at, (std::vector<int64_t>{250'000, 350'000, 1'500'000, 1'600'000}));
  EXPECT_FALSE(t.Enabled());
}

// Should Run not return, a watchdog ends it and the test's expectations fail.
void RunAtMostTenSeconds(EventLoop& loop) {
  std::promise<void> finished;
  std::thread watchdog([&loop, f = finished.get_future()] {
    if (f.wait_for(std::chrono::seconds(10)) == std::future_status::timeout) loop.Quit();
  });
  loop.Run();
  finished.set_value();
  watchdog.join();
}

// Run on the real clock: a task posted from another thread, a watched pipe
// (readable, then hung up), a due task, and a Quit from another thread that
// ends Run although a task is still pending. Everything runs on this thread.
TEST(EventLoopRun, WatchesDescriptorsTakesForeignPostsAndQuits) {
  os::SteadyClock clock;
  EventLoop loop(clock);
  const os::PipeEnds pipe = os::MakePipe();
  const std::thread::id self = std::this_thread::get_id();
  std::vector<std::string> seen;
  std::thread quitter;
  const auto note = [&](const std::string& what) {
    EXPECT_EQ(std::this_thread::get_id(), self) << what;
    EXPECT_TRUE(loop.InDispatch()) << what;
    seen.push_back(what);
  };
  loop.WatchFd(pipe.Read, [&] {
    std::string got;
    const bool data = os::ReadSome(pipe.Read, got, 0) == os::Input::Data;
    note(data ? "fd " + got : "fd end");
    if (data) {
      os::CloseFd(pipe.Write);  // the hang-up wakes the loop again
      return;
    }
    loop.UnwatchFd(pipe.Read);
    loop.PostAt(loop.NowUs() + 20'000, [&] {
      note("due");
      loop.PostAt(loop.NowUs() + 60'000'000, [&] { note("never"); });
      quitter = std::thread([&] { loop.Quit(); });
    });
  });
  std::thread poster([&] { loop.PostFromAnyThread([&] {
    note("posted");
    ASSERT_TRUE(os::WriteAll(pipe.Write, "ab"));
  }); });
  RunAtMostTenSeconds(loop);
  poster.join();
  if (quitter.joinable()) quitter.join();
  os::CloseFd(pipe.Read);
  EXPECT_EQ(seen, (std::vector<std::string>{"posted", "fd ab", "fd end", "due"}));
}

}  // namespace
