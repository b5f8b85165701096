#pragma once
// The events of one handle on their way to the host, in the order raised:
// either handed to the host's callback on the thread "playdll-events" (one
// at a time), or kept for the host to take, with a doorbell descriptor that
// is readable while one waits.
//
// Every event raised gets the next number from 1; Raised() is the number of
// the latest. WaitDelivered(n) returns once events 1 to n have reached the
// host: all taken or handed to a callback that has returned, or queued
// while no callback is set (the host takes them from the queue).
//
// Thread: Push from the loop thread; the rest from any thread. The callback
// runs without the lock held, so it may call every member, including
// SetCallback; Stop and WaitDelivered from inside it would wait for itself
// (OnDeliveryThread tells callers where they are).

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "embed/playdll.h"
#include "platform/os/Threads.h"

namespace embed {

struct Event {
  int Kind = PLAYDLL_EVENT_MSGBOXOB;
  std::string Msg;
  std::string Ttl;
};

class EventQueue final {
 public:
  EventQueue() = default;
  ~EventQueue() { Stop(); }
  EventQueue(const EventQueue&) = delete;
  EventQueue& operator=(const EventQueue&) = delete;

  void Push(Event event);
  uint64_t Raised() const;
  void WaitDelivered(uint64_t count);

  // The oldest waiting event into `out`; false when none waits or a
  // callback is set.
  bool Take(Event& out);
  int Fd() const { return bell_.Fd(); }

  // nullptr: back to the queue. The first callback starts the thread.
  void SetCallback(playdll_event_callback callback, void* user);
  // True on this queue's delivery thread (inside its callback).
  bool OnDeliveryThread() const;

  // Ends the delivery thread once what is queued for a callback has been
  // delivered. Events pushed afterwards stay queued.
  void Stop();

 private:
  void Deliver();
  bool Delivering() const { return callback_ != nullptr && !queue_.empty(); }

  mutable std::mutex mu_;
  std::condition_variable changed_;
  std::deque<Event> queue_;
  uint64_t raised_ = 0;
  uint64_t delivered_ = 0;
  playdll_event_callback callback_ = nullptr;
  void* user_ = nullptr;
  bool stopping_ = false;
  std::thread thread_;
  os::Doorbell bell_;
};

}  // namespace embed
