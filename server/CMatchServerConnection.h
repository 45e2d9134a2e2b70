#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "platform/Event.h"

namespace velt
{

class CTcpSocket;

// Where the connection hands the messages that carry content, on the receive thread. The
// generation is the connection's number, for answers that count per connection.
class IServerMessages
{
public:
    virtual ~IServerMessages() = default;

    virtual void OnGameData(std::span<const std::uint8_t> payload, std::uint64_t generation) = 0;
    virtual void OnMatchRecord(std::span<const std::uint8_t> payload) = 0;
    virtual void OnReplayHeader(std::span<const std::uint8_t> payload) = 0;
    virtual void OnMatchStats(std::span<const std::uint8_t> payload) = 0;
};

// Whether the current connection is up; the newest connection's number and the data answers
// it brought, up or not; one moment's.
struct LinkState
{
    bool m_connected = false;
    std::uint64_t m_generation = 0;
    std::uint64_t m_answers = 0;
};

// One client's connection to the match server: the socket, the receive thread that cuts frames
// and dispatches them by their code, the events of the list exchange, and what the link's
// supervision reads of it (the generation, the answers, the loss, the oldest unanswered
// request). Each Connect makes a new generation; frames still buffered from a replaced one are
// dropped.
class CMatchServerConnection
{
public:
    explicit CMatchServerConnection(IServerMessages& messages);
    ~CMatchServerConnection();
    CMatchServerConnection(const CMatchServerConnection&) = delete;
    CMatchServerConnection& operator=(const CMatchServerConnection&) = delete;

    // Connects to a dotted-decimal IPv4 address and starts the receive thread; closes the
    // previous connection first. True when the connection and its thread are up.
    bool Connect(const std::string& dottedIp, std::uint16_t port, std::uint32_t timeoutMs,
                 const std::function<bool()>& cancelled);
    // Shuts every connection down and joins the receive threads; nothing is dispatched after.
    void Close();
    bool IsConnected() const;

    // Sends on the current socket; clears the flag of that connection when the send fails.
    bool Send(std::span<const std::uint8_t> frame);
    // Sends on the current socket; the send result unchanged (-1 without a socket).
    int SendRaw(const std::uint8_t* data, std::size_t size);
    // Shuts the current connection down, as a server that closed it would.
    void Drop();

    // Set when the server ends a match list / refuses the channel. Auto-reset.
    CEvent& ListEndEvent() { return m_listEndEvent; }
    CEvent& ChannelInvalidEvent() { return m_channelInvalidEvent; }

    LinkState State() const;
    // The address of the last successful Connect.
    std::pair<std::string, std::uint16_t> LastAddress() const;
    // Counts a game-data answer on the connection of that generation; true for its first.
    bool CountAnswer(std::uint64_t generation);
    // Whether the server or the network ended the connection since it was last told; clears it.
    bool TakeLoss();
    // A loss nobody misses is never told.
    void ForgetLoss();
    // When the oldest data request still unanswered went out (0: none).
    void NoteRequestSent(std::uint64_t nowMs);
    void NoteAnswer();
    std::uint64_t RequestPendingSince() const;

    // Handles one frame's code byte and payload as the receive thread does.
    void DispatchFrame(std::span<const std::uint8_t> body);
    // Frames dispatched so far on every connection, and receive threads not yet ended.
    std::uint64_t FramesDispatched() const;
    std::size_t ReceiveThreadsRunning() const;

private:
    struct Connection;
    using Handler = void (CMatchServerConnection::*)(std::span<const std::uint8_t> payload,
                                                     std::uint64_t generation);
    struct DispatchRow
    {
        std::uint8_t m_first;
        std::uint8_t m_last;
        Handler m_handler;
    };
    static const DispatchRow kDispatchTable[];

    void ReceiveLoop(std::shared_ptr<CTcpSocket> socket, std::uint64_t generation);
    void Dispatch(std::span<const std::uint8_t> body, std::uint64_t generation);

    void OnGameData(std::span<const std::uint8_t> payload, std::uint64_t generation);
    void OnMatchRecord(std::span<const std::uint8_t> payload, std::uint64_t generation);
    void OnReplayHeader(std::span<const std::uint8_t> payload, std::uint64_t generation);
    void OnMatchStats(std::span<const std::uint8_t> payload, std::uint64_t generation);
    void OnIgnored(std::span<const std::uint8_t> payload, std::uint64_t generation);
    void OnChannelInvalid(std::span<const std::uint8_t> payload, std::uint64_t generation);
    void OnListEnd(std::span<const std::uint8_t> payload, std::uint64_t generation);

    // The current connection's socket and generation, or no socket.
    std::pair<std::shared_ptr<CTcpSocket>, std::uint64_t> CurrentSocket() const;
    // Clears the connected flag if the connection of that generation is still the current one;
    // lost: the server or the network ended it.
    void ClearConnected(std::uint64_t generation, bool lost = false);
    void ReapEndedConnections();

    IServerMessages& m_messages;

    CEvent m_listEndEvent{CEvent::Kind::kAutoReset};
    CEvent m_channelInvalidEvent{CEvent::Kind::kAutoReset};
    // Set by Connect (the front end's or the keeper's thread), cleared by a failed send (any
    // sender) and by the ending receive thread; read by all of them.
    std::atomic<bool> m_connected{false};

    // Connect runs one at a time (the front end's and the keeper's thread); m_connectionMutex
    // guards the current connection and the generation against the senders (front end, keeper,
    // the hosts' session threads, the receive thread chaining requests) and the ending receive
    // threads.
    mutable std::mutex m_connectMutex;
    mutable std::mutex m_connectionMutex;
    std::unique_ptr<Connection> m_current;
    std::atomic<std::uint64_t> m_generation{0};
    // Replaced connections whose receive threads may still run; joined once ended.
    std::vector<std::unique_ptr<Connection>> m_retired;

    // Set when the server or the network ended the current connection, until told: set by the
    // receive thread or a failed sender, taken by the keeper's thread.
    std::atomic<bool> m_connectionLost{false};
    // Counted by the receive threads; read by whoever waits for the receive side.
    std::atomic<std::uint64_t> m_framesDispatched{0};

    // The address of the last successful Connect (under m_connectionMutex), for reconnecting.
    std::string m_serverIp;
    std::uint16_t m_serverPort = 0;
    // Set by the senders of data requests, cleared by the receive thread's answer, read by the
    // keeper's thread.
    std::atomic<std::uint64_t> m_requestPendingSince{0};
};

} // namespace velt
