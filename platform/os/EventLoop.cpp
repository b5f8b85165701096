#include "platform/os/EventLoop.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "platform/os/Errors.h"

namespace os {

EventLoop::EventLoop(Clock& clock) : clock_(clock) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) throw ErrnoError("pipe", "event loop", errno);
  wakeRead_ = fds[0];
  wakeWrite_ = fds[1];
}

EventLoop::~EventLoop() {
  close(wakeRead_);
  close(wakeWrite_);
}

uint64_t EventLoop::PostAt(int64_t dueUs, Task task) {
  const uint64_t id = nextSeq_++;
  tasks_.emplace(Key{dueUs, id}, std::move(task));
  dueById_.emplace(id, dueUs);
  return id;
}

void EventLoop::Cancel(uint64_t id) {
  auto it = dueById_.find(id);
  if (it == dueById_.end()) return;
  tasks_.erase(Key{it->second, id});
  dueById_.erase(it);
}

void EventLoop::Dispatch(const Task& task) {
  inDispatch_ = true;
  try {
    task();
  } catch (...) {
    inDispatch_ = false;
    throw;
  }
  inDispatch_ = false;
}

bool EventLoop::DispatchNextDue(int64_t limitUs) {
  if (tasks_.empty()) return false;
  auto it = tasks_.begin();
  if (it->first.first > limitUs) return false;
  const int64_t due = it->first.first;
  Task task = std::move(it->second);
  dueById_.erase(it->first.second);
  tasks_.erase(it);
  if (clock_.IsManual() && due > clock_.NowUs()) static_cast<ManualClock&>(clock_).AdvanceTo(due);
  Dispatch(task);
  return true;
}

void EventLoop::DrainForeign() {
  // A poster adds its task under the lock and then sets the flag, so a flag
  // taken down here is never set again for a task this swap misses.
  if (!foreignPending_.load(std::memory_order_acquire)) return;
  foreignPending_.store(false, std::memory_order_relaxed);
  std::vector<Task> batch;
  {
    std::lock_guard<std::mutex> lock(foreignMu_);
    batch.swap(foreign_);
  }
  EmptyWakePipe();
  for (auto& t : batch) Post(std::move(t));
}

void EventLoop::EmptyWakePipe() {
  char buf[64];
  while (read(wakeRead_, buf, sizeof buf) > 0) {
  }
}

void EventLoop::RunFor(int64_t ms) {
  if (!clock_.IsManual()) throw std::logic_error("RunFor needs a manual clock");
  if (inDispatch_) throw std::logic_error("RunFor inside a dispatch");
  const int64_t target = clock_.NowUs() + ms * 1000;
  DrainForeign();
  while (DispatchNextDue(target)) DrainForeign();
  static_cast<ManualClock&>(clock_).AdvanceTo(target);
}

void EventLoop::RunUntilIdle() {
  if (inDispatch_) throw std::logic_error("RunUntilIdle inside a dispatch");
  DrainForeign();
  while (DispatchNextDue(clock_.NowUs())) DrainForeign();
}

void EventLoop::Run() {
  if (inDispatch_) throw std::logic_error("Run inside a dispatch");
  quit_.store(false);
  while (!quit_.load()) {
    DrainForeign();
    if (DispatchNextDue(clock_.NowUs())) continue;

    int timeoutMs = -1;
    if (!tasks_.empty() && !clock_.IsManual()) {
      const int64_t waitUs = tasks_.begin()->first.first - clock_.NowUs();
      timeoutMs = waitUs <= 0 ? 0 : static_cast<int>((waitUs + 999) / 1000);
    }
    std::vector<pollfd> pfds;
    pfds.push_back({wakeRead_, POLLIN, 0});
    for (auto& [fd, cb] : watched_) pfds.push_back({fd, POLLIN, 0});
    const int n = poll(pfds.data(), pfds.size(), timeoutMs);
    if (n < 0 && errno != EINTR) throw ErrnoError("poll", "event loop", errno);
    if (n <= 0) continue;
    if (pfds[0].revents != 0) EmptyWakePipe();  // a post or a Quit; the loop's top takes them
    for (size_t i = 1; i < pfds.size(); ++i) {
      if (pfds[i].revents == 0) continue;
      auto it = watched_.find(pfds[i].fd);
      if (it == watched_.end()) continue;
      auto cb = it->second;  // the callback may unwatch itself
      Dispatch(cb);
    }
  }
}

void EventLoop::Quit() {
  quit_.store(true);
  Wake();
}

void EventLoop::PostFromAnyThread(Task task) {
  {
    std::lock_guard<std::mutex> lock(foreignMu_);
    foreign_.push_back(std::move(task));
  }
  foreignPending_.store(true, std::memory_order_release);
  Wake();
}

// A full pipe already wakes the loop, so a write that does not fit is not missed.
void EventLoop::Wake() {
  const char c = 'w';
  [[maybe_unused]] const ssize_t r = write(wakeWrite_, &c, 1);
}

void EventLoop::WatchFd(int fd, std::function<void()> onReadable) { watched_[fd] = std::move(onReadable); }

void EventLoop::UnwatchFd(int fd) { watched_.erase(fd); }

// ---------------------------------------------------------------- Timer

Timer::Timer(EventLoop& loop) : loop_(loop) {}

Timer::~Timer() { Unschedule(); }

void Timer::Unschedule() {
  if (pending_ != 0) loop_.Cancel(pending_);
  pending_ = 0;
}

void Timer::Reschedule(int64_t dueUs) {
  Unschedule();
  if (!enabled_ || intervalMs_ <= 0) return;
  pending_ = loop_.PostAt(dueUs, [this, dueUs] { Fire(dueUs); });
}

void Timer::SetInterval(int32_t ms) {
  if (ms < 0) ms = 0;
  if (ms == intervalMs_) return;  // the same interval keeps the running countdown
  intervalMs_ = ms;
  Reschedule(loop_.NowUs() + static_cast<int64_t>(intervalMs_) * 1000);
}

void Timer::SetEnabled(bool on) {
  if (on == enabled_) return;
  enabled_ = on;
  Reschedule(loop_.NowUs() + static_cast<int64_t>(intervalMs_) * 1000);
}

void Timer::Fire(int64_t dueUs) {
  pending_ = 0;
  if (!enabled_ || intervalMs_ <= 0) return;
  // The next tick is booked before this one runs, so that the handler's own
  // changes to Enabled or Interval take precedence over it.
  int64_t next = dueUs + static_cast<int64_t>(intervalMs_) * 1000;
  if (next <= loop_.NowUs()) next = loop_.NowUs() + static_cast<int64_t>(intervalMs_) * 1000;
  pending_ = loop_.PostAt(next, [this, next] { Fire(next); });
  if (onTick_) {
    auto tick = onTick_;  // the handler may rebind or destroy the timer
    tick();
  }
}

}  // namespace os
