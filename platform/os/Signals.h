#pragma once
// The signals that end a program politely (SIGTERM, SIGINT, SIGHUP), taken
// out of asynchronous delivery and read from a descriptor instead, so that
// the program's loop can end its run, finalise its outputs and exit with
// 128 + the signal's number.

namespace os {

// Blocks the three signals for the calling thread and every thread it starts
// afterwards (call before any thread is started) and returns a non-blocking
// descriptor that is readable once one of them is pending. Throws PlayError
// with the system's reason when it cannot; the signals then keep their
// default action.
int TakeTerminationSignals();

// The number of the pending signal read from `fd`, or 0 when none is pending.
int ReadTerminationSignal(int fd);

}  // namespace os
