#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/matchd/MatchdOptions.h"
#include "tools/matchd/SyntheticMatch.h"
#include "tools/replay/ReplayFile.h"

namespace velt
{

struct ReplayFolderLoad
{
    bool m_listed = true; // false: the folder itself cannot be read
    std::vector<SyntheticMatch> m_matches;
    // One line per file that could not be served (the reader's or the converter's reason,
    // naming the file), or one naming the folder when it cannot be listed.
    std::vector<std::string> m_problems;
};

// A recording that the reader has read, as a served match with the given id, its start time the
// file's modification time. Nothing, with "<name>: cannot be served: <why>" in problem, when the
// converter cannot serve it.
std::optional<SyntheticMatch> ServeRecording(const ReplayFile& replay,
                                             const std::filesystem::path& path,
                                             const std::string& name, std::uint32_t matchId,
                                             bool live, std::string& problem);

// Every recorded game (*.w3g, any case) directly in a folder, in file-name order, as matches
// with ids counting up from firstMatchId. A file that cannot be read or served is named in the
// problems and takes no id; the rest are still served. The start time is the file's
// modification time in UTC, "YYYY-MM-DD HH:MM:SS": a replay does not record when it was played.
// stopRequested, looked at before each file, ends the load early with what it has.
ReplayFolderLoad LoadReplayFolder(const std::filesystem::path& folder, std::uint32_t firstMatchId,
                                  bool live, const std::function<bool()>& stopRequested = {});

// What the command line asks to serve, in this order: the generated matches (ids 1 to N), the
// recorded games of --replays, then those of --replays-live, their ids following on.
// stopRequested, looked at before each match is generated or read, ends the collection early
// with what it has.
ReplayFolderLoad CollectServedMatches(const MatchdOptions& options,
                                      const std::function<bool()>& stopRequested = {});

// A file time as "YYYY-MM-DD HH:MM:SS" in UTC.
std::string FormatFileTime(std::filesystem::file_time_type time);

} // namespace velt
