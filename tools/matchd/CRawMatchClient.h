#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/Socket.h"
#include "server/MatchServerMessages.h"

namespace velt
{

// A client of the match server protocol at the level of frames: sends whatever bytes it is
// given and cuts the answers into frames. The tests use it for requests the program's own
// client never sends, the benchmark for many streams at once.
class CRawMatchClient
{
public:
    bool Connect(const std::string& dottedIp, std::uint16_t port);
    bool Send(std::span<const std::uint8_t> bytes);

    // The next frame's code and payload; nothing on time-out, close or a malformed stream.
    std::optional<std::vector<std::uint8_t>> ReadFrame(int timeoutMs);

    // Asks for a chunk and waits for it; the chunk's data points into body.
    std::optional<GameDataChunk> RequestChunk(std::uint32_t matchId, std::uint32_t offset,
                                              std::vector<std::uint8_t>& body, int timeoutMs);

    // Whether the server closes the connection within the time-out; data that comes first is
    // read and dropped.
    bool ClosedByServer(int timeoutMs);

    void Close() { m_socket.Close(); }

private:
    bool ReadMore(int timeoutMs);

    CTcpSocket m_socket;
    std::vector<std::uint8_t> m_buffer;
};

} // namespace velt
