#include "tools/matchd/ReplayFolder.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <system_error>

#include "tools/matchd/ReplayConversion.h"
#include "tools/matchd/SyntheticMatchGenerator.h"
#include "tools/replay/ReplayReader.h"

namespace velt
{

namespace
{

bool IsReplayFile(const std::filesystem::directory_entry& entry)
{
    std::error_code error;
    if (!entry.is_regular_file(error))
        return false;
    std::string extension = entry.path().extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".w3g";
}

} // namespace

std::string FormatFileTime(std::filesystem::file_time_type time)
{
    using namespace std::chrono;
    const auto utc = time_point_cast<seconds>(file_clock::to_sys(time));
    const auto day = floor<days>(utc);
    const year_month_day date(day);
    const hh_mm_ss clock(utc - day);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02u %02d:%02d:%02d", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()),
                  static_cast<int>(clock.seconds().count()));
    return text;
}

std::optional<SyntheticMatch> ServeRecording(const ReplayFile& replay,
                                             const std::filesystem::path& path,
                                             const std::string& name, std::uint32_t matchId,
                                             bool live, std::string& problem)
{
    ReplayMatchFacts facts;
    facts.m_matchId = matchId;
    facts.m_live = live;
    std::error_code timeError;
    const auto modified = std::filesystem::last_write_time(path, timeError);
    if (!timeError)
        facts.m_startTime = FormatFileTime(modified);
    ReplayConversion conversion = ConvertReplay(replay, facts);
    if (!conversion.m_match)
        problem = name + ": cannot be served: " + conversion.m_error;
    return std::move(conversion.m_match);
}

ReplayFolderLoad LoadReplayFolder(const std::filesystem::path& folder, std::uint32_t firstMatchId,
                                  bool live, const std::function<bool()>& stopRequested)
{
    ReplayFolderLoad load;
    std::vector<std::filesystem::path> paths;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error))
        if (IsReplayFile(*it))
            paths.push_back(it->path());
    if (error)
    {
        load.m_listed = false;
        load.m_problems.push_back(folder.string() + ": cannot list the folder: " + error.message());
        return load;
    }
    std::sort(paths.begin(), paths.end());
    std::uint32_t nextId = firstMatchId;
    for (const auto& path : paths)
    {
        if (stopRequested && stopRequested())
            break;
        const auto read = ReadReplay(path);
        if (!read.m_replay)
        {
            load.m_problems.push_back(read.m_error.Text());
            continue;
        }
        std::string problem;
        auto match =
            ServeRecording(*read.m_replay, path, path.filename().string(), nextId, live, problem);
        if (!match)
        {
            load.m_problems.push_back(std::move(problem));
            continue;
        }
        load.m_matches.push_back(std::move(*match));
        ++nextId;
    }
    return load;
}

ReplayFolderLoad CollectServedMatches(const MatchdOptions& options,
                                      const std::function<bool()>& stopRequested)
{
    ReplayFolderLoad all;
    // One match at a time, so that a stop request does not wait for thousands of them.
    all.m_matches.reserve(options.m_synthetic.m_count);
    for (std::uint32_t i = 0; i < options.m_synthetic.m_count; ++i)
    {
        if (stopRequested && stopRequested())
            return all;
        all.m_matches.push_back(GenerateSyntheticMatch(options.m_synthetic, i));
    }
    const std::pair<const std::string*, bool> folders[] = {{&options.m_replaysDir, false},
                                                           {&options.m_replaysLiveDir, true}};
    for (const auto& [folder, live] : folders)
    {
        if (folder->empty())
            continue;
        const auto nextId =
            static_cast<std::uint32_t>(kFirstSyntheticMatchId + all.m_matches.size());
        ReplayFolderLoad load = LoadReplayFolder(*folder, nextId, live, stopRequested);
        all.m_listed = all.m_listed && load.m_listed;
        std::move(load.m_matches.begin(), load.m_matches.end(), std::back_inserter(all.m_matches));
        std::move(load.m_problems.begin(), load.m_problems.end(),
                  std::back_inserter(all.m_problems));
    }
    return all;
}

} // namespace velt
