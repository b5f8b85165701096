#include "embed/LoopThread.h"

#include <string>

#include "platform/os/Clock.h"
#include "platform/os/Log.h"
#include "platform/os/Threads.h"

namespace embed {

namespace {

// How long a caller looks for its job's end before it sleeps.
constexpr int64_t kLookNs = 50'000;

void LogRunTimeError(const std::exception& e) { os::LogError(std::string("run-time error: ") + e.what()); }

}  // namespace

LoopThread::LoopThread(os::EventLoop& loop) : loop_(loop) {
  thread_ = std::thread([this] { Body(); });
}

LoopThread::~LoopThread() {
  loop_.PostFromAnyThread([this] {
    stopping_ = true;
    loop_.Quit();
  });
  thread_.join();
}

void LoopThread::Body() {
  os::NameThisThread("playdll-loop");
  while (!stopping_) {
    try {
      loop_.Run();  // until a Quit made on this thread: an advance or the end
    } catch (const std::exception& e) {
      LogRunTimeError(e);
      continue;
    }
    if (advance_ != nullptr) AdvanceNow(*advance_);
  }
}

void LoopThread::Run(const std::function<void()>& task) {
  Job job;
  job.Task = &task;
  Submit(job);
}

void LoopThread::Advance(int64_t ms) {
  Job job;
  job.AdvanceMs = ms;
  Submit(job);
}

void LoopThread::Submit(Job& job) {
  loop_.PostFromAnyThread([this, &job] { Start(job); });
  // Most calls are done within microseconds: looking for a while costs less
  // than being woken from sleep on another core (tens of microseconds here).
  const int64_t lookUntil = os::SteadyNs() + kLookNs;
  while (!job.Finished.load(std::memory_order_acquire) && os::SteadyNs() < lookUntil) {
  }
  // Taken also when the job is seen done: Finish holds the lock until it
  // has let go of the job, which lives on this stack.
  std::unique_lock<std::mutex> lock(job.Mu);
  job.Done.wait(lock, [&] { return job.Finished.load(std::memory_order_relaxed); });
  lock.unlock();
  if (job.Error) std::rethrow_exception(job.Error);
}

// A dispatch of the loop.
void LoopThread::Start(Job& job) {
  if (advancing_) {
    held_.push_back(&job);
  } else if (job.Task == nullptr) {
    advance_ = &job;
    loop_.Quit();  // RunFor cannot run inside a dispatch; Body runs it
  } else {
    try {
      (*job.Task)();
    } catch (...) {
      job.Error = std::current_exception();
    }
    Finish(job);
  }
}

// Outside any dispatch. A tick that fails is logged and time moves on to the
// end of the span; what was held meanwhile then runs as dispatches of their own.
void LoopThread::AdvanceNow(Job& job) {
  advance_ = nullptr;
  advancing_ = true;
  const int64_t endUs = loop_.NowUs() + job.AdvanceMs * 1000;
  for (;;) {
    try {
      loop_.RunFor((endUs - loop_.NowUs()) / 1000);
      break;
    } catch (const std::exception& e) {
      LogRunTimeError(e);
    }
  }
  advancing_ = false;
  for (Job* held : held_) loop_.Post([this, held] { Start(*held); });
  held_.clear();
  Finish(job);
}

// Notified under the lock: the host may return (and its Job go) as soon as
// the lock is free.
void LoopThread::Finish(Job& job) {
  std::lock_guard<std::mutex> lock(job.Mu);
  job.Finished.store(true, std::memory_order_release);
  job.Done.notify_one();
}

}  // namespace embed
