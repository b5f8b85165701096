#pragma once
// The server's own message box (the modal box of the original, made
// non-blocking): Show records the text, logs it to stderr and hands it to the
// sink, which the server forwards to the host as the MessageBox notification.
// Show returns at once. Tests read what was shown with Shown().

#include <functional>
#include <string>
#include <vector>

namespace platform {

class MessageBox final {
 public:
  using Sink = std::function<void(const std::string& text)>;

  void Show(const std::string& text);
  void SetSink(Sink sink) { sink_ = std::move(sink); }
  // When quiet, nothing is logged to stderr (tests that expect many boxes).
  void SetQuiet(bool quiet) { quiet_ = quiet; }

  const std::vector<std::string>& Shown() const { return shown_; }
  void Clear() { shown_.clear(); }

 private:
  std::vector<std::string> shown_;
  Sink sink_;
  bool quiet_ = false;
};

}  // namespace platform
