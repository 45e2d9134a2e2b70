#pragma once

#include <cstddef>

namespace velt
{

// Descriptors that the server holds besides its clients' sockets: the listener, the event
// loop's own, the statistics file with its log, the standard streams.
constexpr std::size_t kReservedDescriptors = 64;

// Raises the process's open-files limit to at least wanted where the system lets it (the hard
// limit too, for a privileged process), and returns the limit that holds afterwards.
std::size_t RaiseOpenFilesLimit(std::size_t wanted);

} // namespace velt
