// playsrv: the playback server. Started by a host as a child process, it
// creates one PlayDllClass object and serves it over JSON-RPC 2.0 on standard
// input and output, one message per line. Diagnostics go to standard error
// (never blocking the server) or to the file given with --log-file.

#include <CLI/CLI.hpp>
#include <iostream>
#include <stdexcept>
#include <string>

#include "PlayVersion.h"
#include "platform/audio/AudioBackend.h"
#include "platform/os/Errors.h"
#include "platform/os/Log.h"
#include "platform/os/Signals.h"
#include "platform/os/Stdio.h"
#include "server/Reference.h"
#include "server/ServerOptions.h"
#include "server/ServerProcess.h"
#include "server/TypeLibrary.h"

namespace {

// The termination signals, read by the server's loop; -1, with the reason
// logged, when the system refuses them (they then end the server at once).
int TakeSignals() {
  try {
    return os::TakeTerminationSignals();
  } catch (const os::PlayError& e) {
    os::LogWarning(std::string(e.what()) + "; a signal ends the server without finalising its outputs");
    return -1;
  }
}

// One line per sound output: its name (what device: takes after it), a tab,
// its description; every sound system that answers.
int ListDevices() {
  try {
    for (const auto& d : audio::ListAudioDevices()) std::cout << d.name << '\t' << d.description << '\n';
    return 0;
  } catch (const std::exception& e) {
    os::LogError(e.what());
    return 1;
  }
}

int ServerMain(int argc, char** argv) {
  CLI::App app{"playsrv - the playback server; speaks JSON-RPC 2.0 on stdin/stdout, one message per line", "playsrv"};
  server::ServerOptions options;
  app.add_option("--output", options.Output,
                 "where the sound goes: virtual, null, wav:PATH, device (the first of jack, pipewire, pulse, alsa that "
                 "opens), device:pipewire[:NODE], device:pulse[:SINK], device:jack[:PORT,PORT], device:alsa[:PCM], or a "
                 "comma list of them "
                 "(default: virtual with --simulate, else the sound device when one opens, else null)");
  app.add_option("--latency-ms", options.LatencyMs,
                 "what the sound card output keeps queued, in milliseconds (0: as little as the sound system "
                 "runs safely with; more is safer on a busy machine)")
      ->check(CLI::Range(0, 2000))
      ->capture_default_str();
  bool listDevices = false;
  app.add_flag("--list-devices", listDevices, "print the sound outputs of every sound system (for --output device:NAME) and exit");
  bool reference = false;
  app.add_flag("--reference", reference,
               "print the methods with their params and results, the block-list format, the notifications and "
               "the error codes (from the interface description Describe answers) and exit");
  app.add_option("--engines", options.Engines, "comma list of the engines the platform offers: dx9,dx7,waveout")
      ->capture_default_str();
  app.add_flag("--simulate", options.Simulate,
               "virtual clock: time moves only through the method AdvanceTime {\"ms\": n}");
  std::string logLevel = "info";
  std::string logFile;
  app.add_option("--log-level", logLevel, "diagnostics shown: error, warning, info or debug")->capture_default_str();
  app.add_option("--log-file", logFile, "append diagnostics to this file instead of standard error");
  app.set_version_flag("--version", "playsrv " PLAY_VERSION);
  try {
    app.parse(argc, argv);
    os::ProcessLog().SetLevel(os::ParseLogLevel(logLevel));
    if (!logFile.empty()) os::ProcessLog().ToFile(logFile);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const std::invalid_argument& e) {
    os::LogError(e.what());
    return 2;
  } catch (const os::FileError& e) {
    os::LogError(e.what());
    return 2;
  }
  if (listDevices) return ListDevices();
  if (reference) {
    std::cout << server::ReferenceText(server::Describe());
    return 0;
  }
  os::IgnoreBrokenPipes();
  options.SignalFd = TakeSignals();
  int out = -1;
  try {
    out = os::TakeProtocolOutput();
  } catch (const os::FileError& e) {
    os::LogError(e.what());
    return 2;
  }
  const int status = server::RunServer(options, os::kStandardInput, out);
  os::CloseFd(out);
  return status;
}

}  // namespace

int main(int argc, char** argv) { return ServerMain(argc, argv); }
