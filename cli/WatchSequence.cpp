#include "cli/WatchSequence.h"

#include "host/CLocalGameHost.h"
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

// How often the waits look at the interrupt and at the connection.
constexpr std::uint32_t kPollMs = 100;

} // namespace

WatchOutcome WatchSequence::Run(std::uint32_t matchId)
{
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

    if (const WatchOutcome waited = WaitForHeader(matchId, noticesBefore);
        waited != WatchOutcome::kSessionEnded)
        return waited;
    // The listener's failure is told before the host appears: a host that does not hold its
    // port gets no join line.
    if (m_notices.Count() != noticesBefore)
    {
        std::fprintf(m_out,
                     "The game port 127.0.0.1:%u cannot be opened: another program holds it, or "
                     "this user may not use it; choose another with --port-base.\n",
                     static_cast<unsigned>(m_client.HostPort(matchId).value_or(0)));
        return WatchOutcome::kFailed;
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
        if (Interrupted())
        {
            LeaveOnInterrupt(matchId);
            return WatchOutcome::kInterrupted;
        }
    }
    return WatchOutcome::kSessionEnded;
}

WatchOutcome WatchSequence::WaitForHeader(std::uint32_t matchId, unsigned noticesBefore)
{
    for (std::uint32_t waited = 0; !m_client.WaitForHost(matchId, kPollMs); waited += kPollMs)
    {
        if (Interrupted())
            return WatchOutcome::kInterrupted;
        // A header the client refused, or a lost connection, has been told already.
        if (m_notices.Count() != noticesBefore)
            return WatchOutcome::kFailed;
        // A server that closed or reset the connection will not answer.
        if (!m_client.IsConnected())
        {
            m_notices.Notify("Disconnected from server!");
            return WatchOutcome::kFailed;
        }
        if (waited >= m_headerWaitMs)
        {
            std::fprintf(m_out, "No replay header for match %u arrived from the server within %u s.\n",
                         matchId, m_headerWaitMs / 1000);
            return WatchOutcome::kFailed;
        }
    }
    return WatchOutcome::kSessionEnded;
}

void WatchSequence::LeaveOnInterrupt(std::uint32_t matchId)
{
    const std::shared_ptr<CLocalGameHost> host = m_client.FindHost(matchId);
    if (!host || !host->SessionActive())
        return;
    host->SendLeaveAck();
    host->WaitSessionEnded(kInterruptCloseMs);
}

} // namespace velt
