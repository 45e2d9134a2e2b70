#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "cli/CStatusLine.h"
#include "cli/CliNotice.h"
#include "steering/SteeringModel.h"
#include "platform/GameLauncher.h"
#include "platform/RawKeyboard.h"

namespace velt
{

class CMatchServerClient;

enum class WatchOutcome
{
    kSessionEnded, // the game joined and its session has ended
    kFailed,       // no usable header, no game port, a lost server: the user has been told
    kInterrupted,  // the user stopped the command
    kLeft,         // the viewer pressed q: the session was ended as on Ctrl+C
};

// How long the command line waits for a match's replay header (and for the connection).
inline constexpr std::uint32_t kHeaderWaitMs = 30000;
// After an interrupt, how long a session that has been sent the leave acknowledgement may take
// to close.
inline constexpr std::uint32_t kInterruptCloseMs = 3000;

// The Watch! sequence without the dialog: the four progress texts on stderr, a header request
// or the resumed host, then (optionally) the game launched, then the wait for the session's end.
struct WatchSequence
{
    WatchSequence(CMatchServerClient& client, CCliNotice& notices)
        : m_client(client), m_notices(notices)
    {
    }

    WatchOutcome Run(std::uint32_t matchId);

    CMatchServerClient& m_client;
    CCliNotice& m_notices;
    bool m_launch = false;
    WarcraftLaunch m_game;
    IGameWindow* m_window = &SystemGameWindow();
    IProcessStarter* m_starter = &SystemProcessStarter();
    // True once the user has asked the command to stop.
    std::function<bool()> m_interrupted;
    std::uint32_t m_headerWaitMs = kHeaderWaitMs;
    // Where the progress texts and the join instruction go.
    std::FILE* m_out = stderr;
    // Redrawn while the session runs, and printed around; none: no status line.
    CStatusLine* m_statusLine = nullptr;
    // The viewer's keys while the session runs, when standard input is a terminal; none: no
    // keys.
    CRawKeyboard* m_keys = nullptr;

private:
    // One line on m_out, around the status line.
    void Say(const std::string& line);
    // Redraws the status line from the host's snapshot, when one is due.
    void ShowStatus(std::uint32_t matchId);
    bool Interrupted() const { return m_interrupted && m_interrupted(); }
    WatchOutcome WaitForHeader(std::uint32_t matchId, unsigned noticesBefore);
    // Ends a session the user interrupted as the game expects: the leave acknowledgement, then
    // a short wait for the connection to close.
    void LeaveOnInterrupt(std::uint32_t matchId);
    // Steers the session with the keys pressed since the last look; true when the viewer
    // pressed q.
    bool HandleKeys(std::uint32_t matchId);
    void Steer(std::uint32_t matchId, SteerControl control);

    // A jump back restarts the game: the first one of a run is asked for twice.
    bool m_backConfirmed = false;
    std::uint64_t m_backAskedAtMs = 0;
    std::uint64_t m_lastBackKeyMs = 0; // the latest Left, to tell a held key from two presses
    std::string m_lastRefusal;
};

} // namespace velt
