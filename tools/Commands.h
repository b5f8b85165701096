#pragma once
// The commands of playctl. Each prints what happens to `out`, problems to
// stderr, and returns the process's exit status: 0 done, 1 the playback
// failed (also when the WAV output lost sound), 2 the input was refused (a
// file that cannot be played, a bad option value), 128 + the signal's number
// when stopped by SIGTERM, SIGINT or SIGHUP (passed on to the server, whose
// outputs are finalised before playctl ends).

#include <ostream>
#include <string>

namespace playctl {

struct PlayOptions {
  std::string File;
  bool Reverse = false;
  double FromSeconds = -1;  // below 0: from the start (or the end in reverse)
  double Tempo = 1.0;
  bool Loop = false;
  double Seconds = 10;  // how long a loop plays
  std::string Engine;
  std::string Output;
  bool Simulate = false;
};

int RunPlay(const PlayOptions& options, std::ostream& out);

struct DemoOptions {
  std::string Output;
  bool Simulate = false;
};

int RunDemo(const DemoOptions& options, std::ostream& out);

// A wav:PATH output with PATH made absolute (the server's folder may
// differ from ours); other specs unchanged.
std::string AbsoluteOutput(const std::string& output);

}  // namespace playctl
