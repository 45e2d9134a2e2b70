#pragma once

namespace velt
{

// The process's stop request (Ctrl+C, a termination request from the system).
// BlockStopSignals must run before any thread starts, so that every thread leaves the request
// to WaitForStopSignal.
void BlockStopSignals();
void WaitForStopSignal();

} // namespace velt
