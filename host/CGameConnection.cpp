#include "host/CGameConnection.h"

#include <algorithm>
#include <cstring>

#include "host/packets/GamePacketFramer.h"

namespace velt
{

void CGameConnection::Attach(std::unique_ptr<IGameLink> link)
{
    m_begin = m_end = m_handedOut = 0;
    m_closed = false;
    m_setAside.clear();
    m_current.clear();
    {
        std::lock_guard lock(m_injectMutex);
        m_injected.clear();
    }
    m_owed.store(0, std::memory_order_relaxed);
    m_keepalivesRead.store(0, std::memory_order_relaxed);
    std::lock_guard lock(m_linkMutex);
    m_link = std::move(link);
}

void CGameConnection::Detach()
{
    std::shared_ptr<IGameLink> link;
    {
        std::lock_guard lock(m_linkMutex);
        link.swap(m_link);
    }
    // A sender that still holds the link keeps it open until its send returns.
}

bool CGameConnection::Attached() const { return Link() != nullptr; }

std::shared_ptr<IGameLink> CGameConnection::Link() const
{
    std::lock_guard lock(m_linkMutex);
    return m_link;
}

bool CGameConnection::Send(std::span<const std::uint8_t> bytes)
{
    const auto link = Link();
    if (!link)
        return false;
    std::lock_guard lock(m_sendMutex);
    return link->Send(bytes.data(), bytes.size());
}

void CGameConnection::Shutdown()
{
    if (const auto link = Link())
        link->Shutdown();
}

std::span<const std::uint8_t> CGameConnection::Buffered() const
{
    return std::span<const std::uint8_t>(m_buffer.data() + m_begin, m_end - m_begin);
}

void CGameConnection::MakeRoom()
{
    if (m_begin == 0)
        return;
    std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
    m_end -= m_begin;
    m_begin = 0;
}

bool CGameConnection::Fill(IGameLink& link)
{
    if (m_closed)
        return false;
    if (m_end == m_buffer.size())
        MakeRoom();
    const int n = link.Recv(m_buffer.data() + m_end, m_buffer.size() - m_end);
    if (n <= 0)
    {
        m_closed = true;
        return false;
    }
    m_end += static_cast<std::size_t>(n);
    return true;
}

bool CGameConnection::Inject(std::vector<std::uint8_t> packet)
{
    std::lock_guard lock(m_injectMutex);
    if (m_injected.size() >= kMaxSetAside)
        return false;
    m_injected.push_back(std::move(packet));
    return true;
}

void CGameConnection::AdoptInjected()
{
    std::lock_guard lock(m_injectMutex);
    while (!m_injected.empty() && m_setAside.size() < kMaxSetAside)
    {
        m_setAside.push_back(std::move(m_injected.front()));
        m_injected.pop_front();
    }
}

GameRead CGameConnection::Next()
{
    AdoptInjected();
    if (m_setAside.empty())
        return NextFromWire();
    m_begin += m_handedOut;
    m_handedOut = 0;
    m_current = std::move(m_setAside.front());
    m_setAside.pop_front();
    return {GameRead::Status::kPacket, m_current};
}

bool CGameConnection::SetAside(std::span<const std::uint8_t> packet)
{
    if (m_setAside.size() >= kMaxSetAside)
        return false;
    m_setAside.emplace_back(packet.begin(), packet.end());
    return true;
}

GameRead CGameConnection::NextFromWire() { return ReadFromWire(nullptr, 0); }

GameRead CGameConnection::NextWithin(IClock& clock, std::uint32_t waitMs)
{
    return ReadFromWire(&clock, clock.NowMs() + waitMs);
}

GameRead CGameConnection::NextWaiting(IClock& clock, std::uint32_t waitMs)
{
    AdoptInjected();
    return m_setAside.empty() ? NextWithin(clock, waitMs) : Next();
}

GameRead CGameConnection::ReadFromWire(IClock* clock, std::uint64_t deadlineMs)
{
    m_begin += m_handedOut;
    m_handedOut = 0;
    const auto link = Link();
    if (!link)
        return {};
    for (;;)
    {
        const auto buffered = Buffered();
        const GameFrame frame = FrameGamePacket(buffered);
        if (frame.m_kind == GameFrame::Kind::kNeedMore)
        {
            if (clock && !m_closed)
            {
                const std::uint64_t now = clock->NowMs();
                if (now >= deadlineMs)
                    return {GameRead::Status::kTimedOut, {}};
                if (!link->WaitReadable(static_cast<int>(deadlineMs - now)))
                {
                    const std::uint64_t after = clock->NowMs();
                    if (after >= deadlineMs)
                        return {GameRead::Status::kTimedOut, {}};
                    // Woken a little early: wait out the rest. A clock that has not moved at
                    // all is a harness's own, whose link is read as before: blocking.
                    if (after != now)
                        continue;
                }
            }
            // The buffer holds any packet whole: twice the largest packet length.
            if (!Fill(*link))
                return {};
            continue;
        }
        const auto bytes = buffered.first(frame.m_length);
        if (frame.m_kind == GameFrame::Kind::kMalformed)
        {
            m_handedOut = frame.m_length;
            return {GameRead::Status::kJunk, bytes};
        }
        const bool keepalive = HasGamePacketType(bytes, GamePacketType::kOutgoingKeepalive);
        if (keepalive && TakeOwed())
        {
            m_begin += frame.m_length;
            continue;
        }
        if (keepalive)
            m_keepalivesRead.fetch_add(1, std::memory_order_relaxed);
        m_handedOut = frame.m_length;
        return {GameRead::Status::kPacket, bytes};
    }
}

bool CGameConnection::TakeOwed()
{
    std::uint32_t owed = m_owed.load(std::memory_order_relaxed);
    while (owed > 0)
    {
        if (m_owed.compare_exchange_weak(owed, owed - 1, std::memory_order_relaxed))
            return true;
    }
    return false;
}

CGameConnection::PumpResult CGameConnection::Pump(std::uint32_t keepalivesAwaited)
{
    const auto link = Link();
    if (!link)
        return PumpResult::kClosed;
    while (!m_closed && link->WaitReadable(0))
    {
        if (m_end == m_buffer.size())
            MakeRoom();
        // Full of what a halted game need not keep: only leaves and awaited keepalives stay.
        if (m_end == m_buffer.size() && DropUnwanted(keepalivesAwaited, true))
            return PumpResult::kLeavePending;
        if (m_end == m_buffer.size())
            break; // full of one packet still arriving: the rest waits in the socket
        if (!Fill(*link))
            break;
        // A halt of any length: its keepalives go as they come, so the buffer never fills.
        if (DropUnwanted(keepalivesAwaited))
            return PumpResult::kLeavePending;
    }
    return DropUnwanted(keepalivesAwaited) ? PumpResult::kLeavePending
           : m_closed                     ? PumpResult::kClosed
                                          : PumpResult::kNothing;
}

bool CGameConnection::DropUnwanted(std::uint32_t keepalivesAwaited, bool onlyEssentials)
{
    std::uint32_t keepalivesKept = 0;
    bool leave = false;
    RemoveBuffered(
        [&](std::span<const std::uint8_t> packet, bool whole)
        {
            const bool isLeave = whole && HasGamePacketType(packet, GamePacketType::kLeaveGame);
            leave = leave || isLeave;
            if (whole && !leave && HasGamePacketType(packet, GamePacketType::kOutgoingKeepalive))
            {
                // Owed ones answer empty slots; beyond the awaited ones, no slot waits for them.
                const bool drop = TakeOwed() || keepalivesKept >= keepalivesAwaited;
                keepalivesKept += drop ? 0 : 1;
                return drop;
            }
            return onlyEssentials && !isLeave;
        });
    return leave;
}

std::vector<std::vector<std::uint8_t>> CGameConnection::TakeViewerLines(std::size_t most)
{
    std::vector<std::vector<std::uint8_t>> lines;
    AdoptInjected();
    while (!m_setAside.empty() && lines.size() < most)
    {
        lines.push_back(std::move(m_setAside.front()));
        m_setAside.pop_front();
    }
    RemoveBuffered(
        [&](std::span<const std::uint8_t> packet, bool whole)
        {
            if (!whole || lines.size() >= most ||
                !HasGamePacketType(packet, GamePacketType::kChatToHost))
                return false;
            lines.emplace_back(packet.begin(), packet.end());
            return true;
        });
    return lines;
}

void CGameConnection::RemoveBuffered(
    const std::function<bool(std::span<const std::uint8_t> packet, bool whole)>& remove)
{
    // Past the packet handed out last, which has been dealt with.
    const std::size_t from = m_begin + m_handedOut;
    std::size_t read = from;
    std::size_t write = from;
    while (read < m_end)
    {
        const auto rest = std::span<const std::uint8_t>(m_buffer.data() + read, m_end - read);
        const GameFrame frame = FrameGamePacket(rest);
        if (frame.m_kind == GameFrame::Kind::kNeedMore)
            break;
        if (!remove(rest.first(frame.m_length), frame.m_kind == GameFrame::Kind::kWhole))
        {
            if (write != read)
                std::memmove(m_buffer.data() + write, m_buffer.data() + read, frame.m_length);
            write += frame.m_length;
        }
        read += frame.m_length;
    }
    if (write != read)
    {
        std::memmove(m_buffer.data() + write, m_buffer.data() + read, m_end - read);
        m_end -= read - write;
    }
}

void CGameConnection::DrainUntilClosed(IClock& clock, std::uint32_t waitMs)
{
    const auto link = Link();
    if (!link || m_closed)
        return;
    constexpr int kMaxRounds = 4096; // a game that never stops sending does not hold us
    std::array<std::uint8_t, 4096> scratch;
    const std::uint64_t start = clock.NowMs();
    for (int round = 0; round < kMaxRounds; ++round)
    {
        const std::uint64_t elapsed = clock.NowMs() - start;
        if (elapsed >= waitMs || !link->WaitReadable(static_cast<int>(waitMs - elapsed)))
            return;
        if (link->Recv(scratch.data(), scratch.size()) <= 0)
            return;
    }
}

} // namespace velt
