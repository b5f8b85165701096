#include "engines/DxEventFrm.h"

#include <utility>

namespace engines {

void DxEventFrm::ConnectDxEventForward(ForwardHandler handler) { dxEventForward_ = std::move(handler); }

void DxEventFrm::DirectXEvent_DXCallback(int32_t eventid) {
  if (dxEventForward_) dxEventForward_(eventid);
}

}  // namespace engines
