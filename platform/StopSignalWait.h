#pragma once

namespace velt
{

// The process's stop request (Ctrl+C, a termination request from the system), for a server
// whose main thread does nothing but wait for it (StopSignal.h is the commands' way).
// BlockStopSignals must run before any thread starts, so that every thread leaves the request
// to WaitForStopSignal.
void BlockStopSignals();
// Waits for the request; the signal's number.
int WaitForStopSignal();
// The number of a request that has arrived and not been waited for yet, or 0; for long work
// before the wait (the matches' generation) to stop early.
int PendingStopSignal();

} // namespace velt
