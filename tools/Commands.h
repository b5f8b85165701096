#pragma once
// The commands of playctl. Each prints what happens to `out`, problems to
// stderr, and returns the process's exit status: 0 done, 1 the playback
// failed (also when the WAV output lost sound), 2 the input was refused (a
// file that cannot be played, a bad option value), 3 played, but an input
// file was damaged (each such file named in a warning, with what decoded
// and why the rest could not; what decoded played), 128 + the signal's
// number when stopped by SIGTERM, SIGINT or SIGHUP (passed on to the server,
// whose outputs are finalised before playctl ends).

#include <ostream>
#include <cstdint>
#include <string>
#include <vector>

namespace playctl {

inline constexpr int kStatusDamaged = 3;

struct PlayOptions {
  std::vector<std::string> Pieces;  // files, FILE@FROM-TO ranges, silence:SECONDS
  std::vector<int32_t> Channels;    // 1-based channels taken from files of more than two
  bool Reverse = false;
  double FromSeconds = -1;  // below 0: from the start (or the end in reverse)
  double Tempo = 1.0;
  bool Loop = false;
  double Seconds = 10;  // how long a loop plays
  std::string Engine;
  std::string Output;
  bool Simulate = false;
  std::string Script;  // transport steps by time ("wait 1.0; u; ...")
  bool Keys = true;    // on a terminal, steer the run by keys
  bool KeepOpen = false;  // on a terminal, stay when the wave has played to its end
  bool Progress = false;  // without a terminal, a position or status line every quarter second
  int32_t LatencyMs = -1;  // playsrv --latency-ms; below 0: the server's default
};

int RunPlay(const PlayOptions& options, std::ostream& out);

// "A" or "A,B", channel numbers from 1; false when the text is not that.
bool ParseChannels(const std::string& text, std::vector<int32_t>& channels);

struct DemoOptions {
  std::string Output;
  bool Simulate = false;
};

int RunDemo(const DemoOptions& options, std::ostream& out);

// Lists the outputs playsrv offers: the simulated ones, and `device` and
// `device:NAME` for each sound card `playsrv --list-devices` names.
int RunDevices(std::ostream& out);

// Every wav:PATH of an output (or of a comma-separated list of outputs)
// with PATH made absolute (the server's folder may differ from ours); the
// other outputs unchanged.
std::string AbsoluteOutput(const std::string& output);

}  // namespace playctl
