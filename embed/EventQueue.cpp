#include "embed/EventQueue.h"

namespace embed {

namespace {

// The queue whose delivery thread this is, if any.
thread_local const EventQueue* tDelivering = nullptr;

}  // namespace

bool EventQueue::OnDeliveryThread() const { return tDelivering == this; }

void EventQueue::Push(Event event) {
  std::lock_guard<std::mutex> lock(mu_);
  queue_.push_back(std::move(event));
  ++raised_;
  if (callback_ != nullptr) {
    changed_.notify_all();
  } else {
    bell_.Ring();
  }
}

uint64_t EventQueue::Raised() const {
  std::lock_guard<std::mutex> lock(mu_);
  return raised_;
}

void EventQueue::WaitDelivered(uint64_t count) {
  std::unique_lock<std::mutex> lock(mu_);
  changed_.wait(lock, [&] { return delivered_ >= count || callback_ == nullptr; });
}

bool EventQueue::Take(Event& out) {
  std::lock_guard<std::mutex> lock(mu_);
  if (callback_ != nullptr || queue_.empty()) return false;
  out = std::move(queue_.front());
  queue_.pop_front();
  ++delivered_;
  if (queue_.empty()) bell_.Clear();
  return true;
}

void EventQueue::SetCallback(playdll_event_callback callback, void* user) {
  std::lock_guard<std::mutex> lock(mu_);
  callback_ = callback;
  user_ = user;
  if (callback == nullptr) {
    if (!queue_.empty()) bell_.Ring();
  } else {
    bell_.Clear();
    if (!thread_.joinable() && !stopping_) {
      thread_ = std::thread([this] { Deliver(); });
    }
  }
  changed_.notify_all();
}

void EventQueue::Deliver() {
  os::NameThisThread("playdll-events");
  tDelivering = this;
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    changed_.wait(lock, [&] { return stopping_ || Delivering(); });
    if (!Delivering()) return;  // stopping, and nothing left for a callback
    const Event event = std::move(queue_.front());
    queue_.pop_front();
    const playdll_event_callback callback = callback_;
    void* const user = user_;
    lock.unlock();
    const playdll_event view{event.Kind, event.Msg.c_str(), event.Ttl.c_str()};
    callback(user, &view);
    lock.lock();
    ++delivered_;
    changed_.notify_all();
  }
}

void EventQueue::Stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
}

}  // namespace embed
