#pragma once
// Progress of a long step on standard error. Nothing shows during the first
// half second; after that a terminal gets a bar rewritten in place, anything
// else a plain line at every quarter done.

#include <cstdint>
#include <ostream>
#include <string>

namespace playctl {

class ProgressBar final {
 public:
  // `terminal`: whether `err` is a terminal (the bar is drawn in place).
  ProgressBar(std::ostream& err, bool terminal);
  // Ends a drawn bar with a new line.
  ~ProgressBar();
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // `share` of `what` is done, 0..1. A new name, or a share below the last
  // one, begins the next step.
  void Show(const std::string& what, double share);

 private:
  std::ostream& err_;
  bool terminal_;
  int64_t startMs_;
  bool drawn_ = false;
  std::string what_;
  double share_ = 0;
  int lastQuarter_ = 0;
  int64_t lastDrawMs_ = 0;
};

}  // namespace playctl
