#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>

#include "host/CHostFeed.h"
#include "host/CTcpGameLink.h"
#include "host/packets/GameToHostPackets.h"
#include "tests/doubles/HostRig.h"

namespace velt::test
{
namespace
{

using Bytes = std::vector<std::uint8_t>;

const std::string kWelcome = "[VELT] Welcome to VELT!";
const std::string kBuffering = "[VELT] Not enough data,buffering..";
const std::string kResumed = "[VELT] Game resumed..";

// The session as the feed sees it: lines the feed tells are kept, keepalives and leaves are
// handled as the commands do, and the ends of a session are what the real session does.
class CFeedSessionDouble final : public IFeedSession
{
public:
    CFeedSessionDouble(CGameConnection& connection, CEvent& stop)
        : m_connection(connection), m_stop(stop)
    {
    }

    void SendGameChat(std::string_view text) override
    {
        std::lock_guard lock(m_mutex);
        m_lines.emplace_back(text);
    }
    void TellServerNews(bool) override
    {
        if (m_onNews)
            m_onNews();
    }
    bool ServerLinkLost() const override { return false; }
    PacketOutcome HandleGamePacket(const GameRead& read) override
    {
        if (read.Is(GamePacketType::kLeaveGame))
        {
            SendLeaveAck();
            return {false, HostResult::kSessionOver};
        }
        return {false, HostResult::kContinue};
    }
    HostResult DiscardNextPacket(bool) override
    {
        return m_connection.Next().Closed() ? LoseConnection() : HostResult::kContinue;
    }
    void SendLeaveAck() override
    {
        m_connection.Send(BuildLeaveAck());
        m_stop.Set();
    }
    HostResult LoseConnection() override
    {
        m_connection.Shutdown();
        m_stop.Set();
        return HostResult::kConnectionLost;
    }
    void SignalStop() override { m_stop.Set(); }
    bool InGame() const override { return true; }

    // Runs on the feed's thread each time the feed tells the server's news.
    std::function<void()> m_onNews;

    std::vector<std::string> Lines() const
    {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }

private:
    CGameConnection& m_connection;
    CEvent& m_stop;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

// The feed alone: a stream buffer the test fills, a connection to a game the test plays over
// loopback, and the session double. The owner is never served, so only the test adds data.
struct FeedRig
{
    explicit FeedRig(bool live = false)
        : m_stream(m_owner, m_clock, m_timings), m_session(m_connection, m_stop)
    {
        m_header.Assign(BuildTestHeader(MatchHeader(live, 0)));
        // A silent server does not end the session: only the test ends the stream.
        m_owner.SetSupervising(true);
    }

    bool Connect()
    {
        if (m_listener.Open("127.0.0.1", 0) != CTcpListener::Error::kNone ||
            !m_game.Connect(m_listener.Port()))
            return false;
        m_connection.Attach(std::make_unique<CTcpGameLink>(m_listener.Accept()));
        return true;
    }

    void Append(const Bytes& stream, std::uint32_t end)
    {
        const std::uint32_t from = m_stream.Size();
        m_stream.Append(from, stream.data() + from, end - from, 0);
    }
    void EndStream()
    {
        m_stream.Append(m_stream.Size(), nullptr, CStreamBuffer::kFullChunk + 1, 0);
    }

