// Packets from the game after a join: the host's reads, its chat command table and everything
// the commands do, in the lobby or in the game. The input is either the game's raw bytes, or
// lines of chat that the game types, each followed by a keepalive. The game is an in-memory
// link (what it is sent is dropped), and the clock never waits.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "host/CLocalGameHost.h"
#include "host/IGameLink.h"
#include "fuzz/QuietHostOwner.h"
#include "tests/doubles/CManualClock.h"

namespace
{

using velt::CLocalGameHost;
using velt::fuzz::CQuietOwner;

// Gives the game's bytes out in pieces of the sizes the input chose, then reports the close.
class CReplayLink final : public velt::IGameLink
{
public:
    CReplayLink(std::vector<std::uint8_t> bytes, std::size_t piece)
        : m_bytes(std::move(bytes)), m_piece(std::max<std::size_t>(1, piece))
    {
    }
    bool Send(const std::uint8_t*, std::size_t) override { return !m_shut; }
    int Recv(std::uint8_t* data, std::size_t size) override
    {
        if (m_shut || m_pos == m_bytes.size())
            return 0;
        const std::size_t n = std::min({size, m_piece, m_bytes.size() - m_pos});
        std::memcpy(data, m_bytes.data() + m_pos, n);
        m_pos += n;
        return static_cast<int>(n);
    }
    bool WaitReadable(int) override { return true; }
    void Shutdown() override { m_shut = true; }

private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_piece;
    std::size_t m_pos = 0;
    std::atomic<bool> m_shut{false};
};

std::vector<std::uint8_t> Packet(std::uint8_t type, std::vector<std::uint8_t> body = {})
{
    std::vector<std::uint8_t> packet = {0xF7, type, 0, 0};
    packet.insert(packet.end(), body.begin(), body.end());
    packet[2] = static_cast<std::uint8_t>(packet.size());
    packet[3] = static_cast<std::uint8_t>(packet.size() >> 8);
    return packet;
}

std::vector<std::uint8_t> Chat(std::uint8_t kind, const std::uint8_t* text, std::size_t length)
{
    std::vector<std::uint8_t> body = {1, 1, 2, kind};
    if (kind == 0x20)
        body.insert(body.end(), 4, 0);
    body.insert(body.end(), text, text + length);
    body.push_back(0);
    return Packet(0x28, body);
}

std::vector<std::uint8_t> LobbyChat(const char* text)
{
    return Chat(0x10, reinterpret_cast<const std::uint8_t*>(text), std::strlen(text));
}

// Each line of the input typed as chat of the session's kind, with a keepalive after it.
void AppendChatLines(std::vector<std::uint8_t>& game, const std::uint8_t* data, std::size_t size,
                     bool inGame)
{
    const auto keepalive = Packet(0x27, {0, 0, 0, 0, 0});
    const std::uint8_t* end = data + size;
    while (data < end)
    {
        const std::uint8_t* line = std::find(data, end, '\n');
        const std::size_t length = std::min<std::size_t>(line - data, 60000);
        const auto chat = Chat(inGame ? 0x20 : 0x10, data, length);
        game.insert(game.end(), chat.begin(), chat.end());
        game.insert(game.end(), keepalive.begin(), keepalive.end());
        data = line == end ? end : line + 1;
    }
}

velt::ReplayHeader Header()
{
    velt::ReplayHeader header;
    using H = velt::ReplayHeader;
    header.SetPacket(H::kJoinReplyOffset, H::kJoinReplyLengthOffset, H::kJoinReplySize,
                     Packet(0x04, std::vector<std::uint8_t>(20, 0)));
    header.SetPlayerPacket(1, Packet(0x06, {2, 0, 0, 0, 1, 'A', 'l', 'i', 'c', 'e', 0}));
    header.SetPlayerPacket(2, Packet(0x06, {2, 0, 0, 0, 2, 'W', 0}));
    header.SetU8(H::kPlayerCountOffset, 2);
    header.SetPacket(H::kMapCheckOffset, H::kMapCheckLengthOffset, H::kMapCheckSize,
                     Packet(0x3D, {1, 0, 0, 0, 'm', '.', 'w', '3', 'x', 0}));
    // Slot records: player 1 plays, player 2 observes.
    header.SetPacket(H::kSlotTableOffset, H::kSlotTableLengthOffset, H::kSlotTableSize,
                     Packet(0x09, {21, 0, 2, 1, 100, 2, 0, 0, 0, 0, 0x20, 1, 100, 2, 100, 2, 0,
                                   12, 12, 0x20, 1, 100}));
    const std::uint8_t countdown[] = {0xF7, 0x0A, 4, 0, 0xF7, 0x0B, 4, 0};
    std::memcpy(header.m_bytes.data() + H::kCountdownOffset, countdown, sizeof countdown);
    header.SetU8(H::kNotLiveOffset, 1);
    return header;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const bool inGame = (data[0] & 1) != 0;
    const bool mapExists = (data[0] & 2) != 0;
    const std::size_t piece = 1 + data[1] % 64;
    std::vector<std::uint8_t> game = Packet(0x1E, {0, 0, 0, 0});
    const auto report = Packet(0x42, {1, 0, 0, 0, 1, 0, 0, 0, 0});
    game.insert(game.end(), report.begin(), report.end());
    if (inGame)
    {
        const auto start = LobbyChat("/fs");
        const auto loaded = Packet(0x23);
        game.insert(game.end(), start.begin(), start.end());
        game.insert(game.end(), loaded.begin(), loaded.end());
    }
    if (data[0] & 4)
        AppendChatLines(game, data + 2, size - 2, inGame);
    else
        game.insert(game.end(), data + 2, data + size);

    velt::CManualClock clock;
    velt::HostTimings timings;
    timings.m_readWatchMs = 1u << 30; // the link never blocks: no watch steps
    timings.m_startPauseMs = 0;
    timings.m_stopWaitMs = 0;
    CQuietOwner owner(mapExists);
    auto host = std::make_unique<CLocalGameHost>(owner, clock, timings);
    host->SetHeader(Header().m_bytes);
    // A short recorded stream: time slots with a ping and a skill, chat, a leave.
    const std::vector<std::uint8_t> stream = {
        0xF7, 0x0C, 0x06, 0x00, 0x64, 0x00,                                     // slot
        0xF7, 0x0C, 0x0E, 0x00, 0x64, 0x00, 0x00, 0x00, 0x02, 0x02, 0x00, 0x68, 0x00, 0x00, // ping
        0xF7, 0x0F, 0x0F, 0x00, 0x01, 0x02, 0x02, 0x20, 0, 0, 0, 0, 'h', 'i', 0, // chat
        0xF7, 0x0C, 0x0C, 0x00, 0x2C, 0x01, 0x00, 0x00, 0x01, 0x01, 0x00, 0x66, // skill
        0xF7, 0x07, 0x09, 0x00, 0x02, 0x07, 0x00, 0x00, 0x00,                   // left
    };
    host->AppendStreamChunk(0, stream.data(), static_cast<std::uint32_t>(stream.size()), 30);
    host->AppendStreamChunk(static_cast<std::uint32_t>(stream.size()), nullptr, 2001, 30);
    host->RunSessionOn(std::make_unique<CReplayLink>(std::move(game), piece));
    return 0;
}
