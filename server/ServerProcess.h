#pragma once
// The server process around one playdll handle (embed/playdll.h): creates it
// from the options, reads JSON-RPC lines from `inFd` and handles each in
// turn (a member is carried out on the handle's loop thread and answered
// when done), writes answers and the handle's events as notifications to
// `outFd`, and ends 300 ms after the object has been destroyed (Release or
// end of input).
//
// Real clock: the handle's loop runs on its own; between lines the events
// it raises (a run that ends) are written as they come. Simulated clock:
// time moves only through AdvanceTime. After Release every request read
// before the end is answered (the members then answer -32000, "the object
// has been released"): under the real clock input is read on during the
// 300 ms, under the simulated clock the lines already read with the Release
// are answered and virtual time moves on by the 300 ms.

#include "server/ServerOptions.h"

namespace server {

// Returns the exit status: 0 after an orderly end, 128 + the signal's number
// after a termination signal (options.SignalFd; the run stops and every output
// is finalised as the object goes), 2 when the server could not be set up
// (unusable output, say; the reason is logged).
int RunServer(const ServerOptions& options, int inFd, int outFd);

}  // namespace server
