#include "engines/DxEventFrm.h"

#include <utility>

void DxEventFrm::ConnectDxEventForward(ForwardHandler handler) { dxEventForward_ = std::move(handler); }

void DxEventFrm::DirectXEvent_DXCallback(int32_t eventid) {
  if (dxEventForward_) dxEventForward_(eventid);
}
