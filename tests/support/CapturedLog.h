#pragma once
// The process log written to a file of the test's own while this object
// lives, at the level asked for; afterwards it goes to standard error at
// level info again.

#include <string>
#include <vector>

#include "platform/os/Log.h"
#include "tests/support/TempDir.h"

namespace testing_support {

class CapturedLog {
 public:
  explicit CapturedLog(os::LogLevel level = os::LogLevel::Info) {
    os::ProcessLog().ToFile(dir_.File("log"));
    os::ProcessLog().SetLevel(level);
  }
  ~CapturedLog() {
    os::ProcessLog().SetLevel(os::LogLevel::Info);
    os::ProcessLog().ToDescriptor(2);
  }
  CapturedLog(const CapturedLog&) = delete;
  CapturedLog& operator=(const CapturedLog&) = delete;

  // Every line written so far.
  std::string Text() const {
    const std::vector<uint8_t> bytes = ReadBytes(dir_.File("log"));
    return std::string(bytes.begin(), bytes.end());
  }

 private:
  TempDir dir_;
};

}  // namespace testing_support
