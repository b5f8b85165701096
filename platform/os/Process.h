#pragma once
// A child process: a program started with pipes to its standard input and
// output (or a pseudo-terminal for all three streams), whose output is read
// line by line or as it comes, with time limits, and which is signalled,
// waited for and killed by this object.
//
// - The child inherits the environment, the signal mask and the ignored
//   signals of the caller (a server started by a host that reads the
//   termination signals from a descriptor gets them pending until it takes
//   them itself).
// - Every descriptor of the caller except the child's three streams is
//   closed on exec (the program's own descriptors are opened close-on-exec).
// - Starting a child makes the caller ignore SIGPIPE (IgnoreBrokenPipes),
//   so that a child that stops reading fails Send instead of ending the
//   caller.
// - The object owns the child: when it goes while the child runs, the child
//   is killed (SIGKILL) and reaped.
// Thread: one at a time.

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/os/Errors.h"
#include "platform/os/Stdio.h"
#include "platform/os/Terminal.h"

namespace os {

// A child that cannot be started, or a wait that cannot be made.
class ProcessError final : public PlayError {
 public:
  using PlayError::PlayError;
};

class Process final {
 public:
  // Where the child's standard error goes.
  enum class ErrorOutput {
    Inherit,  // the caller's standard error
    Null,     // /dev/null
    File,     // ErrorFile, created or emptied
    Pipe,     // a pipe that the caller reads with ReadErrorOutput, or never
    // A pipe read along with the output: whatever arrives on it while
    // ReadLine or ReadSome wait is taken in at once (so it never fills and
    // the child never waits on it) and ends that wait as TimedOut, so that
    // the caller can take the lines with ErrorLines.
    Lines,
  };
  struct Options {
    std::vector<std::string> Args;  // after the program's own name
    ErrorOutput Errors = ErrorOutput::Inherit;
    std::string ErrorFile;   // for ErrorOutput::File
    bool NullInput = false;  // standard input from /dev/null instead of a pipe
    // The child leads a process group of its own (as a shell's job does), so
    // that SignalGroup reaches it and whatever it starts.
    bool OwnGroup = false;
    // Standard input, output and error on a new pseudo-terminal whose
    // controlling end this object holds (Send writes keys to it, the reads
    // read the screen); Errors and NullInput do not apply.
    bool OnTerminal = false;
    // With OnTerminal: the terminal's size, in columns and rows (0: the
    // system's default, usually none).
    int Columns = 0;
    int Rows = 0;
    // Above 0: files the child writes stop at this many bytes (EFBIG beyond,
    // as on a full disk; SIGXFSZ is ignored in the child).
    int64_t MaxFileBytes = 0;
  };

  // Starts `program` (a path) with `options`. Throws ProcessError
  // "cannot start <program>: <reason>" when it cannot be started.
  Process(const std::string& program, const Options& options);
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Writes all of `bytes` to the child's input; false when it no longer
  // reads (or the input was closed).
  bool Send(std::string_view bytes);
  // The child sees the end of its input (for a pseudo-terminal: nothing).
  void CloseInput();

  // The next line of the child's output, without its '\n'. Waits at most
  // `timeoutMs` (below 0: without limit) in all; Data with a line, End when
  // the output ended (an unfinished last line is dropped), TimedOut. A
  // descriptor `alsoWatch` (-1: none) that becomes readable while it waits
  // ends the wait as TimedOut too, so that a caller can look at it.
  Input ReadLine(std::string& line, int timeoutMs, int alsoWatch = -1);
  // What the output holds within `timeoutMs`, appended to `out`: Data, End
  // or TimedOut, as one wait and one read (lines already buffered by
  // ReadLine come first).
  Input ReadSome(std::string& out, int timeoutMs);
  // Everything in the standard error pipe now, without waiting (ErrorOutput::
  // Pipe only; "" otherwise).
  std::string ReadErrorOutput();
  // ErrorOutput::Lines: the complete lines (without '\n') that arrived on
  // standard error so far, taking in what is there now without waiting; with
  // `unfinished`, also a last line that has no '\n' yet. Empty otherwise.
  std::vector<std::string> ErrorLines(bool unfinished = false);

  // With OnTerminal: gives the child's terminal a new size (the child's
  // foreground process group gets SIGWINCH, as when a window is resized).
  void ResizeTerminal(int columns, int rows);

  // With OnTerminal: how the child's terminal treats input now.
  std::optional<TerminalMode> ChildTerminalMode() const;

  // Sends `signo` to the child, or with OwnGroup to its whole group.
  void Signal(int signo);
  void SignalGroup(int signo);

  // The exit status once the child has ended: its code, or 128 + the number
  // of the signal that ended it. Waits at most `timeoutMs` (below 0: without
  // limit); nothing when it still runs then.
  std::optional<int> Wait(int timeoutMs);
  // Kills the child (SIGKILL) unless it has ended, and returns its status.
  int Kill();

 private:
  // Reads what standard error holds now into errorsBuffered_ (Lines); true
  // when there was a pipe to read.
  bool TakeInErrors();

  pid_t pid_ = -1;
  int input_ = -1;   // the child's standard input (the terminal's controlling end when OnTerminal)
  int output_ = -1;  // its standard output (the same descriptor when OnTerminal)
  int errors_ = -1;  // its standard error, for ErrorOutput::Pipe and Lines
  bool errorLines_ = false;      // ErrorOutput::Lines
  std::string errorsBuffered_;   // standard error read and not yet handed out
  bool onTerminal_ = false;
  std::string buffered_;  // read and not yet handed out
  std::optional<int> status_;
};

// The folder of the running program's executable (its real path, without a
// trailing slash). Throws FileError when the system does not say.
std::string ProgramFolder();

}  // namespace os
