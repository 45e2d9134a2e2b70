#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Event.h"
#include "platform/Thread.h"
#include "platform/UserNotice.h"
#include "server/CLinkSupervisor.h"

namespace velt
{

class CHostTable;
class CLocalGameHost;
class CMatchServerConnection;

// The lines the viewer sees in the game while the server is away.
inline constexpr const char* kServerLostLine =
    "[VELT] Lost the connection to the server, reconnecting...";
inline constexpr const char* kServerBackLine = "[VELT] The server is back, the match goes on.";
inline constexpr const char* kServerGoneLine =
    "[VELT] The server did not come back, the session ends.";

// Keeps a client's server link while its hosts' sessions run: a thread that looks at the
// connection and the hosts, asks CLinkSupervisor what to do, and does it (tells the viewer and
// the sessions, reconnects, asks again for data, sends the ratings that waited, ends the
// sessions). Only sessions that still download count: a game whose data is all held hears
// nothing of the server, and the server is reconnected to without a word when a rating or a
// data request needs it. A connection made by anyone is taken as the keeper's own.
class CLinkKeeper
{
public:
    // Sends a rating on the current connection; false when the send failed.
    using RatingSender = std::function<bool(std::uint32_t matchId, std::uint8_t rating)>;

    CLinkKeeper(CMatchServerConnection& connection, CHostTable& hosts, IUserNotice& notices,
                RatingSender sendRating);
    ~CLinkKeeper();
    CLinkKeeper(const CLinkKeeper&) = delete;
    CLinkKeeper& operator=(const CLinkKeeper&) = delete;

    // Starts the thread; once, later calls change nothing.
    void Start(ReconnectPolicy policy);
    // Stops the thread and waits for it.
    void Stop();
    bool Started() const;
    // Whether a session ended because the server did not come back in time.
    bool GivenUp() const;

    // A host asked for data while no connection was up.
    void WantRequest();
    // A rating that could not go out waits for the next connection.
    void KeepRating(std::uint32_t matchId, std::uint8_t rating);
    // The back line to the sessions told of the loss, once: by the keeper, or by the receive
    // thread at the first answer of a new connection.
    void TellServerBack();

private:
    void Loop(ReconnectPolicy policy);
    // What the supervisor looks at, taken at one moment.
    LinkObservation Observe(const ReconnectPolicy& policy, std::uint64_t nowMs) const;
    // Carries out one look's decisions; false when a reconnect was tried.
    bool Act(const LinkActions& actions, bool connected, bool needed);
    void TellLost();
    void Revive();
    void GiveUp();
    // Ratings that could not go out for want of a connection, sent once one is up.
    void SendWaitingRatings();

    CMatchServerConnection& m_connection;
    CHostTable& m_hosts;
    IUserNotice& m_notices;
    const RatingSender m_sendRating;

    // Set by the front end's thread that starts the keeper; read by the hosts' session threads.
    std::atomic<bool> m_started{false};
    // Written by the keeper's thread; read by the front end and the hosts' session threads.
    std::atomic<bool> m_givenUp{false};
    // The sessions told of the current loss, to be told of the return: the keeper's thread
    // tells the loss, the receive thread the return.
    std::mutex m_toldLostMutex;
    std::vector<std::weak_ptr<CLocalGameHost>> m_toldLost;
    // A host asked for data while no connection was up and no session downloads: set by a
    // host's session thread, taken by the keeper's thread.
    std::atomic<bool> m_requestWanted{false};
    struct WaitingRating
    {
        std::uint32_t m_matchId = 0;
        std::uint8_t m_rating = 0;
    };
    // At most one per match (a match is rated once); bounded all the same.
    static constexpr std::size_t kMaxWaitingRatings = 64;
    // A host's session thread keeps a rating; the keeper's thread sends it.
    mutable std::mutex m_ratingsMutex;
    std::vector<WaitingRating> m_waitingRatings;
    CEvent m_stop{CEvent::Kind::kManualReset};
    CThread m_thread;
};

} // namespace velt
