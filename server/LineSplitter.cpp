#include "server/LineSplitter.h"

namespace server {

void LineSplitter::Feed(std::string_view bytes) {
  while (!bytes.empty()) {
    const size_t end = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, end);
    if (!skipping_ && pending_.size() + piece.size() > maxLineBytes_) {
      pending_.clear();
      pending_.shrink_to_fit();
      skipping_ = true;
      onOverlong_();
    }
    if (!skipping_) pending_.append(piece);
    if (end == std::string_view::npos) return;
    bytes.remove_prefix(end + 1);
    if (skipping_) {
      skipping_ = false;
      continue;
    }
    std::string line;
    line.swap(pending_);
    onLine_(line);
  }
}

void LineSplitter::Finish() {
  if (!skipping_ && !pending_.empty()) {
    std::string line;
    line.swap(pending_);
    onLine_(line);
  }
  pending_.clear();
  skipping_ = false;
}

}  // namespace server
