#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "platform/Clock.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "server/MessageCode.h"

namespace velt
{

// A match server that does what a test tells it, over real sockets on 127.0.0.1. It accepts any
// number of clients (numbered 0, 1, 2 ... in the order they connect), records every frame they
// send, answers list requests from a script, serves replay headers and game data of the matches
// it is given, and lets the test send any bytes to any client, cut into segments as it likes.
// Handlers per message code replace the built-in answers.
class CScriptedMatchServer
{
public:
    struct ReceivedFrame
    {
        std::size_t m_client = 0;
        std::uint8_t m_code = 0;
        std::vector<std::uint8_t> m_payload;
    };

    // How one buffer goes out: in one send, or in pieces with a pause between them. Each piece
    // is its own send with Nagle's delay off, so that the pieces normally arrive apart.
    struct SendPlan
    {
        enum class Kind
        {
            kWhole,
            kByteByByte,
            kAtCuts,
        };
        Kind m_kind = Kind::kWhole;
        std::vector<std::size_t> m_cuts; // kAtCuts: offsets at which a new piece starts
        std::uint32_t m_pauseMs = 2;

        static SendPlan Whole() { return {}; }
        static SendPlan ByteByByte(std::uint32_t pauseMs = 1)
        {
            return {Kind::kByteByByte, {}, pauseMs};
        }
        static SendPlan AtCuts(std::vector<std::size_t> cuts, std::uint32_t pauseMs = 2)
        {
            return {Kind::kAtCuts, std::move(cuts), pauseMs};
        }
    };

    enum class ListEnding
    {
        kListEnd,        // MSG_LIST_END after the frames
        kChannelInvalid, // the refusal code after the frames
        kSilence,        // nothing after the frames
    };

    // The answer to a list request: built frames (records, statistics, or anything else), then
    // the ending.
    struct ListScript
    {
        std::vector<std::vector<std::uint8_t>> m_frames;
        ListEnding m_ending = ListEnding::kListEnd;
        std::uint8_t m_refusalCode = CodeByte(MessageCode::MSG_CHANNEL_INVALID);
        bool m_coalesce = false; // every frame and the ending in one buffer
        SendPlan m_plan;         // how each buffer is cut
    };

    // A match whose replay header and game data the server serves. A data request at offset o
    // gets up to m_chunkLimit bytes from o when o is below m_available; at or past it, the end
    // marker when the stream has ended, else an empty chunk. Every chunk ends with
    // m_matchSeconds.
    struct ScriptedMatch
    {
        std::uint32_t m_matchId = 0;
        // Sent after the match id in the header answer, as it stands (tests give wrong sizes).
        std::vector<std::uint8_t> m_header;
        // The recorded stream; it may run past the client's stream buffer.
        std::vector<std::uint8_t> m_stream;
        // Stream bytes the server has now; a live match grows as the test releases more.
        std::uint32_t m_available = 0;
        bool m_ended = true;
        std::uint16_t m_matchSeconds = 0;
        // Most data bytes per chunk; below a full chunk, every chunk is short.
        std::uint32_t m_chunkLimit = 2000;
        // The first data request at or beyond this offset gets the first half of its chunk,
        // and then the server closes the connection.
        std::optional<std::uint32_t> m_dropAtOffset;
    };

    // A data request as the server received it.
    struct DataRequest
    {
        std::size_t m_client = 0;
        std::uint32_t m_matchId = 0;
        std::uint32_t m_offset = 0;

        bool operator==(const DataRequest&) const = default;
    };

    // The count of the chunk that marks the end of a stream.
    static constexpr std::uint32_t kEndMarkerCount = 0xFFFFFFFF;

    // Called on the client's reader thread for every frame with the handler's code.
    using FrameHandler = std::function<void(CScriptedMatchServer& server, std::size_t client,
                                            const ReceivedFrame& frame)>;
    // Called on the accepting thread for every client as it connects, before anything is read.
    using AcceptHandler = std::function<void(CScriptedMatchServer& server, std::size_t client)>;

    explicit CScriptedMatchServer(IClock& clock = CSystemClock::Instance());
    ~CScriptedMatchServer();
    CScriptedMatchServer(const CScriptedMatchServer&) = delete;
    CScriptedMatchServer& operator=(const CScriptedMatchServer&) = delete;

