#include "platform/StopSignal.h"

#include <atomic>
#include <csignal>

namespace velt
{

namespace
{

// Lock-free, so the handler may write it.
std::atomic<int> g_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void OnStopSignal(int signalNumber) { g_stopSignal.store(signalNumber); }

} // namespace

void InstallStopHandlers()
{
    g_stopSignal.store(0);
    struct sigaction action{};
    action.sa_handler = &OnStopSignal;
    sigemptyset(&action.sa_mask);
    // One request is recorded; the next one finds the default action and ends the process.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int StopSignalNumber() { return g_stopSignal.load(); }

int StopExitStatus(int signalNumber) { return 128 + signalNumber; }

} // namespace velt
