#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace velt
{

class CMatchArchive;
class CStatsStore;

// Longest request: MSG_RATE, L = 10. A length field beyond it ends the connection at once.
constexpr std::uint32_t kMaxRequestLength = 10;

// The first request in the bytes a client has sent so far.
struct RequestCut
{
    enum class Kind
    {
        kRequest,  // m_body (code and payload) is whole; m_size bytes are used up
        kNeedMore, // the bytes end inside the length field or the body
        kRefused,  // a length of 0 or above kMaxRequestLength: the client is to go
    };
    Kind m_kind = Kind::kNeedMore;
    std::size_t m_size = 0;
    std::span<const std::uint8_t> m_body;
};

// Pure: looks at nothing but the bytes.
RequestCut CutRequest(std::span<const std::uint8_t> buffered);

// The server's answers to whole requests, from the archive and the statistics. Holds no
// per-client state, so one handler serves every connection at once.
class CRequestHandler
{
public:
    CRequestHandler(const CMatchArchive& archive, CStatsStore& stats,
                    std::vector<std::uint32_t> channels);

    // Appends the frames that answer one request (code and payload) to out, perhaps none.
    // False when the request is not one the server takes (an unknown code, a payload of the
    // wrong size): the client is to be disconnected.
    bool Handle(std::span<const std::uint8_t> body, std::vector<std::uint8_t>& out) const;

private:
    bool IsServed(std::uint32_t channelId) const;
    bool AnswerList(std::span<const std::uint8_t> payload, std::vector<std::uint8_t>& out) const;

    const CMatchArchive& m_archive;
    CStatsStore& m_stats;
    const std::vector<std::uint32_t> m_channels;
};

} // namespace velt
