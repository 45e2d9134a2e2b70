#include "platform/StopSignal.h"

#include <atomic>
#include <csignal>

namespace velt
{

namespace
{

// Lock-free, so the handler may write it; the signal handler (or, on Windows, the console's
// control thread) writes it, the waiting thread reads it.
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<void (*)()> g_restore{nullptr};
static_assert(std::atomic<void (*)()>::is_always_lock_free);

void OnStopSignal(int signalNumber)
{
    g_stopSignal.store(signalNumber);
    if (void (*restore)() = g_restore.load())
        restore();
    // One request is recorded; the next one finds the default action and ends the process.
    std::signal(signalNumber, SIG_DFL);
}

} // namespace

void InstallStopHandlers()
{
    g_stopSignal.store(0);
    std::signal(SIGINT, &OnStopSignal);
    std::signal(SIGTERM, &OnStopSignal);
}

int StopSignalNumber() { return g_stopSignal.load(); }

int StopExitStatus(int signalNumber) { return 128 + signalNumber; }

void SetStopRestore(void (*restore)()) { g_restore.store(restore); }

} // namespace velt
