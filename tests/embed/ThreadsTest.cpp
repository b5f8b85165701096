// Host threads and the handle's threads (run under ThreadSanitizer by
// `make tsan`): calls from four threads at once, and a callback that calls
// back into the library.

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/embed/EmbedFixture.h"

using testing_support::HandlePtr;
using testing_support::MakeSimulatedHandle;
using Texts = std::vector<std::string>;

namespace {

// Members that, with no engine and no wave, raise reports only they raise:
// one per thread, so that each thread knows its own.
struct ThreadMember {
  int (*Call)(playdll_handle*);
  Texts Raised;
};
const std::vector<ThreadMember> kMembers{
    {playdll_PlayAgain, {"Play Again - Failed", "Not ready|Do \"Play New\" first"}},
    {playdll_PlayAgainRev, {"Play Again Rev. - Failed", "Not ready|Do \"Play New\" first"}},
    {playdll_PlayContinue, {"Nothing to Continue"}},
    {playdll_PlayUTurn, {"Driver is Off", "U-Turn Failed"}}};

TEST(ThreadsTest, CallsFromFourThreadsAtOnceRunWholeAndEachSeesItsReportsBeforeItReturns) {
  constexpr int kCalls = 200;
  testing_support::Reports reports;  // outlives the handle, whose end delivers reports
  HandlePtr h = MakeSimulatedHandle();
  playdll_set_event_callback(h.get(), testing_support::Reports::Callback, &reports);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (const ThreadMember& m : kMembers) {
    threads.emplace_back([&] {
      for (int i = 0; i < kCalls; ++i) {
        int32_t position = -1;
        if (m.Call(h.get()) != PLAYDLL_OK || playdll_PlayCurrentPosition(h.get(), &position) != PLAYDLL_OK ||
            position != 0 || reports.Count(m.Raised.back()) < static_cast<size_t>(i + 1))
          ++failures;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures, 0);
  // The reports of one call come together: calls never ran inside each other.
  const Texts seen = reports.Texts();
  size_t at = 0;
  int groups = 0;
  while (at < seen.size()) {
    const ThreadMember* m = nullptr;
    for (const ThreadMember& c : kMembers)
      if (c.Raised.front() == seen[at]) m = &c;
    ASSERT_NE(m, nullptr) << "report " << at << ": " << seen[at];
    for (const std::string& text : m->Raised) ASSERT_EQ(seen.at(at++), text);
    ++groups;
  }
  EXPECT_EQ(groups, 4 * kCalls);
}

// The callback asks for the position and turns round when the first report
// comes: both calls are carried out, after the call that raised it, and the
// turn's reports follow the ones the callback was running for.
TEST(ThreadsTest, ACallbackThatCallsBackIntoTheLibraryIsServedAndItsReportsFollow) {
  struct Reentry {
    playdll_handle* Handle = nullptr;
    testing_support::Reports Seen;
    std::atomic<int> Status{1};
  } r;
  HandlePtr h = MakeSimulatedHandle();
  r.Handle = h.get();
  playdll_set_event_callback(
      h.get(), [](void* self, const playdll_event* e) {
        auto* re = static_cast<Reentry*>(self);
        re->Seen.Add(testing_support::ReportText(*e));
        if (std::string(e->Ttl) != "Play Again - Failed") return;
        int32_t position = -1;
        re->Status = playdll_PlayCurrentPosition(re->Handle, &position) | playdll_PlayUTurn(re->Handle);
      },
      &r);
  ASSERT_EQ(playdll_PlayAgain(h.get()), PLAYDLL_OK);
  ASSERT_EQ(playdll_StopPlay(h.get()), PLAYDLL_OK);  // its own report comes after the turn's
  EXPECT_EQ(r.Status, PLAYDLL_OK);
  EXPECT_EQ(r.Seen.Texts(), (Texts{"Play Again - Failed", "Not ready|Do \"Play New\" first", "Driver is Off",
                                   "U-Turn Failed", "Driver is Off"}));
}

}  // namespace
