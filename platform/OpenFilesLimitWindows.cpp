#include "platform/OpenFilesLimit.h"

namespace velt
{

// Windows sets no per-process limit on sockets.
std::size_t RaiseOpenFilesLimit(std::size_t wanted)
{
    return wanted;
}

} // namespace velt
