#pragma once
// Cuts a byte stream into lines at '\n'. Bytes are fed in whatever pieces the
// reads deliver; each complete line is handed out once, without its '\n'.
// A line longer than the limit is not kept: its bytes are skipped up to the
// next '\n' and the line is reported as overlong instead, so a runaway host
// cannot make the server hold unbounded memory. At the end of the stream an
// unterminated last line counts as a line.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace server {

class LineSplitter final {
 public:
  using OnLine = std::function<void(std::string_view line)>;
  using OnOverlong = std::function<void()>;

  LineSplitter(size_t maxLineBytes, OnLine onLine, OnOverlong onOverlong)
      : maxLineBytes_(maxLineBytes), onLine_(std::move(onLine)), onOverlong_(std::move(onOverlong)) {}

  void Feed(std::string_view bytes);
  // The stream has ended: hands out the unterminated last line, if any.
  void Finish();

 private:
  size_t maxLineBytes_;
  OnLine onLine_;
  OnOverlong onOverlong_;
  std::string pending_;
  bool skipping_ = false;  // inside an overlong line, waiting for its end
};

}  // namespace server
