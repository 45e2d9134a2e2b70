#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Clock.h"

namespace velt
{

// What a stand-in server with made-up matches serves.
struct SyntheticServerSettings
{
    std::uint64_t m_seed = 7;
    std::uint32_t m_count = 6;
    std::uint32_t m_liveCount = 1; // the first matches are live
    // Visits and ratings for most matches, so that every kind of list cell shows.
    bool m_seedStatistics = false;
};

// The one way the front ends (velt, veltplayer) start a stand-in match server: made-up matches
// for the demos, or one recorded game from disk (velt play, a file the desktop client opens),
// served on a free port of 127.0.0.1 until Stop or the end of the object. The stand-in server's
// own library stays behind this header, so a front end cannot grow into it.
class CStandInServer
{
public:
    // The match id of a served file.
    static constexpr std::uint32_t kReplayFileMatchId = 1;

    // Makes the matches up at once (seconds on a slow machine); nothing listens before Start.
    static std::unique_ptr<CStandInServer> Synthetic(const SyntheticServerSettings& settings);
    // Start reads and converts the file (UTF-8 path), as velt-matchd --replays does.
    static std::unique_ptr<CStandInServer> ReplayFile(std::string path);

    // Stops serving.
    ~CStandInServer();
    CStandInServer(const CStandInServer&) = delete;
    CStandInServer& operator=(const CStandInServer&) = delete;

    // Listens; made-up live matches are played on the clock. False, with Problem(), when the
    // file cannot be served or the server cannot listen.
    bool Start(IClock& clock = CSystemClock::Instance());
    void Stop();

    std::uint16_t Port() const;
    std::string ListenAddress() const;
    const std::string& Problem() const { return m_problem; }
    // The first made-up match (the live one when there is one): its id and its game time.
    std::uint32_t FirstMatchId() const;
    std::uint32_t FirstMatchDurationMs() const;

private:
    struct Parts;
    explicit CStandInServer(std::unique_ptr<Parts> parts);

    std::unique_ptr<Parts> m_parts;
    std::string m_problem;
};

} // namespace velt
