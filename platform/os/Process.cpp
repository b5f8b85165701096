#include "platform/os/Process.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/os/Clock.h"

namespace os {

namespace {

// What the child does between fork and exec, prepared beforehand: the child
// makes only async-signal-safe calls and touches no memory it would allocate.
struct ChildPlan {
  const char* program = nullptr;
  char* const* argv = nullptr;
  int input = -1;   // descriptors that become 0, 1, 2 (-1: opened from the paths below)
  int output = -1;
  int errors = -1;
  const char* inputPath = nullptr;  // for input -1
  const char* errorPath = nullptr;  // for errors -1; nullptr: inherited
  int errorFlags = 0;
  const char* terminalPath = nullptr;  // a pseudo-terminal's other end: all three streams
  winsize terminalSize{};              // set on it when not all zero
  bool ownGroup = false;
  int64_t maxFileBytes = 0;
  int report = -1;  // where the child writes errno when it cannot start
};

// Makes `fd` descriptor `target`, kept open across exec.
bool MoveTo(int fd, int target) {
  if (fd == target) return fcntl(fd, F_SETFD, 0) == 0;
  return dup2(fd, target) == target;
}

[[noreturn]] void Fail(int report) {
  const int err = errno;
  [[maybe_unused]] const ssize_t w = write(report, &err, sizeof err);
  _exit(127);
}

[[noreturn]] void RunChild(const ChildPlan& plan) {
  if (plan.terminalPath != nullptr) {
    // A session of its own whose controlling terminal is the new one.
    if (setsid() < 0) Fail(plan.report);
    const int tty = open(plan.terminalPath, O_RDWR);
    if (tty < 0 || ioctl(tty, TIOCSCTTY, 0) != 0) Fail(plan.report);
    if ((plan.terminalSize.ws_col != 0 || plan.terminalSize.ws_row != 0) &&
        ioctl(tty, TIOCSWINSZ, &plan.terminalSize) != 0)
      Fail(plan.report);
    if (!MoveTo(tty, 0) || !MoveTo(tty, 1) || !MoveTo(tty, 2)) Fail(plan.report);
  } else {
    if (plan.ownGroup && setpgid(0, 0) != 0) Fail(plan.report);
    const int input = plan.input >= 0 ? plan.input : open(plan.inputPath, O_RDONLY);
    if (input < 0 || !MoveTo(input, 0) || !MoveTo(plan.output, 1)) Fail(plan.report);
    if (plan.errors >= 0 || plan.errorPath != nullptr) {
      const int errors = plan.errors >= 0 ? plan.errors : open(plan.errorPath, plan.errorFlags, 0600);
      if (errors < 0 || !MoveTo(errors, 2)) Fail(plan.report);
    }
  }
  if (plan.maxFileBytes > 0) {
    const rlimit limit{static_cast<rlim_t>(plan.maxFileBytes), static_cast<rlim_t>(plan.maxFileBytes)};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) Fail(plan.report);
    signal(SIGXFSZ, SIG_IGN);
  }
  execv(plan.program, plan.argv);
  Fail(plan.report);
}

int StatusOf(int raw) {
  if (WIFEXITED(raw)) return WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) return 128 + WTERMSIG(raw);
  return -1;
}

// A new pseudo-terminal: its controlling end (close-on-exec) and the path of
// the other end.
int OpenTerminal(std::string& otherEnd) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    const int err = errno;
    CloseFd(master);
    throw ProcessError(std::string("cannot open a pseudo-terminal: ") + std::strerror(err));
  }
  otherEnd = name;
  return master;
}

// Runs the child as planned; returns its id once it has started the program
// (the report pipe closes at exec; before that the child writes why it
// failed). Throws ProcessError with the reason otherwise.
pid_t Launch(const std::string& program, ChildPlan plan) {
  PipeEnds report;
  try {
    report = MakePipe();
  } catch (const FileError& e) {
    throw ProcessError("cannot start " + program + ": " + e.what());
  }
  plan.report = report.Write;
  const pid_t pid = fork();
  if (pid == 0) RunChild(plan);
  const int forkErr = errno;
  CloseFd(report.Write);
  int childErr = 0;
  ssize_t got = -1;
  if (pid > 0) {
    do {
      got = read(report.Read, &childErr, sizeof childErr);
    } while (got < 0 && errno == EINTR);
  }
  CloseFd(report.Read);
  if (pid > 0 && got <= 0) return pid;
  if (pid > 0) {
    int raw = 0;
    while (waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
    }
  }
  throw ProcessError("cannot start " + program + ": " + std::strerror(pid < 0 ? forkErr : childErr));
}

}  // namespace

