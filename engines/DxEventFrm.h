#pragma once
// The hidden notification form of the DirectSound 7 engine. It stands for the
// library's DirectXEvent callback object: the library calls
// DirectXEvent_DXCallback when the event registered for this form is
// signalled, and the form raises its own event DxEventForward with the same
// eventid. The engine keeps one form per notification entry, so which form
// raises says which notification arrived. Thread: loop thread only.

#include <cstdint>
#include <functional>

namespace engines {

class DxEventFrm final {
 public:
  using ForwardHandler = std::function<void(int32_t eventid)>;

  DxEventFrm() = default;
  DxEventFrm(const DxEventFrm&) = delete;
  DxEventFrm& operator=(const DxEventFrm&) = delete;

  // The owner's handler of DxEventForward (empty: the event goes nowhere).
  void ConnectDxEventForward(ForwardHandler handler);
  // The library's callback.
  void DirectXEvent_DXCallback(int32_t eventid);

 private:
  ForwardHandler dxEventForward_;
};

}  // namespace engines
