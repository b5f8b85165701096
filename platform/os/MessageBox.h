#pragma once
// The server's own message box, which never blocks (the block storage engine
// and the channel buffers report their own errors here): Show logs the text (level info), hands it to the sink, which
// the server forwards to the host as the MessageBox notification, and keeps
// the latest kKept texts for tests to read with Shown(). Show returns at once.
// A long-running server keeps no more than kKept texts, however many it shows.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace os {

class MessageBox final {
 public:
  using Sink = std::function<void(const std::string& text)>;
  static constexpr size_t kKept = 64;

  void Show(const std::string& text);
  void SetSink(Sink sink) { sink_ = std::move(sink); }
  // When quiet, nothing is logged (tests that expect many boxes).
  void SetQuiet(bool quiet) { quiet_ = quiet; }

  // The latest texts shown (at most kKept), oldest first.
  const std::vector<std::string>& Shown() const { return shown_; }
  // How many texts were shown since construction or Clear.
  uint64_t Count() const { return count_; }
  void Clear() {
    shown_.clear();
    count_ = 0;
  }

 private:
  std::vector<std::string> shown_;
  uint64_t count_ = 0;
  Sink sink_;
  bool quiet_ = false;
};

}  // namespace os
