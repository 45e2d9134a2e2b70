#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "host/IGameLink.h"
#include "host/packets/GamePacket.h"
#include "platform/Clock.h"

namespace velt
{

// One packet (or one run of bytes that cannot start a packet) read from the game.
struct GameRead
{
    enum class Status
    {
        kPacket,
        kJunk,
        kClosed,   // the game closed the connection, or reading failed
        kTimedOut, // nothing whole arrived in the time given (NextWithin only)
    };
    Status m_status = Status::kClosed;
    std::span<const std::uint8_t> m_bytes;

    bool Closed() const { return m_status == Status::kClosed; }
    bool TimedOut() const { return m_status == Status::kTimedOut; }
    bool Is(GamePacketType type) const
    {
        return m_status == Status::kPacket && HasGamePacketType(m_bytes, type);
    }
};

// The host's end of the connection to the game.
//
// Reads are framed: each read yields one whole packet, however the bytes arrived. The game
// answers every time slot with a keepalive, the empty ones that halts send included; those
// are owed keepalives, which reads swallow so that a halt leaves as many time slots in flight
// as there were before it.
//
// Sends come from the session thread and from an owner's thread that ends the session (the leave
// acknowledgement on an interrupt), and are serialised, so packets never interleave. Reads, Pump
// and Drain belong to the session thread.
class CGameConnection
{
public:
    static constexpr std::size_t kReceiveCapacity = 2 * 65536;

    // Takes the link for a session.
    void Attach(std::unique_ptr<IGameLink> link);
    // Drops the link; it closes once no other thread still sends on it.
    void Detach();
    bool Attached() const;

    // Sends one packet (or one prepared batch) whole. False when no game is attached or the
    // send fails.
    bool Send(std::span<const std::uint8_t> bytes);
    // Wakes a blocked read or send; later ones fail. Any thread.
    void Shutdown();

    // The next packet from the game; waits for it. Owed keepalives are skipped. Packets set
    // aside come first. The bytes stay valid until the next call.
    GameRead Next();
    // As Next, but straight from the wire, leaving what is set aside where it is.
    GameRead NextFromWire();
    // As NextFromWire, but gives up (kTimedOut) when no whole packet has come within waitMs.
    GameRead NextWithin(IClock& clock, std::uint32_t waitMs);
    // As Next (what is set aside first), but gives up (kTimedOut) after waitMs.
    GameRead NextWaiting(IClock& clock, std::uint32_t waitMs);
    // Keeps a packet (copied) for the next Next: a viewer's line read by a read that only
    // wants keepalives. False when too many are kept already.
    bool SetAside(std::span<const std::uint8_t> packet);
    static constexpr std::size_t kMaxSetAside = 16;
    // Any thread: a packet as if the game had sent it (the viewer's command from outside the
    // game), read before anything from the wire by the next Next, NextWaiting or
    // TakeViewerLines. False when too many wait already.
    bool Inject(std::vector<std::uint8_t> packet);
    // An empty time slot went out: its keepalive will be swallowed.
    void OweKeepalive() { m_owed.fetch_add(1, std::memory_order_relaxed); }
    std::uint32_t KeepalivesOwed() const { return m_owed.load(std::memory_order_relaxed); }
    // Keepalives that Next has handed out this session (owed ones not counted).
    std::uint32_t KeepalivesRead() const { return m_keepalivesRead.load(std::memory_order_relaxed); }

    enum class PumpResult
    {
        kNothing,
        kLeavePending, // a leave (0x21) is among the buffered packets
        kClosed,
    };
    // Takes in what the game has sent so far without waiting, and says whether it holds a
    // leave: a halted game is not read, yet its viewer may leave. keepalivesAwaited is how many
    // keepalives the time slots in flight still owe; any beyond those are dropped, and a buffer
    // that fills all the same keeps only them and leaves, so a game that floods a halt cannot
    // hide its leave behind what it sent before.
    PumpResult Pump(std::uint32_t keepalivesAwaited = 0);
    // A halted game is not read either: the viewer's lines that have come (set aside or
    // buffered), at most `most`, in order, taken out so that they are answered now. What else
    // is buffered stays for the next read.
    std::vector<std::vector<std::uint8_t>> TakeViewerLines(std::size_t most);
    // Closing: reads and drops what the game still sends until it closes its side, for at most
    // waitMs, so that the connection ends with a close rather than a reset.
    void DrainUntilClosed(IClock& clock, std::uint32_t waitMs);

private:
    std::shared_ptr<IGameLink> Link() const;
    // Reads once into the buffer; false when closed.
    bool Fill(IGameLink& link);
    void MakeRoom();
    bool TakeOwed();
    // NextFromWire, with a deadline when a clock is given.
    GameRead ReadFromWire(IClock* clock, std::uint64_t deadlineMs);
    // Drops owed keepalives, and keepalives beyond the awaited ones, from what is buffered and
    // not yet handed out; with onlyEssentials everything else but leaves goes too. True when a
    // leave is among the rest.
    bool DropUnwanted(std::uint32_t keepalivesAwaited, bool onlyEssentials = false);
    // Takes out of what is buffered and not yet handed out the packets that `remove` picks,
    // looked at in order (whole ones and malformed runs alike); the rest move down over them.
    void RemoveBuffered(
        const std::function<bool(std::span<const std::uint8_t> packet, bool whole)>& remove);
    std::span<const std::uint8_t> Buffered() const;
    // Session thread: what was injected joins what is set aside.
    void AdoptInjected();

    // Guards m_link (not held while sending or reading): the host's accept thread attaches and
    // detaches, Stop (any thread) shuts it down, senders take it.
    mutable std::mutex m_linkMutex;
    std::shared_ptr<IGameLink> m_link;
    // One packet at a time on the wire: the session thread sends, and so does any thread that
    // tells the game something.
    std::mutex m_sendMutex;

    // Guards m_injected: any thread injects, the session thread adopts.
    std::mutex m_injectMutex;
    std::deque<std::vector<std::uint8_t>> m_injected;

    // The session thread counts these; a status display may read them.
    std::atomic<std::uint32_t> m_owed{0};
    std::atomic<std::uint32_t> m_keepalivesRead{0};

    // Reader state (session thread).
    std::array<std::uint8_t, kReceiveCapacity> m_buffer;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    std::size_t m_handedOut = 0; // length of the packet the last Next returned
    bool m_closed = false;
    std::deque<std::vector<std::uint8_t>> m_setAside;
    std::vector<std::uint8_t> m_current; // a set-aside packet Next handed out
};

} // namespace velt
