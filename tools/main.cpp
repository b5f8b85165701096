// playctl: the command-line host of playsrv. Plays a WAV file through the
// server (read in place, as an editor would hand it over) or runs the demo.

#include <CLI/CLI.hpp>
#include <iostream>

#include "PlayVersion.h"
#include "tools/Commands.h"

namespace {

int CtlMain(int argc, char** argv) {
  CLI::App app{"playctl - plays sound files and edit lists through playsrv; on a terminal, keys steer the run",
               "playctl"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "playctl " PLAY_VERSION);

  playctl::PlayOptions play;
  CLI::App* playCmd = app.add_subcommand(
      "play", "play sound files (any format libsndfile reads) or an edit list of pieces as one wave");
  playCmd->footer(
      "Examples:\n"
      "  playctl play take.flac\n"
      "  playctl play take1.flac@1.5-3.0 silence:0.25 take2.wav@0-2 --reverse\n"
      "  playctl play take.wav --simulate --output wav:out.wav --script \"wait 1.0; u; wait 0.5; space\"\n"
      "Keys on a terminal (and --script names):\n"
      "  space (space) pause/continue    u (u) U-turn    left/right (left, right) 5 s back/forward\n"
      "  Home/End (home, end) from the start / reverse from the end\n"
      "  [ ] ([, ]) selection from / to the playhead    x (x) no selection\n"
      "  l (l) loop the selection, or the whole wave when none; again: loop off\n"
      "  g (g TIME) go to a time typed as SECONDS or M:SS.mmm, then Enter\n"
      "  , . (',', '.') 100 ms back / on while paused\n"
      "  +/- (+, -) tempo of the present direction by 0.1, from the next start    s (s) stop    q (q) quit\n"
      "The screen ends when the wave has played to its end, unless --keep-open or a loop.\n"
      "Exit status: 0 played, 1 the playback failed, 2 the input or an option was refused,\n"
      "  3 played, but an input file was damaged (a warning names it; what decoded played),\n"
      "  128 + N stopped by signal N (SIGTERM, SIGINT, SIGHUP).");
  playCmd->add_option("PIECE", play.Pieces, "FILE, FILE@FROM-TO (seconds), FILE@FROM- or silence:SECONDS")
      ->required();
  std::string channels;
  playCmd->add_option("--channels", channels, "one or two channels to take from files of more than two, e.g. 1,2");
  playCmd->add_flag("--reverse", play.Reverse, "play backwards");
  playCmd->add_option("--from", play.FromSeconds, "start at this many seconds into the wave")
      ->check(CLI::NonNegativeNumber);
  playCmd->add_option("--tempo", play.Tempo, "tempo factor (DirectSound engines; speed and pitch together)")
      ->check(CLI::PositiveNumber);
  playCmd->add_flag("--loop", play.Loop, "loop until --seconds have passed");
  playCmd->add_option("--seconds", play.Seconds, "how long a loop plays (at most 1000000)")
      ->check(CLI::PositiveNumber & CLI::Range(0.0, 1e6));
  playCmd->add_option("--engine", play.Engine, "offer only this engine")
      ->check(CLI::IsMember({"dx9", "dx7", "waveout"}));
  playCmd->add_option("--output", play.Output,
                      "playsrv output: virtual, null, wav:PATH, device[:BACKEND[:NAME]] or a comma list (see playctl devices)");
  playCmd->add_flag("--simulate", play.Simulate, "run the server on a virtual clock (no waiting)");
  playCmd->add_option("--script", play.Script,
                      "steer the run by time: \"wait 1.0; u; wait 0.5; space; ...\" (keys: space u left right "
                      "home end [ ] x l g TIME , . + - s q)");
  bool noKeys = false;
  playCmd->add_flag("--no-keys", noKeys, "do not read keys, even on a terminal (the run ends with the wave)");
  playCmd->add_flag("--keep-open", play.KeepOpen, "on a terminal, keep the screen when the wave has played to its end");
  playCmd->add_flag("--progress", play.Progress,
                    "without a terminal, print the position (or the status) every quarter second");
  playCmd->add_option("--latency-ms", play.LatencyMs, "what the sound card output keeps queued (playsrv --latency-ms)")
      ->check(CLI::Range(0, 2000));

  playctl::DemoOptions demo;
  CLI::App* devicesCmd = app.add_subcommand("devices", "list the outputs playsrv can play to (for --output)");

  CLI::App* demoCmd =
      app.add_subcommand("demo", "play a synthesised tune: forward, a U-turn after one second, back to the start");
  demoCmd->add_option("--output", demo.Output,
                      "playsrv output: virtual, null, wav:PATH, device[:BACKEND[:NAME]] or a comma list (see playctl devices)");
  demoCmd->add_flag("--simulate", demo.Simulate, "run the server on a virtual clock (no waiting)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version end well; a refused command line is status 2.
    return app.exit(e) == 0 ? 0 : 2;
  }
  if (playCmd->parsed()) {
    play.Keys = !noKeys;
    if (!channels.empty() && !playctl::ParseChannels(channels, play.Channels)) {
      std::cerr << "playctl: --channels takes one or two channel numbers from 1, e.g. 1,2\n";
      return 2;
    }
    return playctl::RunPlay(play, std::cout);
  }
  if (devicesCmd->parsed()) return playctl::RunDevices(std::cout);
  return playctl::RunDemo(demo, std::cout);
}

}  // namespace

int main(int argc, char** argv) { return CtlMain(argc, argv); }
