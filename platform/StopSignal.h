#pragma once

namespace velt
{

// The user's request to stop a command (Ctrl+C, or a termination request from the system),
// recorded instead of ending the process at once, so that the command can close its sessions
// and end with the status that tells which request it was. A second request ends the process.
//
// Installing clears a request recorded before.
void InstallStopHandlers();
// The signal number of the recorded request, or 0.
int StopSignalNumber();
// What a process that stops on that request exits with: 128 plus the number (130 for an
// interrupt, 143 for a termination request).
int StopExitStatus(int signalNumber);
// A function the first stop request runs at once (async-signal-safe: it puts the terminal's
// modes back), so that a second request, which ends the process, leaves the terminal as it
// was. nullptr: none.
void SetStopRestore(void (*restore)());

} // namespace velt
