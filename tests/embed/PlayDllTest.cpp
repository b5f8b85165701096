// The C API over the real engines on the virtual clock: how reports reach
// the host, the arguments it refuses, what create and destroy refuse.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/os/Stdio.h"
#include "tests/embed/EmbedFixture.h"

using testing_support::HandlePtr;
using testing_support::MakeSimulatedHandle;
using testing_support::ReportText;
using Texts = std::vector<std::string>;

namespace {

const Texts kPlayAgainWithoutWave{"Play Again - Failed", "Not ready|Do \"Play New\" first"};

bool Readable(int fd) { return os::WaitReadable({fd}, 0) == 0; }

Texts TakeAll(playdll_handle* handle) {
  Texts texts;
  playdll_event e{};
  while (playdll_take_event(handle, &e) == 1) texts.push_back(ReportText(e));
  return texts;
}

TEST(PlayDllTest, WithoutACallbackReportsWaitInTheQueueWhileTheDescriptorIsReadable) {
  HandlePtr h = MakeSimulatedHandle();
  const int fd = playdll_event_fd(h.get());
  EXPECT_FALSE(Readable(fd));
  ASSERT_EQ(playdll_PlayAgain(h.get()), PLAYDLL_OK);
  EXPECT_TRUE(Readable(fd));
  EXPECT_EQ(TakeAll(h.get()), kPlayAgainWithoutWave);
  EXPECT_FALSE(Readable(fd));
}

TEST(PlayDllTest, NullArgumentsAndAnAdvanceOutOfRangeAreRefusedAsArguments) {
  HandlePtr h = MakeSimulatedHandle();
  const std::vector<std::pair<std::string, int>> calls{
      {"PlayAgain(NULL)", playdll_PlayAgain(nullptr)},
      {"DxObj(h, NULL)", playdll_DxObj(h.get(), nullptr)},
      {"PlayRunningDx7State(h, NULL)", playdll_PlayRunningDx7State(h.get(), nullptr)},
      {"AppTmpDir(h, NULL)", playdll_AppTmpDir(h.get(), nullptr)},
      {"WriteWaveMemo(L NULL, 5)", playdll_WriteWaveMemo(h.get(), 16, 1, 8000, 1, nullptr, 5, nullptr, 0)},
      {"advance_time(-1)", playdll_advance_time(h.get(), -1, nullptr)},
      {"advance_time(3600001)", playdll_advance_time(h.get(), 3'600'001, nullptr)},
      {"take_event(h, NULL)", playdll_take_event(h.get(), nullptr)}};
  for (const auto& [call, status] : calls) EXPECT_EQ(status, PLAYDLL_ERROR_ARGUMENT) << call;
  EXPECT_TRUE(TakeAll(h.get()).empty()) << "no refused call reached the object";
}

TEST(PlayDllTest, CreateRefusesWhatCannotBeSetUpAndSaysWhy) {
  testing_support::TempDir tmp;
  const std::string folder = tmp.Path();
  const std::string wavFolder = "wav:" + folder;
  const std::vector<std::tuple<std::string, playdll_options, std::string>> cases{
      {"an unknown engine", {nullptr, "dx9,dx10", 1, 0, nullptr, nullptr, nullptr}, "unknown engine 'dx10'"},
      {"a WAV output that is a folder", {wavFolder.c_str(), nullptr, 1, 0, nullptr, nullptr, nullptr}, folder},
      {"an unknown output", {"speaker", nullptr, 1, 0, nullptr, nullptr, nullptr}, "speaker"},
      {"an unknown log level", {nullptr, nullptr, 1, 0, nullptr, "loud", nullptr}, "loud"},
      {"a negative latency", {nullptr, nullptr, 1, -5, nullptr, nullptr, nullptr}, "latency_ms"}};
  for (const auto& [what, options, reason] : cases) {
    EXPECT_EQ(playdll_create(&options), nullptr) << what;
    EXPECT_THAT(playdll_last_error(), testing::HasSubstr(reason)) << what;
  }
}

TEST(PlayDllTest, DestroyInsideTheCallbackIsRefusedAndLeavesTheHandleWorking) {
  struct Seen {
    playdll_handle* handle = nullptr;
    int status = 0;
  } seen;
  HandlePtr h = MakeSimulatedHandle();
  seen.handle = h.get();
  playdll_set_event_callback(
      h.get(), [](void* self, const playdll_event*) {
        auto* s = static_cast<Seen*>(self);
        s->status = playdll_destroy(s->handle);
      },
      &seen);
  ASSERT_EQ(playdll_PlayContinue(h.get()), PLAYDLL_OK);
  EXPECT_EQ(seen.status, PLAYDLL_ERROR_IN_CALLBACK);
  int32_t position = -1;
  EXPECT_EQ(playdll_PlayCurrentPosition(h.get(), &position), PLAYDLL_OK);
  EXPECT_EQ(position, 0);
}

}  // namespace
