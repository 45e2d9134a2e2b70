#include "cli/WatchSequence.h"

#include "server/CMatchServerClient.h"

namespace velt
{

namespace
{

// The progress dialog's steps, in their order.
constexpr const char* kProgressMap = "Downloading map...";
constexpr const char* kProgressGameData = "Downloading Game Data...";
constexpr const char* kProgressBuffering = "Buffering...Please Wait..";
constexpr const char* kProgressGameStart = "Game Start now,please enjoy...";

// How often the waits look at the interrupt flag.
constexpr std::uint32_t kPollMs = 200;

} // namespace

WatchOutcome WatchSequence::Run(std::uint32_t matchId)
{
    const auto interrupted = [this] { return m_interrupted != nullptr && m_interrupted->load(); };
    const unsigned noticesBefore = m_notices.Count();
    std::fprintf(m_out, "%s\n", kProgressMap);
    std::fprintf(m_out, "%s\n", kProgressGameData);
    const bool resumed = m_client.HasHost(matchId);
    if (resumed)
        m_client.ResumeHost(matchId);
    else
        m_client.RequestReplayHeader(matchId);
    std::fprintf(m_out, "%s\n", kProgressBuffering);
    std::fprintf(m_out, "%s\n", kProgressGameStart);
    std::fflush(m_out);

    for (std::uint32_t waited = 0; !m_client.WaitForHost(matchId, kPollMs); waited += kPollMs)
    {
        if (interrupted())
            return WatchOutcome::kInterrupted;
        // A header the client refused, or a lost connection, has been told already.
        if (m_notices.Count() != noticesBefore)
            return WatchOutcome::kNoHeader;
        if (waited >= m_headerWaitMs)
        {
            std::fprintf(m_out, "No replay header for match %u arrived from the server within %u s.\n",
                         matchId, m_headerWaitMs / 1000);
            return WatchOutcome::kNoHeader;
        }
    }
    if (m_launch)
        LaunchWarcraft(m_game, *m_window, *m_starter, m_notices);
    const auto port = m_client.HostPort(matchId).value_or(0);
    std::fprintf(m_out,
                 "Start Warcraft III, open Local Area Network and join the game hosted on "
                 "127.0.0.1:%u; type /start in its lobby.\n",
                 static_cast<unsigned>(port));
    std::fflush(m_out);
    while (!m_client.WaitSessionEnded(matchId, kPollMs))
    {
        if (interrupted())
            return WatchOutcome::kInterrupted;
    }
    return WatchOutcome::kSessionEnded;
}

} // namespace velt
