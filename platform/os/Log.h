#pragma once
// The process's one diagnostics path. Every line has the form
//   "<program>: <level>: <text>"            on the loop thread
//   "<program>: <level>: [<thread>] <text>" on a thread that named itself
// and goes to standard error, or to the file given with ToFile.
//
// Writing never blocks the caller: the destination is written without
// waiting (a pipe nobody reads, a stopped terminal); a line that does not fit
// is dropped whole and counted, and the first line that fits again is preceded
// by one line saying how many were dropped. A line is cut to kMaxLineBytes so
// that it reaches a pipe in one piece or not at all.
//
// Thread: every member may be called from any thread.

#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>

namespace os {

enum class LogLevel { Error = 0, Warning = 1, Info = 2, Debug = 3 };

// "error", "warning", "info", "debug"; std::invalid_argument otherwise.
LogLevel ParseLogLevel(const std::string& name);

class Logger final {
 public:
  static constexpr size_t kMaxLineBytes = 4096;

  // Writes to descriptor `fd` (not owned; -1 writes nothing) at level Info.
  Logger(std::string program, int fd);
  ~Logger();
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  void SetLevel(LogLevel level);
  // True when lines of `level` are written (to build a costly text only then).
  bool Shows(LogLevel level) const;
  // Writes to descriptor `fd` from now on (not owned). A pipe or terminal is
  // opened afresh in non-blocking mode, so the descriptor's own mode, shared
  // with other processes, stays as it is.
  void ToDescriptor(int fd);
  // Appends to `path` from now on (created when missing). Throws
  // os::FileError naming the file when it cannot be opened, and when it
  // is not a regular file.
  void ToFile(const std::string& path);

  void Write(LogLevel level, std::string_view text);

  // Names the calling thread in its lines ("" for none).
  static void SetThreadName(std::string name);

 private:
  void SetDestination(int fd, bool owned);
  bool WriteLine(const std::string& line);

  mutable std::mutex mutex_;
  std::string program_;
  LogLevel level_ = LogLevel::Info;
  int fd_ = -1;
  bool ownsFd_ = false;
  uint64_t droppedUnsaid_ = 0;
};

// The process's logger: "playsrv" on standard error until told otherwise.
Logger& ProcessLog();

inline void LogError(std::string_view text) { ProcessLog().Write(LogLevel::Error, text); }
inline void LogWarning(std::string_view text) { ProcessLog().Write(LogLevel::Warning, text); }
inline void LogInfo(std::string_view text) { ProcessLog().Write(LogLevel::Info, text); }
inline void LogDebug(std::string_view text) { ProcessLog().Write(LogLevel::Debug, text); }
// An error that a handler turned into a report or a False: "<where>: <what>"
// at level warning.
void LogCaught(std::string_view where, const std::exception& e);

}  // namespace os
