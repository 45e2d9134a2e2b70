#include "platform/OpenFilesLimit.h"

#include <sys/resource.h>

namespace velt
{

std::size_t RaiseOpenFilesLimit(std::size_t wanted)
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    const auto want = static_cast<rlim_t>(wanted);
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < want)
    {
        rlimit raised = limit;
        raised.rlim_cur = want;
        if (raised.rlim_max != RLIM_INFINITY && raised.rlim_max < want)
            raised.rlim_max = want; // only a privileged process may
        if (setrlimit(RLIMIT_NOFILE, &raised) != 0 && limit.rlim_max != limit.rlim_cur)
        {
            raised = limit;
            raised.rlim_cur = limit.rlim_max;
            setrlimit(RLIMIT_NOFILE, &raised);
        }
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur == RLIM_INFINITY ? wanted : static_cast<std::size_t>(limit.rlim_cur);
}

} // namespace velt