Process::Process(const std::string& program, const Options& options) : onTerminal_(options.OnTerminal) {
  IgnoreBrokenPipes();
  std::vector<std::string> args{program};
  args.insert(args.end(), options.Args.begin(), options.Args.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ChildPlan plan;
  plan.program = program.c_str();
  plan.argv = argv.data();
  plan.ownGroup = options.OwnGroup;
  plan.maxFileBytes = options.MaxFileBytes;
  std::string terminal;
  PipeEnds in, out, err;
  const auto closeAll = [&] {
    for (int fd : {in.Read, in.Write, out.Read, out.Write, err.Read, err.Write, input_}) CloseFd(fd);
  };
  try {
    if (options.OnTerminal) {
      input_ = OpenTerminal(terminal);
      output_ = input_;
      plan.terminalPath = terminal.c_str();
      plan.terminalSize.ws_col = static_cast<unsigned short>(std::clamp(options.Columns, 0, 0xFFFF));
      plan.terminalSize.ws_row = static_cast<unsigned short>(std::clamp(options.Rows, 0, 0xFFFF));
      pid_ = Launch(program, plan);
      return;
    }
    in = options.NullInput ? PipeEnds{} : MakePipe();
    out = MakePipe();
    errorLines_ = options.Errors == ErrorOutput::Lines;
    err = options.Errors == ErrorOutput::Pipe || errorLines_ ? MakePipe() : PipeEnds{};
    plan.input = in.Read;
    plan.inputPath = "/dev/null";  // when there is no pipe
    plan.output = out.Write;
    plan.errors = err.Write;
    if (options.Errors == ErrorOutput::File || options.Errors == ErrorOutput::Null) {
      const bool toFile = options.Errors == ErrorOutput::File;
      plan.errorPath = toFile ? options.ErrorFile.c_str() : "/dev/null";
      plan.errorFlags = toFile ? O_WRONLY | O_CREAT | O_TRUNC : O_WRONLY;
    }
    pid_ = Launch(program, plan);
  } catch (const ProcessError&) {
    closeAll();
    throw;
  } catch (const FileError& e) {  // no pipe to be had
    closeAll();
    throw ProcessError("cannot start " + program + ": " + e.what());
  }
  // The child has its ends; the caller keeps the others.
  for (int fd : {in.Read, out.Write, err.Write}) CloseFd(fd);
  input_ = in.Write;
  output_ = out.Read;
  errors_ = err.Read;
}

Process::~Process() {
  if (pid_ > 0 && !status_) Kill();
  CloseInput();
  if (output_ >= 0) CloseFd(output_);
  CloseFd(errors_);
}

bool Process::Send(std::string_view bytes) { return input_ >= 0 && WriteAll(input_, bytes); }

void Process::CloseInput() {
  if (onTerminal_ || input_ < 0) return;
  CloseFd(input_);
  input_ = -1;
}

Input Process::ReadLine(std::string& line, int timeoutMs, int alsoWatch) {
  const int64_t deadline = SteadyMs() + timeoutMs;
  while (true) {
    const size_t nl = buffered_.find('\n');
    if (nl != std::string::npos) {
      line.assign(buffered_, 0, nl);
      buffered_.erase(0, nl + 1);
      return Input::Data;
    }
    const int left = timeoutMs < 0 ? -1 : static_cast<int>(std::max<int64_t>(0, deadline - SteadyMs()));
    // The watched descriptor first, so that a flood of output cannot hide it.
    const int ready = WaitReadable({alsoWatch, errorLines_ ? errors_ : -1, output_}, left);
    if (ready == 1 && TakeInErrors()) return Input::TimedOut;
    if (ready != 2) return Input::TimedOut;
    const Input got = os::ReadSome(output_, buffered_, 0);
    if (got == Input::End) return Input::End;
  }
}

Input Process::ReadSome(std::string& out, int timeoutMs) {
  if (!buffered_.empty()) {
    out += buffered_;
    buffered_.clear();
    return Input::Data;
  }
  if (!errorLines_) return os::ReadSome(output_, out, timeoutMs);
  const int ready = WaitReadable({errors_, output_}, timeoutMs);
  if (ready == 0 && TakeInErrors()) return Input::TimedOut;
  return ready == 1 ? os::ReadSome(output_, out, 0) : Input::TimedOut;
}

bool Process::TakeInErrors() {
  if (errors_ < 0) return false;
  if (os::ReadSome(errors_, errorsBuffered_, 0) == Input::End) {
    // The child closed its standard error (or ended): nothing more comes.
    CloseFd(errors_);
    errors_ = -1;
  }
  return true;
}

std::vector<std::string> Process::ErrorLines(bool unfinished) {
  std::vector<std::string> lines;
  if (!errorLines_) return lines;
  while (errors_ >= 0 && WaitReadable({errors_}, 0) == 0) TakeInErrors();
  size_t from = 0;
  for (size_t nl; (nl = errorsBuffered_.find('\n', from)) != std::string::npos; from = nl + 1)
    lines.push_back(errorsBuffered_.substr(from, nl - from));
  errorsBuffered_.erase(0, from);
  if (unfinished && !errorsBuffered_.empty()) {
    lines.push_back(std::move(errorsBuffered_));
    errorsBuffered_.clear();
  }
  return lines;
}

void Process::ResizeTerminal(int columns, int rows) {
  if (!onTerminal_ || input_ < 0) return;
  winsize size{};
  size.ws_col = static_cast<unsigned short>(std::clamp(columns, 0, 0xFFFF));
  size.ws_row = static_cast<unsigned short>(std::clamp(rows, 0, 0xFFFF));
  if (ioctl(input_, TIOCSWINSZ, &size) != 0)
    throw ProcessError(std::string("cannot resize the child's terminal: ") + std::strerror(errno));
}

std::string Process::ReadErrorOutput() {
  std::string all;
  while (errors_ >= 0 && !errorLines_ && os::ReadSome(errors_, all, 0) == Input::Data) {
  }
  return all;
}

std::optional<TerminalMode> Process::ChildTerminalMode() const {
  if (!onTerminal_) return std::nullopt;
  return ModeOfTerminal(input_);
}

void Process::Signal(int signo) {
  if (pid_ > 0 && !status_) kill(pid_, signo);
}

void Process::SignalGroup(int signo) {
  if (pid_ > 0 && !status_) kill(-pid_, signo);
}

std::optional<int> Process::Wait(int timeoutMs) {
  if (status_ || pid_ <= 0) return status_;
  const int64_t deadline = SteadyMs() + timeoutMs;
  // A child that is about to end (the usual case) is seen within a
  // millisecond or two; a longer wait looks every 10 ms.
  int pause = 1;
  while (true) {
    int raw = 0;
    const pid_t r = waitpid(pid_, &raw, timeoutMs < 0 ? 0 : WNOHANG);
    if (r == pid_) {
      status_ = StatusOf(raw);
      return status_;
    }
    if (r < 0 && errno != EINTR) throw ProcessError(std::string("cannot wait for a child: ") + std::strerror(errno));
    if (timeoutMs >= 0) {
      if (SteadyMs() >= deadline) return std::nullopt;
      SleepMs(pause);
      pause = std::min(10, pause * 2);
    }
  }
}

int Process::Kill() {
  if (status_ || pid_ <= 0) return status_.value_or(-1);
  kill(pid_, SIGKILL);
  return *Wait(-1);
}

std::string ProgramFolder() {
  char exe[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) throw ErrnoError("cannot read", "/proc/self/exe", errno);
  const std::string path(exe, static_cast<size_t>(n));
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

}  // namespace os
