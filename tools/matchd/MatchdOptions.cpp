#include "tools/matchd/MatchdOptions.h"

#include <charconv>
#include <limits>

#include "platform/Socket.h"
#include "tools/matchd/CStatsStore.h"

namespace velt
{

namespace
{

template <class T> bool ParseNumber(const std::string& text, T& out)
{
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, out);
    return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

bool ParseListen(const std::string& text, MatchServerSettings& server)
{
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    std::uint16_t port = 0;
    if (!ParseNumber(text.substr(colon + 1), port))
        return false;
    const auto host = ResolveHostIPv4(text.substr(0, colon));
    if (!host)
        return false;
    server.m_listenHost = *host;
    server.m_listenPort = port;
    return true;
}

bool ParseBounded(const std::string& text, std::uint32_t low, std::uint32_t high,
                  std::uint32_t& out)
{
    return ParseNumber(text, out) && out >= low && out <= high;
}

// The connection options; false when name is none of them.
bool ParseConnectionOption(const std::string& name, const std::string& value,
                           MatchServerSettings& server, bool& ok)
{
    std::uint32_t number = 0;
    if (name == "--threads")
    {
        ok = ParseBounded(value, 1, kMaxServerThreads, number);
        server.m_threads = number;
    }
    else if (name == "--max-clients")
    {
        ok = ParseBounded(value, 1, kMaxMaxClients, number);
        server.m_maxClients = number;
    }
    else if (name == "--frame-timeout")
    {
        ok = ParseBounded(value, 1, kMaxTimeoutSeconds, number);
        server.m_limits.m_partialFrameTimeout = std::chrono::seconds(number);
    }
    else if (name == "--idle-timeout")
    {
        ok = ParseBounded(value, 1, kMaxTimeoutSeconds, number);
        server.m_limits.m_idleTimeout = std::chrono::seconds(number);
    }
    else if (name == "--max-queued")
    {
        ok = ParseBounded(value, kMinQueuedKiB, 4 * 1024 * 1024, number);
        server.m_limits.m_maxQueuedBytes = static_cast<std::size_t>(number) * 1024;
    }
    else
        return false;
    return true;
}

} // namespace

std::optional<MatchdOptions> ParseMatchdOptions(const std::vector<std::string>& args,
                                                std::string& error)
{
    MatchdOptions options;
    bool channelGiven = false;
    for (std::size_t i = 0; i < args.size(); ++i)
    {
        const std::string& name = args[i];
        if (name == "--help" || name == "-h")
        {
            options.m_help = true;
            continue;
        }
        if (name == "--state" && !CStatsStore::kKeepsFiles)
        {
            error = std::string("--state: ") + CStatsStore::kMemoryOnlyMessage;
            return std::nullopt;
        }
        if (i + 1 >= args.size())
        {
            error = name.rfind("--", 0) == 0 ? name + " needs a value" : "unknown argument " + name;
            return std::nullopt;
        }
        const std::string& value = args[++i];
        bool ok = true;
        if (name == "--listen")
            ok = ParseListen(value, options.m_server);
        else if (name == "--channel")
        {
            std::uint32_t channel = 0;
            ok = ParseNumber(value, channel);
            if (ok && !channelGiven)
                options.m_server.m_channels.clear();
            channelGiven = true;
            options.m_server.m_channels.push_back(channel);
        }
        else if (name == "--synthetic")
            ok = ParseNumber(value, options.m_synthetic.m_count) &&
                 options.m_synthetic.m_count <= kMaxSyntheticMatches;
        else if (name == "--live")
            ok = ParseNumber(value, options.m_synthetic.m_liveCount);
        else if (name == "--state")
            ok = !value.empty();
        else if (name == "--replays")
        {
            ok = !value.empty();
            options.m_replaysDir = value;
        }
        else if (name == "--replays-live")
        {
            ok = !value.empty();
            options.m_replaysLiveDir = value;
        }
        else if (name == "--seed")
            ok = ParseNumber(value, options.m_synthetic.m_seed);
        else if (name == "--length")
        {
            std::uint32_t seconds = 0;
            ok = ParseBounded(value, 10, kMaxSyntheticSeconds, seconds);
            options.m_synthetic.m_minSeconds = seconds;
            options.m_synthetic.m_maxSeconds = seconds;
        }
        else if (!ParseConnectionOption(name, value, options.m_server, ok))
        {
            error = "unknown argument " + name;
            return std::nullopt;
        }
        if (name == "--state")
            options.m_statePath = value;
        if (!ok)
        {
            error = "bad value for " + name + ": " + value;
            return std::nullopt;
        }
    }
    if (options.m_synthetic.m_liveCount > options.m_synthetic.m_count)
    {
        error = "--live must not exceed --synthetic";
        return std::nullopt;
    }
    return options;
}

} // namespace velt
