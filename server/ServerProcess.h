#pragma once
// The server process around one PlayDllClass object: builds the clock, the
// loop, the audio output and the object, reads JSON-RPC lines from `inFd`,
// writes answers and notifications to `outFd`, and ends when the object has
// been destroyed (Release or end of input) and 300 ms have passed on the
// loop's clock.
//
// Real clock: the loop runs on its own; every input line is a dispatch of the
// loop, between timer ticks and device events. Simulated clock: lines are
// handled as they arrive and time moves only through AdvanceTime; tasks that
// fall due "now" run after each line. After Release under the simulated clock
// the process moves time on by itself so that the end falls due.
//
// Every request read before the end is answered, also after Release (the
// members then answer -32000, "the object has been released"); under the real
// clock input is read on during the 300 ms, under the simulated clock the
// lines already read with the Release are answered.

#include "server/ServerOptions.h"

namespace server {

// Returns the exit status: 0 after an orderly end, 128 + the signal's number
// after a termination signal (options.SignalFd; the run stops and every output
// is finalised as the object goes), 2 when the server could not be set up
// (unusable output, say; the reason is logged).
int RunServer(const ServerOptions& options, int inFd, int outFd);

}  // namespace server
