#include "platform/StopSignalWait.h"

#include <windows.h>

#include <csignal>

namespace velt
{

namespace
{

// Manual-reset: once asked to stop, the server stays asked.
HANDLE StopEvent()
{
    static const HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

// Runs on a thread of the system's own; the main thread ends the server.
BOOL WINAPI OnConsoleControl(DWORD type)
{
    switch (type)
    {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        ::SetEvent(StopEvent());
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void BlockStopSignals()
{
    StopEvent();
    ::SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

int WaitForStopSignal()
{
    ::WaitForSingleObject(StopEvent(), INFINITE);
    return SIGINT;
}

int PendingStopSignal()
{
    return ::WaitForSingleObject(StopEvent(), 0) == WAIT_OBJECT_0 ? SIGINT : 0;
}

} // namespace velt