    // Listens on 127.0.0.1 at a free port, or at the port given (a server that comes back).
    bool Start(std::uint16_t port = 0);
    std::uint16_t Port() const { return m_listener.Port(); }
    // Closes the listener and every connection and joins all threads.
    void Stop();

    void SetListScript(ListScript script);
    // Replaces the built-in answer to frames of a code (the list script for MSG_MATCH_INFO;
    // nothing for every other code).
    void SetHandler(MessageCode code, FrameHandler handler);
    // What the server does to each client as it connects (hang up, send something unasked).
    void SetAcceptHandler(AcceptHandler handler);

    // Serves the match (a match with the same id is replaced). Handlers set for the header or
    // data codes take precedence.
    void AddMatch(ScriptedMatch match);
    // Makes a live match's stream available up to a byte count, with its length so far.
    void ReleaseStream(std::uint32_t matchId, std::uint32_t available, std::uint16_t matchSeconds);
    // Marks a match's stream as ended: the end marker follows its last byte.
    void EndStream(std::uint32_t matchId);

    // Every data request so far, in the order of arrival.
    std::vector<DataRequest> DataRequests() const;
    // The offsets of one match's data requests, in the order of arrival.
    std::vector<std::uint32_t> DataRequestOffsets(std::uint32_t matchId) const;
    // Waits for a data request of the match at the offset.
    bool WaitForDataRequest(std::uint32_t matchId, std::uint32_t offset, std::uint32_t timeoutMs);

    // The answer to a data request as the server builds it from a match.
    static std::vector<std::uint8_t> ChunkFor(const ScriptedMatch& match, std::uint32_t offset);

    std::size_t ClientCount() const;
    bool WaitForClients(std::size_t count, std::uint32_t timeoutMs);

    // False when the client is unknown or the send failed.
    bool Send(std::size_t client, std::span<const std::uint8_t> bytes,
              const SendPlan& plan = SendPlan::Whole());
    // Several frames, one send each, or all in one buffer when coalesced.
    bool SendFrames(std::size_t client, const std::vector<std::vector<std::uint8_t>>& frames,
                    bool coalesce, const SendPlan& plan = SendPlan::Whole());
    // Ends the connection from the server's side.
    void CloseClient(std::size_t client);
    // Waits until the connection of a client has ended, from either side.
    bool WaitClientClosed(std::size_t client, std::uint32_t timeoutMs);

    std::vector<ReceivedFrame> Frames() const;
    std::size_t FrameCount(MessageCode code) const;
    // The nth frame (from 0) of a code, waiting for it at most timeoutMs.
    std::optional<ReceivedFrame> WaitForFrame(MessageCode code, std::uint32_t timeoutMs,
                                              std::size_t nth = 0);

    // Builds the list answer's buffers as the script says.
    static std::vector<std::vector<std::uint8_t>> ListAnswer(const ListScript& script);

private:
    struct Client
    {
        CTcpSocket m_socket;
        std::mutex m_sendMutex;
        std::atomic<bool> m_closed{false};
        CThread m_reader; // last, so that it is joined first
    };

    void AcceptLoop();
    void ReadLoop(std::size_t index, Client& client);
    void OnFrame(const ReceivedFrame& frame);
    // The built-in answers to header and data requests; false when the frame is not one.
    bool ServeMatchRequest(const ReceivedFrame& frame);
    bool HasDataRequest(std::uint32_t matchId, std::uint32_t offset) const; // m_mutex held
    Client* FindClient(std::size_t index) const;
    bool SendLocked(Client& client, std::span<const std::uint8_t> bytes, const SendPlan& plan);

    IClock& m_clock;
    CTcpListener m_listener;
    CThread m_acceptThread;
    std::atomic<bool> m_stopping{false};

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::unique_ptr<Client>> m_clients;
    std::vector<ReceivedFrame> m_frames;
    ListScript m_listScript;
    std::map<std::uint8_t, FrameHandler> m_handlers;
    AcceptHandler m_acceptHandler;
    std::map<std::uint32_t, ScriptedMatch> m_matches;
};

} // namespace velt