    CTestOwner m_owner;
    CJumpClock m_clock;
    HostTimings m_timings = FastTimings();
    CStreamBuffer m_stream;
    ReplayHeader m_header;
    CGameConnection m_connection;
    CEvent m_stop{CEvent::Kind::kManualReset};
    CFeedSessionDouble m_session;
    CHostFeed m_feed{m_session, m_stream,  m_connection, m_stop,
                     m_clock,   m_timings, m_header,     m_owner};
    CTcpListener m_listener;
    CScriptedGame m_game;
};

enum class Act
{
    kNothing,
    kLeaveAfterFive, // the game leaves in answer to the fifth time slot
    kRestWhenHeld,   // at the first empty slot: the rest of the stream, and its end
    kEndWhenHeld,    // at the first empty slot: the stream's end
    kRestAndEndAtOnce, // all fed, the feed waits: the rest of the stream and its end together
};

struct FeedRow
{
    const char* m_name;
    std::uint32_t m_held; // bytes of the stream held at the start
    bool m_ended;         // and whether its end has come
    Act m_act;
    std::uint32_t m_slotsFed;
    bool m_heldGame; // empty slots held the game meanwhile
    bool m_buffered; // the buffering lines were told
    bool m_live = false;
};

constexpr std::uint32_t kSlots = 20;

TEST(HostFeedTest, FeedsTheStreamAtTheGamesPaceAndEndsIt)
{
    const Bytes stream = CStreamBuilder().Slots(kSlots).Take();
    const std::uint32_t all = SlotBytes(kSlots);
    const FeedRow rows[] = {
        {"a finished match plays whole", all, true, Act::kNothing, kSlots, false, false},
        {"the game leaves", all, true, Act::kLeaveAfterFive, 5, false, false},
        {"data cut inside a slot", SlotBytes(10) + 3, false, Act::kRestWhenHeld, kSlots, true,
         true},
        {"all fed before the end came", all, false, Act::kEndWhenHeld, kSlots, true, false},
        {"the last data came with the end", SlotBytes(10), false, Act::kRestAndEndAtOnce, kSlots,
         false, false},
        // The catch-up to live meets the end of the match instead of a fresh live edge.
        {"a live match held whole", all, true, Act::kNothing, kSlots, false, false, true},
        {"a live match ended after all was fed", all, false, Act::kEndWhenHeld, kSlots, true,
         false, true},
    };
    for (const FeedRow& row : rows)
    {
        auto rig = std::make_unique<FeedRig>(row.m_live);
        ASSERT_TRUE(rig->Connect()) << row.m_name;
        rig->Append(stream, row.m_held);
        if (row.m_ended)
            rig->EndStream();
        rig->m_feed.Reset(0);
        if (row.m_act == Act::kRestAndEndAtOnce)
            rig->m_session.m_onNews = [&rig, &stream, all, done = false]() mutable
            {
                if (done || rig->m_feed.State() != FeedState::kBuffering)
                    return;
                done = true;
                rig->Append(stream, all);
                rig->EndStream();
            };
        HostResult result = HostResult::kContinue;
        CThread feeder;
        ASSERT_TRUE(feeder.Start([&] { result = rig->m_feed.Play(std::nullopt); }));

        // The game: answers every time slot with a keepalive, as Warcraft III does.
        Bytes fed;
        std::uint32_t slots = 0;
        std::uint32_t empty = 0;
        bool leaveAck = false;
        while (const auto packet = rig->m_game.Read())
        {
            if (IsType(*packet, GamePacketType::kLeaveAck))
            {
                leaveAck = true;
                break;
            }
            if (IsStreamSlot(*packet))
            {
                fed.insert(fed.end(), packet->begin(), packet->end());
                // A plain step waits for the keepalive of its slot before the next one.
                if (++slots == 1)
                {
                    EXPECT_TRUE(rig->m_game.Quiet(200)) << row.m_name;
                }
                if (slots == 5 && row.m_act == Act::kLeaveAfterFive)
                {
                    rig->m_game.Leave();
                    continue;
                }
            }
            else if (IsEmptySlot(*packet) && empty++ == 0)
            {
                if (row.m_act == Act::kRestWhenHeld)
                    rig->Append(stream, all);
                if (row.m_act == Act::kRestWhenHeld || row.m_act == Act::kEndWhenHeld)
                    rig->EndStream();
            }
            rig->m_game.Keepalive();
        }
        feeder.Join();

        EXPECT_TRUE(leaveAck) << row.m_name;
        EXPECT_EQ(result, HostResult::kSessionOver) << row.m_name;
        EXPECT_EQ(slots, row.m_slotsFed) << row.m_name;
        EXPECT_EQ(fed, Bytes(stream.begin(), stream.begin() + SlotBytes(row.m_slotsFed)))
            << row.m_name << ": every slot whole and in order";
        EXPECT_EQ(rig->m_feed.ReadPos(), SlotBytes(row.m_slotsFed)) << row.m_name;
        EXPECT_EQ(rig->m_feed.GameTimeMs(), 100 * row.m_slotsFed) << row.m_name;
        EXPECT_EQ(empty > 0, row.m_heldGame) << row.m_name;

        const auto lines = rig->m_session.Lines();
        const auto told = [&lines](const std::string& line)
        { return std::find(lines.begin(), lines.end(), line) != lines.end(); };
        EXPECT_TRUE(told(kWelcome)) << row.m_name;
        EXPECT_EQ(told(kBuffering), row.m_buffered) << row.m_name;
        EXPECT_EQ(told(kResumed), row.m_buffered) << row.m_name;
    }
}

// Between the empty slots of a halt the feed waits on events: the session's end cuts the wait
// short however long the halt period is.
TEST(HostFeedTest, AHaltEndsAsSoonAsTheSessionStops)
{
    const Bytes stream = CStreamBuilder().Slots(kSlots).Take();
    struct Row
    {
        const char* m_name;
        bool m_syncdown; // a /syncdown halt; otherwise buffering inside a slot
    };
    for (const Row row : {Row{"/syncdown halt", true}, Row{"buffering halt", false}})
    {
        auto rig = std::make_unique<FeedRig>();
        // Longer than the test waits for the end: a halt that slept would be seen.
        rig->m_timings.m_haltPeriodMs = 3 * kWaitMs;
        ASSERT_TRUE(rig->Connect()) << row.m_name;
        rig->Append(stream, SlotBytes(2) + 3);
        rig->m_feed.Reset(0);
        HostResult result = HostResult::kContinue;
        CEvent done(CEvent::Kind::kManualReset);
        CThread feeder;
        ASSERT_TRUE(feeder.Start(
            [&]
            {
                result = row.m_syncdown ? rig->m_feed.HaltFor(10 * kWaitMs)
                                        : rig->m_feed.Play(std::nullopt);
                done.Set();
            }));
        while (const auto packet = rig->m_game.Read())
        {
            if (IsEmptySlot(*packet))
                break;
            rig->m_game.Keepalive();
        }
        rig->m_stop.Set();
        EXPECT_TRUE(done.Wait(kWaitMs)) << row.m_name;
        feeder.Join();
        EXPECT_EQ(result, HostResult::kSessionOver) << row.m_name;
    }
}

} // namespace
} // namespace velt::test
