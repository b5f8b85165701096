#include "platform/MessageBox.h"

#include <iostream>

namespace platform {

void MessageBox::Show(const std::string& text) {
  shown_.push_back(text);
  if (!quiet_) std::cerr << "playsrv: message box: " << text << '\n';
  if (sink_) sink_(text);
}

}  // namespace platform
