#include "tools/ProgressBar.h"

#include <algorithm>
#include <cstdio>

#include "platform/os/Clock.h"

namespace playctl {

namespace {

constexpr int64_t kQuietMs = 500;
constexpr int64_t kRedrawMs = 100;
constexpr int kBarWidth = 30;

}  // namespace

ProgressBar::ProgressBar(std::ostream& err, bool terminal) : err_(err), terminal_(terminal), startMs_(os::SteadyMs()) {}

ProgressBar::~ProgressBar() {
  if (drawn_) err_ << std::endl;
}

void ProgressBar::Show(const std::string& what, double share) {
  const int64_t now = os::SteadyMs();
  if (what != what_ || share < share_) {  // the next step (which may bear the same name)
    if (drawn_) err_ << std::endl;
    drawn_ = false;
    what_ = what;
    lastQuarter_ = 0;
  }
  if (now - startMs_ < kQuietMs) {
    share_ = share;
    return;
  }
  share = std::clamp(share, 0.0, 1.0);
  share_ = share;
  const int percent = static_cast<int>(share * 100);
  if (!terminal_) {
    const int quarter = percent / 25;
    if (quarter > lastQuarter_) err_ << "decoding " << what << ": " << percent << " %" << std::endl;
    lastQuarter_ = std::max(lastQuarter_, quarter);
    return;
  }
  if (drawn_ && now - lastDrawMs_ < kRedrawMs && share < 1.0) return;
  const int filled = static_cast<int>(share * kBarWidth);
  err_ << "\r\033[Kdecoding " << what << " [" << std::string(static_cast<size_t>(filled), '#')
       << std::string(static_cast<size_t>(kBarWidth - filled), '.') << "] " << percent << " %" << std::flush;
  drawn_ = true;
  lastDrawMs_ = now;
}

}  // namespace playctl
