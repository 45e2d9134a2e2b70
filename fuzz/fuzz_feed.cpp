// The feed over arbitrary stream bytes: resynchronisation, time slots, recorded chat, notices,
// buffering at the end of the data, live catch-up. The game is an in-memory link that answers
// every time slot with a keepalive, and the clock never waits.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "fuzz/QuietHostOwner.h"
#include "host/CLocalGameHost.h"
#include "host/IGameLink.h"
#include "host/packets/GamePacketFramer.h"
#include "tests/doubles/CManualClock.h"

namespace
{

using velt::CLocalGameHost;
using velt::fuzz::CQuietOwner;

std::vector<std::uint8_t> Packet(std::uint8_t type, std::vector<std::uint8_t> body = {})
{
    std::vector<std::uint8_t> packet = {0xF7, type, 0, 0};
    packet.insert(packet.end(), body.begin(), body.end());
    packet[2] = static_cast<std::uint8_t>(packet.size());
    packet[3] = static_cast<std::uint8_t>(packet.size() >> 8);
    return packet;
}

std::vector<std::uint8_t> Chat(std::uint8_t kind, const char* text)
{
    std::vector<std::uint8_t> body = {1, 1, 2, kind};
    if (kind == 0x20)
        body.insert(body.end(), 4, 0);
    body.insert(body.end(), text, text + std::strlen(text) + 1);
    return Packet(0x28, body);
}

// A game that joins, force-starts, answers the countdown, and then answers each time slot it
// is sent with one keepalive. When it has nothing to say, it has closed.
class CAnsweringGame final : public velt::IGameLink
{
public:
    explicit CAnsweringGame(const char* command) : m_command(command)
    {
        Queue(Packet(0x1E, {0, 0, 0, 0}));
        Queue(Packet(0x42, {1, 0, 0, 0, 1, 0, 0, 0, 0}));
        Queue(Chat(0x10, "/fs"));
    }
    bool Send(const std::uint8_t* data, std::size_t size) override
    {
        std::lock_guard lock(m_mutex);
        m_sent.insert(m_sent.end(), data, data + size);
        for (;;)
        {
            const auto frame = velt::FrameGamePacket(m_sent);
            if (frame.m_kind == velt::GameFrame::Kind::kNeedMore)
                break;
            if (frame.m_kind == velt::GameFrame::Kind::kWhole)
            {
                if (m_sent[1] == 0x0B)
                    QueueLocked(Packet(0x23));
                if (m_sent[1] == 0x0C)
                {
                    QueueLocked(Packet(0x27, {0, 0, 0, 0, 0}));
                    if (m_command && ++m_slots == 2)
                        QueueLocked(Chat(0x20, m_command));
                }
            }
            m_sent.erase(m_sent.begin(), m_sent.begin() + static_cast<std::ptrdiff_t>(frame.m_length));
        }
        return !m_shut;
    }
    int Recv(std::uint8_t* data, std::size_t size) override
    {
        std::lock_guard lock(m_mutex);
        if (m_shut || m_inbox.empty())
            return 0;
        const std::size_t n = std::min(size, m_inbox.size());
        std::copy(m_inbox.begin(), m_inbox.begin() + static_cast<std::ptrdiff_t>(n), data);
        m_inbox.erase(m_inbox.begin(), m_inbox.begin() + static_cast<std::ptrdiff_t>(n));
        return static_cast<int>(n);
    }
    bool WaitReadable(int) override
    {
        std::lock_guard lock(m_mutex);
        return !m_inbox.empty() || m_shut;
    }
    void Shutdown() override { m_shut = true; }

private:
    void Queue(const std::vector<std::uint8_t>& bytes)
    {
        std::lock_guard lock(m_mutex);
        QueueLocked(bytes);
    }
    void QueueLocked(const std::vector<std::uint8_t>& bytes)
    {
        m_inbox.insert(m_inbox.end(), bytes.begin(), bytes.end());
    }

    std::mutex m_mutex;
    std::vector<std::uint8_t> m_sent;
    std::deque<std::uint8_t> m_inbox;
    const char* m_command;
    int m_slots = 0;
    std::atomic<bool> m_shut{false};
};

constexpr const char* kCommands[] = {nullptr, "/sp 4", "/sp 2", "/goto 0:30", "/syncdown 8:00",
                                     "/slower", "/faster", "/syncup 9:00"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::uint8_t options = data[0];
    const std::uint8_t* stream = data + 1;
    const std::uint32_t length =
        static_cast<std::uint32_t>(std::min<std::size_t>(size - 1, CLocalGameHost::kStreamCapacity));

    velt::CManualClock clock;
    velt::HostTimings timings;
    timings.m_readWatchMs = 1u << 30; // the link never blocks: no watch steps
    timings.m_startPauseMs = 0;
    timings.m_stopWaitMs = 0;
    timings.m_emptyChunkHoldMs = 0;
    CQuietOwner owner;
    auto host = std::make_unique<CLocalGameHost>(owner, clock, timings);
    velt::ReplayHeader header;
    header.SetU8(velt::ReplayHeader::kNotLiveOffset, (options & 1) ? 0 : 1);
    header.SetU8(velt::ReplayHeader::kPlayerCountOffset, 2);
    header.SetPlayerPacket(1, Packet(0x06, {2, 0, 0, 0, 1, 'A', 0}));
    const std::uint8_t countdown[] = {0xF7, 0x0A, 4, 0, 0xF7, 0x0B, 4, 0};
    std::memcpy(header.m_bytes.data() + velt::ReplayHeader::kCountdownOffset, countdown,
                sizeof countdown);
    host->SetHeader(header.m_bytes);
    // The stream in chunks as the server sends them, then its end.
    for (std::uint32_t offset = 0; offset < length; offset += CLocalGameHost::kFullChunk)
    {
        const std::uint32_t count = std::min(CLocalGameHost::kFullChunk, length - offset);
        host->AppendStreamChunk(offset, stream + offset, count, static_cast<std::uint16_t>(offset));
    }
    host->AppendStreamChunk(length, nullptr, CLocalGameHost::kFullChunk + 1, 0);
    host->RunSessionOn(std::make_unique<CAnsweringGame>(kCommands[(options >> 1) % 8]));
    return 0;
}
