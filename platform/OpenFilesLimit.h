#pragma once

#include <cstddef>

namespace velt
{

// Raises the process's open-files limit to at least wanted where the system lets it (the hard
// limit too, for a privileged process), and returns the limit that holds afterwards.
std::size_t RaiseOpenFilesLimit(std::size_t wanted);

} // namespace velt
