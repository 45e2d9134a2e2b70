#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/matchd/CMatchServer.h"
#include "tools/matchd/SyntheticMatchGenerator.h"

namespace velt
{

// What the command line of velt-matchd asks for.
struct MatchdOptions
{
    MatchServerSettings m_server;
    SyntheticSettings m_synthetic;
    std::string m_statePath;      // empty: statistics in memory only
    std::string m_replaysDir;     // recorded games served as completed matches
    std::string m_replaysLiveDir; // recorded games served as live matches
    bool m_help = false;
};

// Bounds of the connection options.
constexpr std::uint32_t kMaxServerThreads = 256;
constexpr std::uint32_t kMaxMaxClients = 1000000;
constexpr std::uint32_t kMaxTimeoutSeconds = 7 * 24 * 3600;
constexpr std::uint32_t kMinQueuedKiB = 16; // a few chunks in flight

// Each generated match keeps its whole stream in memory; this bounds what --synthetic asks.
constexpr std::uint32_t kMaxSyntheticMatches = 1000;

constexpr const char* kMatchdUsage =
    "usage: velt-matchd [--listen HOST:PORT] [--channel N]... [--synthetic N] [--live N]\n"
    "                   [--replays DIR] [--replays-live DIR] [--state FILE] [--seed S]\n"
    "                   [--length S]\n"
    "                   [--threads N] [--max-clients N] [--frame-timeout S]\n"
    "                   [--idle-timeout S] [--max-queued KIB]\n"
    "  --listen HOST:PORT  address to listen on (default 127.0.0.1:999; port 0 picks one)\n"
    "  --channel N         a channel to serve; may be repeated (default: channel 1)\n"
    "  --synthetic N       generate N matches (default 0, at most 1000)\n"
    "  --live N            the first N of them are live\n"
    "  --replays DIR       serve every recorded game (*.w3g) in DIR as a completed match\n"
    "  --replays-live DIR  serve every recorded game in DIR as a live match\n"
    "  --state FILE        keep visits and ratings in this SQLite file\n"
    "  --seed S            seed of the generated matches (default 1)\n"
    "  --length S          every generated match lasts S seconds of game time (10 to 7200;\n"
    "                      default: 180 to 3600, drawn per match)\n"
    "  --threads N         threads serving the connections (default: one per core)\n"
    "  --max-clients N     connections served at once; more are closed (default 10000)\n"
    "  --frame-timeout S   seconds a client may take to finish a request (default 30)\n"
    "  --idle-timeout S    seconds a client may send nothing (default 600)\n"
    "  --max-queued KIB    unread answers that drop a client asking more (default 1024)\n";

// Reads the arguments after the program name. Nothing, with the reason in error, when an
// argument is unknown, lacks its value, or has a value out of range.
std::optional<MatchdOptions> ParseMatchdOptions(const std::vector<std::string>& args,
                                                std::string& error);

} // namespace velt
