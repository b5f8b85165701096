#include "platform/os/MessageBox.h"

#include "platform/os/Log.h"

namespace os {

void MessageBox::Show(const std::string& text) {
  if (shown_.size() == kKept) shown_.erase(shown_.begin());
  shown_.push_back(text);
  ++count_;
  if (!quiet_) LogInfo("message box: " + text);
  if (sink_) sink_(text);
}

}  // namespace os
