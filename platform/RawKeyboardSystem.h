#pragma once

// The operating system's side of CRawKeyboard (RawKeyboardPosix.cpp, RawKeyboardWindows.cpp).

namespace velt
{

// Keeps the terminal's modes; false when standard input is no terminal.
bool SaveTerminalModes();
// Keys one at a time, unechoed; Ctrl+C stays a stop request.
bool EnterRawModes();
// Puts the modes kept back, once; safe in a signal handler.
void RestoreTerminalModes();

} // namespace velt
