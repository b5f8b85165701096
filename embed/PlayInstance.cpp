#include "embed/PlayInstance.h"

#include "platform/os/Log.h"
#include "platform/os/MessageBox.h"
#include "platform/os/Stdio.h"

namespace embed {

PlayInstance::PlayInstance(std::unique_ptr<PlayWorld> world)
    : world_(std::move(world)), simulated_(world_->Simulated()) {
  facade::PlayDllClass& play = world_->Play();
  play.ConnectMsgBoxOb([this](const std::string& Msg, const std::string& Ttl) {
    events_.Push({PLAYDLL_EVENT_MSGBOXOB, Msg, Ttl});
  });
  play.Context().Box.SetSink([this](const std::string& text) { events_.Push({PLAYDLL_EVENT_MESSAGEBOX, text, ""}); });
  // Started last: from here on the world belongs to the loop thread.
  loop_ = std::make_unique<LoopThread>(world_->Loop());
}

PlayInstance::~PlayInstance() {
  try {
    Call([this] {
      if (!released_) {
        released_ = true;
        world_->Play().Terminate();
      }
    });
  } catch (const std::exception& e) {
    os::LogCaught("releasing the object", e);
  }
  loop_.reset();
  events_.Stop();
  facade::PlayDllClass& play = world_->Play();
  play.ConnectMsgBoxOb(nullptr);
  play.Context().Box.SetSink(nullptr);
}

void PlayInstance::Call(const std::function<void()>& task) {
  uint64_t raised = 0;
  std::exception_ptr error;
  loop_->Run([&] {
    try {
      task();
    } catch (...) {
      error = std::current_exception();
    }
    raised = events_.Raised();
  });
  if (!events_.OnDeliveryThread()) events_.WaitDelivered(raised);
  if (error) std::rethrow_exception(error);
}

void PlayInstance::Member(const char* name, const std::function<void(facade::PlayDllClass&)>& member) {
  Call([&] {
    if (released_) throw ReleasedError(std::string(name) + ": the object has been released");
    member(world_->Play());
  });
}

void PlayInstance::Release() {
  Member("Release", [this](facade::PlayDllClass& play) {
    released_ = true;
    play.Terminate();
  });
}

int64_t PlayInstance::AdvanceTime(int32_t ms) {
  if (simulated_) {
    loop_->Advance(ms);
  } else {
    os::SleepMs(ms);
  }
  int64_t nowMs = 0;
  Call([&] { nowMs = world_->Loop().NowUs() / 1000; });
  return nowMs;
}

}  // namespace embed
