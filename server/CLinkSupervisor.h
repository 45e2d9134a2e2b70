#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>

namespace velt
{

// How a client keeps the server connection of a running session: a server that closes, resets
// or goes silent is reconnected to, with a growing pause between tries, until a limit.
struct ReconnectPolicy
{
    std::uint32_t m_limitMs = 120000;       // not back by then: the sessions end
    std::uint32_t m_firstRetryMs = 1000;    // the pause before the first try, doubled after each
    std::uint32_t m_longestRetryMs = 30000; // the longest pause between two tries
    std::uint32_t m_silenceMs = 30000;      // a data request unanswered this long: dropped
    std::uint32_t m_tickMs = 100;           // how often the connection is looked at

    // A silent server is a loss from its first unanswered request, so silence must be noticed
    // well within the limit: by half of it at the latest, leaving the rest for reconnecting.
    std::uint32_t SilenceMs() const { return std::min(m_silenceMs, m_limitMs / 2); }
};

// What the link supervisor sees of the client at one look.
struct LinkObservation
{
    std::uint64_t m_nowMs = 0;
    bool m_connected = false;
    // The newest connection's number (each Connect, whoever calls it, makes a new one), up or
    // not: one may come and go between two looks.
    std::uint64_t m_generation = 0;
    // Game-data answers that the newest connection has brought: data flowing.
    std::uint64_t m_answers = 0;
    // A running session still downloads its match: it needs the server.
    bool m_needed = false;
    // Something else asks for the server (a rating typed, a data request) though no session
    // downloads: a reconnect without a word to the viewer.
    bool m_wanted = false;
    // A session's data request has gone unanswered for the policy's silence.
    bool m_silent = false;
    // Since when the oldest data request has gone unanswered (0: none): a silent server's loss
    // counts from then.
    std::uint64_t m_unansweredSinceMs = 0;
};

// What the supervisor's thread is to do after a look.
struct LinkActions
{
    // "Disconnected from server!" and the lost line to the sessions that download.
    bool m_tellLost = false;
    // Data flows again on a new connection: the back line.
    bool m_tellBack = false;
    // Not back within the limit: the gone line, and the downloading sessions end.
    bool m_giveUp = false;
    // A connection the supervisor has not seen yet: whatever was outstanding on the old one is
    // lost, so sessions ask again from their buffers' end and waiting ratings go out.
    bool m_askAgain = false;
    // The new connection revives sessions that were told the server had gone: they go on.
    bool m_revive = false;
    // A silent server: the connection is dropped and counts as lost.
    bool m_drop = false;
    // Try to connect now, for at most this long.
    std::optional<std::uint32_t> m_reconnectWithinMs;
};

// The link supervisor's decisions, apart from its thread, its clock and the sockets: fed one
// observation per look, it answers what to do. A loss counts from when it is noticed until data
// flows again on a new connection; a connection that brings no answer (a server that accepts and
// says nothing, hangs up at once, is full, or sends what cannot be read) does not restart the
// count. A loss while no session downloads is no event: nothing is told and nothing ends; when a
// session needs the server later, one reconnect is tried before the viewer hears of it.
class CLinkSupervisor
{
public:
    // The longest single connect attempt.
    static constexpr std::uint32_t kConnectWaitMs = 6000;

    CLinkSupervisor(const ReconnectPolicy& policy, std::uint64_t seenGeneration)
        : m_policy(policy), m_seenGeneration(seenGeneration)
    {
    }

    LinkActions Look(const LinkObservation& seen);
    // A reconnect was tried (whatever came of it): the pause before the next one grows.
    void Tried(std::uint64_t nowMs);

    // A loss has been told and data has not flowed since.
    bool Lost() const { return m_phase == Phase::kLost; }

private:
    enum class Phase
    {
        kUp,    // connected, or nothing needs the server
        kLost,  // a downloading session's server is gone: told, counting, reconnecting
        kQuiet, // gone while no session downloads: reconnected to only when wanted
    };

    LinkActions LookConnected(const LinkObservation& seen);
    LinkActions LookDisconnected(const LinkObservation& seen);
    // A loss begins (at sinceMs), told at once or after a first quiet try.
    void EnterLoss(std::uint64_t sinceMs, bool told);
    LinkActions GiveUp(Phase next);

    const ReconnectPolicy m_policy;
    Phase m_phase = Phase::kUp;
    std::uint64_t m_seenGeneration = 0;
    std::uint64_t m_lostSinceMs = 0;
    // The connection was dropped for silence: the loss that follows began with the first
    // unanswered request.
    std::optional<std::uint64_t> m_silentSinceMs;
    // The newest connection while the loss went on; a newer one that answered ended it.
    std::uint64_t m_lostGeneration = 0;
    std::uint64_t m_nextTryMs = 0;
    std::uint32_t m_retryMs = 0;
    // The sessions were told the server had gone, and no connection has come since.
    bool m_gaveUp = false;
    // The current loss has been told; a reconnect has been tried in it.
    bool m_told = false;
    bool m_tried = false;
};

} // namespace velt
