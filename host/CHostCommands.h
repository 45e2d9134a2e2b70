#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "host/CGameConnection.h"
#include "host/CStreamBuffer.h"
#include "host/HostResult.h"
#include "host/HostStatus.h"
#include "host/IHostOwner.h"
#include "host/IPlayControl.h"
#include "host/ReplayHeader.h"
#include "host/packets/GamePacket.h"

namespace velt
{

// What the commands need from the session beyond play: answering the viewer, ending the
// session, and what the host keeps across sessions.
class ICommandSession
{
public:
    virtual ~ICommandSession() = default;

    virtual void SendLobbyChat(std::string_view text) = 0;
    virtual void SendGameChat(std::string_view text) = 0;
    // F7 1B 04 00, then the session ends.
    virtual void SendLeaveAck() = 0;
    // Sends the viewer's rating unless this match has been rated before; false when it has.
    virtual bool RateOnce(std::uint8_t rating) = 0;
    // Watching again from an earlier game time, in a session of its own.
    virtual void RequestReplayFrom(std::uint64_t targetMs) = 0;
    virtual HostStatus Status() const = 0;
};

// What the host does with the packets it reads from the game: leaves, keepalives and the
// viewer's chat commands. One table of commands, one lookup, one short handler per row. Whoever
// reads the game hands each packet here once; a command acts on play through IPlayControl.
class CHostCommands
{
public:
    // What a handler tells the reader: read on, or stop with a result.
    using Exit = PacketOutcome;

    CHostCommands(ICommandSession& session, IPlayControl& play, CStreamBuffer& stream,
                  const ReplayHeader& header, IHostOwner& owner)
        : m_session(session), m_play(play), m_stream(stream), m_header(header), m_owner(owner)
    {
    }
    CHostCommands(const CHostCommands&) = delete;
    CHostCommands& operator=(const CHostCommands&) = delete;

    // Handles one packet read from the game: a keepalive or a leave stops the reader, and so
    // does a command that says so (a start word in the lobby, a jump that has taken the
    // keepalive); anything else reads on.
    Exit Handle(const GameRead& read);

    enum class Match
    {
        kWhole,  // the whole command, without regard to case
        kPrefix, // the command's first characters, as many as the word has
    };

    struct Context
    {
        bool m_lobby = true;        // the command came as lobby chat
        std::string_view m_command; // the text after the "/"
        std::uint8_t m_arg = 0;     // the row's argument (digit, level, switch)
    };

    using Handler = Exit (CHostCommands::*)(const Context&);
    struct Row
    {
        std::string_view m_word;
        Match m_match;
        Handler m_handler;
        std::uint8_t m_arg;
    };

    // The row a command matches (the last row matches anything).
    static const Row& Lookup(std::string_view command);

private:
    Exit Command(ChatKind kind, std::string_view text);
    void Reply(const Context& context, std::string_view text);
    static Exit Follow() { return {}; }
    static Exit Return(HostResult result) { return {false, result}; }
    Exit LobbyReturnsElseFollow(const Context& context);

    Exit SwitchStatus(const Context& context);
    Exit SwitchSet(const Context& context);
    Exit Start(const Context& context);
    Exit ForceStart(const Context& context);
    Exit RateUsage(const Context& context);
    Exit Rate(const Context& context);
    Exit CommandList(const Context& context);
    Exit Help(const Context& context);
    Exit Goto(const Context& context);
    Exit SyncUp(const Context& context);
    Exit SyncDown(const Context& context);
    Exit Time(const Context& context);
    Exit Bet(const Context& context);
    Exit Faster(const Context& context);
    Exit Slower(const Context& context);
    Exit Speed(const Context& context);
    Exit SpeedShow(const Context& context);
    Exit Bad(const Context& context);
    Exit Pause(const Context& context);
    Exit Resume(const Context& context);
    Exit BackUsage(const Context& context);
    Exit Back(const Context& context);
    Exit DelayShow(const Context& context);
    Exit DelaySet(const Context& context);
    Exit Status(const Context& context);
    Exit PausedRefusal(const Context& context);

    Exit InGameOnly(const Context& context);
    // Fast-forwards to the game time, after the pending keepalive.
    Exit FastForward(std::uint64_t targetMs);
    // Sets the level, then replies with the text, or with the current speed when it is empty.
    Exit ChangeSpeed(const Context& context, std::uint8_t level, std::string_view reply);
    void CurrentSpeed(const Context& context);

    static const Row kTable[];

    ICommandSession& m_session;
    IPlayControl& m_play;
    CStreamBuffer& m_stream;
    const ReplayHeader& m_header;
    IHostOwner& m_owner;
};

} // namespace velt
