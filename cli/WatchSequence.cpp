#include "cli/WatchSequence.h"

#include "cli/StatusLineText.h"
#include "host/CLocalGameHost.h"
#include "platform/CCheckedGameStarter.h"
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
// A second Left within this long confirms the first jump back.
constexpr std::uint64_t kBackConfirmMs = 5000;
// Closer than this, two presses of a key are one key held down (the repeats begin after about
// half a second, then come many times a second).
constexpr std::uint64_t kKeyHeldGapMs = 1000;

} // namespace

WatchOutcome WatchSequence::Run(std::uint32_t matchId)
{
    const unsigned noticesBefore = m_notices.Count();
    Say(kProgressMap);
    Say(kProgressGameData);
    const bool resumed = m_client.HasHost(matchId);
    if (resumed)
        m_client.ResumeHost(matchId);
    else
        m_client.RequestReplayHeader(matchId);
    Say(kProgressBuffering);

    if (const WatchOutcome waited = WaitForHeader(matchId, noticesBefore);
        waited != WatchOutcome::kSessionEnded)
        return waited;
    // The listener's failure is told before the host appears: a host that does not hold its
    // port gets no join line.
    if (m_notices.Count() != noticesBefore)
    {
        Say("The game port 127.0.0.1:" + std::to_string(m_client.HostPort(matchId).value_or(0)) +
            " cannot be opened: another program holds it, or this user may not use it; choose "
            "another with --port-base.");
        return WatchOutcome::kFailed;
    }
    // Only once the match is hosted: a refused header or a port that cannot be opened ends the
    // watch without it.
    Say(kProgressGameStart);
    if (m_launch)
    {
        // A game that cannot start is said in one line naming the folder; the host stays up,
        // so the viewer can start the game by hand.
        CCheckedGameStarter starter(*m_starter, m_notices, m_game.m_folder);
        LaunchWarcraft(m_game, *m_window, starter, m_notices);
    }
    const auto port = m_client.HostPort(matchId).value_or(0);
    Say("Start Warcraft III, open Local Area Network and join the game hosted on 127.0.0.1:" +
        std::to_string(port) + "; type /start in its lobby.");
    if (m_keys != nullptr && m_keys->IsOpen())
        Say(std::string("Keys: ") + kSteeringKeys + ", q leave.");
    m_backConfirmed = false;
    m_backAskedAtMs = 0;
    m_lastBackKeyMs = 0;
    while (!m_client.WaitSessionEnded(matchId, kPollMs))
    {
        if (HandleKeys(matchId))
        {
            if (m_statusLine != nullptr)
                m_statusLine->Clear();
            LeaveOnInterrupt(matchId);
            return WatchOutcome::kLeft;
        }
        if (Interrupted())
        {
            if (m_statusLine != nullptr)
                m_statusLine->Clear();
            LeaveOnInterrupt(matchId);
            return WatchOutcome::kInterrupted;
        }
        ShowStatus(matchId);
    }
    if (m_statusLine != nullptr)
        m_statusLine->Clear();
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
        {
            if (const auto problem = m_client.HeaderProblem(matchId))
                Say("The replay header of match " + std::to_string(matchId) +
                    " cannot be hosted: " + *problem + ".");
            return WatchOutcome::kFailed;
        }
        // A server that closed or reset the connection will not answer.
        if (!m_client.IsConnected())
        {
            m_notices.Notify("Disconnected from server!");
            return WatchOutcome::kFailed;
        }
        if (waited >= m_headerWaitMs)
        {
            Say("No replay header for match " + std::to_string(matchId) +
                " arrived from the server within " + std::to_string(m_headerWaitMs / 1000) + " s.");
            return WatchOutcome::kFailed;
        }
    }
    return WatchOutcome::kSessionEnded;
}

void WatchSequence::Say(const std::string& line)
{
    const auto print = [&]
    {
        std::fprintf(m_out, "%s\n", line.c_str());
        std::fflush(m_out);
    };
    if (m_statusLine != nullptr)
        m_statusLine->PrintAround(print);
    else
        print();
}

void WatchSequence::ShowStatus(std::uint32_t matchId)
{
    if (m_statusLine == nullptr || !m_statusLine->Enabled())
        return;
    m_statusLine->Show(
        [&](std::size_t columns)
        {
            const std::shared_ptr<CLocalGameHost> host = m_client.FindHost(matchId);
            if (!host)
                return std::string();
            StatusLineFacts facts;
            facts.m_gamePort = static_cast<std::uint16_t>(host->Port());
            if (const auto match = m_client.FindMatch(matchId))
                facts.m_matchName = match->m_matchName;
            return StatusLineText(host->Status(), facts, columns);
        });
}

bool WatchSequence::HandleKeys(std::uint32_t matchId)
{
    if (m_keys == nullptr || !m_keys->IsOpen())
        return false;
    for (const TerminalKey& key : m_keys->Take())
    {
        if (key.m_code == TerminalKey::Code::kCharacter &&
            (key.m_character == 'q' || key.m_character == 'Q'))
            return true;
        std::optional<SteerControl> control;
        if (key.m_code == TerminalKey::Code::kLeft)
            control = SteerControl::kBack;
        else if (key.m_code == TerminalKey::Code::kRight)
            control = SteerControl::kForward;
        else if (key.m_code == TerminalKey::Code::kCharacter)
            control = ControlForKey(key.m_character);
        if (control)
            Steer(matchId, *control);
    }
    return false;
}

void WatchSequence::Steer(std::uint32_t matchId, SteerControl control)
{
    const std::shared_ptr<CLocalGameHost> host = m_client.FindHost(matchId);
    if (!host)
        return;
    const SteeringModel model = BuildSteeringModel(host->Status(), host->SessionRan());
    const ControlState& state = model.Control(control);
    if (!state.m_enabled)
    {
        // Told once until something else is refused: a held key does not flood the terminal.
        if (state.m_why != m_lastRefusal)
            Say(state.m_why + ".");
        m_lastRefusal = state.m_why;
        return;
    }
    m_lastRefusal.clear();
    const auto command = SteerCommand(model, control);
    if (!command)
        return;
    if (RestartsTheGame(model, control) && !m_backConfirmed)
    {
        const std::uint64_t now = CSystemClock::Instance().NowMs();
        // A terminal sends a held key as presses: those that follow each other closely neither
        // ask nor confirm, so holding Left never goes back by itself.
        const bool held = m_lastBackKeyMs != 0 && now - m_lastBackKeyMs < kKeyHeldGapMs;
        m_lastBackKeyMs = now;
        if (held)
            return;
        if (m_backAskedAtMs == 0 || now - m_backAskedAtMs > kBackConfirmMs)
        {
            m_backAskedAtMs = now;
            Say("Going back restarts the game: it leaves and joins again (" + *command +
                "). Press Left again to go.");
            return;
        }
        m_backConfirmed = true;
    }
    host->Steer(*command);
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
