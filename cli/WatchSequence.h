#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "platform/GameLauncher.h"
#include "cli/CliNotice.h"

namespace velt
{

class CMatchServerClient;

enum class WatchOutcome
{
    kSessionEnded,  // the game joined and its session has ended
    kNoHeader,      // the server sent no usable header in time, or the user was told why
    kInterrupted,   // the user stopped the command
};

// How long the command line waits for a match's replay header.
inline constexpr std::uint32_t kHeaderWaitMs = 30000;

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
    const std::atomic<bool>* m_interrupted = nullptr;
    std::uint32_t m_headerWaitMs = kHeaderWaitMs;
    // Where the progress texts and the join instruction go.
    std::FILE* m_out = stderr;
};

} // namespace velt
