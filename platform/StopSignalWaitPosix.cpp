#include "platform/StopSignalWait.h"

#include <csignal>
#include <initializer_list>
#include <pthread.h>

namespace velt
{

namespace
{

sigset_t StopSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

} // namespace

void BlockStopSignals()
{
    const sigset_t set = StopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int WaitForStopSignal()
{
    const sigset_t set = StopSet();
    int signal = 0;
    while (sigwait(&set, &signal) != 0)
    {
    }
    return signal;
}

int PendingStopSignal()
{
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) != 0)
        return 0;
    for (const int signal : {SIGINT, SIGTERM})
        if (sigismember(&pending, signal) == 1)
            return signal;
    return 0;
}

} // namespace velt
