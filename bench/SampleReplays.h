#pragma once

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <vector>

namespace velt::bench
{

// The sample replays named by VELT_REPLAYS_DIR, sorted by name; nothing (after a line on
// stderr) when the variable does not name a folder.
inline std::optional<std::vector<std::filesystem::path>> SampleReplayPaths()
{
    const char* dir = std::getenv("VELT_REPLAYS_DIR");
    if (dir == nullptr || !std::filesystem::is_directory(dir))
    {
        std::fprintf(stderr, "Set VELT_REPLAYS_DIR to the folder of sample replays.\n");
        return std::nullopt;
    }
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        if (entry.path().extension() == ".w3g")
            paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    return paths;
}

} // namespace velt::bench
