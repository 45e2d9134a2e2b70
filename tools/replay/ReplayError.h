#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "tools/replay/ReplayFile.h"

namespace velt
{

// Where a replay went wrong: in the file itself, or in the data that its blocks inflate to.
enum class ReplayErrorArea
{
    kFile,
    kData,
};

struct ReplayError
{
    std::string m_file;
    ReplayErrorArea m_area = ReplayErrorArea::kFile;
    std::size_t m_offset = 0;
    std::string m_message;

    // "<file>: <message> (file offset N)" or "... (offset N of the decompressed data)".
    std::string Text() const;
};

struct ReplayReadResult
{
    std::optional<ReplayFile> m_replay;
    ReplayError m_error; // meaningful when m_replay is empty
};

} // namespace velt
