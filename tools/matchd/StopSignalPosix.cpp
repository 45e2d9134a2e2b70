#include "tools/matchd/StopSignal.h"

#include <csignal>
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

void WaitForStopSignal()
{
    const sigset_t set = StopSet();
    int signal = 0;
    while (sigwait(&set, &signal) != 0)
    {
    }
}

} // namespace velt
