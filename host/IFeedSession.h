#pragma once

#include <string_view>

#include "host/CGameConnection.h"
#include "host/HostResult.h"

namespace velt
{

// What the feed needs from the session that runs it: telling the viewer, handing on what the
// game sends, and ending the session.
class IFeedSession
{
public:
    virtual ~IFeedSession() = default;

    virtual void SendGameChat(std::string_view text) = 0;
    // The lines that the server's answers and link owe the viewer; with quietEmpty, empty
    // answers are not told.
    virtual void TellServerNews(bool quietEmpty) = 0;
    // Whether the owner has told the session that the server's link is lost and not back yet.
    virtual bool ServerLinkLost() const = 0;
    // A packet the feed read from the game during play: the viewer's commands, keepalives,
    // leaves. Handled once; the feed does the reading.
    virtual PacketOutcome HandleGamePacket(const GameRead& read) = 0;
    // Reads one packet whose content does not matter, except that a leave is acknowledged.
    // With keepViewerLines, a viewer's line read instead is set aside and the read repeated.
    virtual HostResult DiscardNextPacket(bool keepViewerLines) = 0;
    // F7 1B 04 00, then the session ends.
    virtual void SendLeaveAck() = 0;
    // A failed send or read: wakes everything on the connection and ends the session.
    virtual HostResult LoseConnection() = 0;
    virtual void SignalStop() = 0;
    // The game has started: a speed change feeds at once rather than at the first step.
    virtual bool InGame() const = 0;
};

} // namespace velt
