#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "host/packets/GameToHostPackets.h"
#include "host/packets/PlayPackets.h"
#include "tests/doubles/HostRig.h"

namespace velt::test
{
namespace
{

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

const std::string kNormal = "[VELT] Now play with normal speed";
const std::string kBuffering = "[VELT] Not enough data,buffering..";
const std::string kLackOfData = "Lack of data from server!";

std::uint16_t SlotInterval(const Bytes& packet)
{
    const auto slot = ParseTimeSlot(packet);
    return slot ? slot->m_intervalMs : 0;
}

bool StartsWith(const std::string& text, const std::string& prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// The game's side of play: every time slot gets its keepalive, a line to type goes with the
// next one, and each packet is shown to the test until it says that it has seen enough.
class CPlayingGame
{
public:
    explicit CPlayingGame(CScriptedGame& game) : m_game(game) {}

    void Type(const std::string& text) { m_toType.push_back(text); }

    // False when the game was closed or nothing came for the wait.
    bool PlayUntil(const std::function<bool(const Bytes&)>& enough)
    {
        for (;;)
        {
            const auto packet = m_game.Read();
            if (!packet)
                return false;
            if (IsType(*packet, GamePacketType::kIncomingAction))
            {
                std::vector<Bytes> send = {BuildKeepalive({})};
                for (const std::string& text : m_toType)
                    send.push_back(GameChat(text));
                m_toType.clear();
                if (!m_game.SendTogether(send))
                    return false;
            }
            if (enough(*packet))
                return true;
        }
    }

    bool PlayUntilLine(const std::string& prefix)
    {
        return PlayUntil([&prefix](const Bytes& packet) {
            const auto text = ChatText(packet);
            return text && StartsWith(*text, prefix);
        });
    }

private:
    CScriptedGame& m_game;
    std::vector<std::string> m_toType;
};

std::size_t SlotSize() { return ActionSlot(100, 1, {1}).size(); }

// /pause holds the game until /resume: only empty time slots, the game time stands still, the
// download goes on, the level chosen before comes back; a leave while paused ends the session.
TEST(HostPlaybackControl, PauseHoldsTheGameUntilResume)
{
    struct Row
    {
        const char* m_name;
        std::string m_speed; // typed before the pause, with its reply
        std::string m_speedReply;
        std::uint8_t m_level;
    };
    const Row rows[] = {
        {"at normal speed", "/sp 1", "[VELT] Speed set to normal!", 1},
        {"at 3x", "/sp 3", "[VELT] Speed set to 3x!", 3},
    };
    const Bytes stream = CStreamBuilder().Slots(4000).Take();
    for (const Row& row : rows)
    {
        HostRig rig;
        rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(1500 * SlotSize()), false);
        ASSERT_TRUE(rig.Start());
        CScriptedGame game;
        ASSERT_TRUE(rig.JoinAndStart(game));
        CPlayingGame player(game);
        player.Type(row.m_speed);
        ASSERT_TRUE(player.PlayUntilLine(row.m_speedReply)) << row.m_name;
        player.Type("/pause");
        ASSERT_TRUE(player.PlayUntilLine("[VELT] Paused at ")) << row.m_name;
        const std::uint32_t pausedAt = rig.m_host->Status().m_gameTimeMs;

        // The rest of the match exists now; it downloads while the game waits.
        rig.m_owner.SetAvailable(static_cast<std::uint32_t>(stream.size()), true);
        int emptySlots = 0;
        int movingSlots = 0;
        ASSERT_TRUE(player.PlayUntil([&](const Bytes& packet) {
            if (IsType(packet, GamePacketType::kIncomingAction))
                (SlotInterval(packet) == 0 ? emptySlots : movingSlots)++;
            return emptySlots >= 20 && rig.m_host->StreamSize() == stream.size();
        })) << row.m_name;
        EXPECT_EQ(movingSlots, 0) << row.m_name;
        HostStatus status = rig.m_host->Status();
        EXPECT_TRUE(status.m_paused) << row.m_name;
        EXPECT_EQ(status.m_gameTimeMs, pausedAt) << row.m_name;
        EXPECT_EQ(status.m_speed, row.m_level) << row.m_name << ": the level shown while paused";

        player.Type("/resume");
        ASSERT_TRUE(player.PlayUntilLine("[VELT] Resumed")) << row.m_name;
        ASSERT_TRUE(player.PlayUntil([](const Bytes& packet) { return IsStreamSlot(packet); }))
            << row.m_name << ": play goes on";
        status = rig.m_host->Status();
        EXPECT_FALSE(status.m_paused) << row.m_name;
        EXPECT_EQ(status.m_speed, row.m_level) << row.m_name;
        EXPECT_EQ(rig.m_host->Speed(), row.m_level == 1 ? 1 : row.m_level + 1) << row.m_name;

        // A leave while paused ends the session as any leave does.
        player.Type("/pause");
        ASSERT_TRUE(player.PlayUntilLine("[VELT] Paused at ")) << row.m_name;
        ASSERT_TRUE(game.Send(BuildLeaveGame({}))) << row.m_name;
        ASSERT_TRUE(player.PlayUntil([](const Bytes& packet) { return IsLeaveAck(packet); }))
            << row.m_name;
        EXPECT_TRUE(rig.m_host->WaitSessionEnded(kWaitMs)) << row.m_name;
    }
}

// /back ends the game, the host lets it join again at once, and the new session replays the
// stream from its start up to the chosen time, then plays on: every recorded time slot once,
// in order.
TEST(HostPlaybackControl, BackReplaysFromAnEarlierTimeInANewSession)
{
    const Bytes stream = CStreamBuilder().Slots(2400).Take(); // 4 min
    HostRig rig;
    rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(stream.size()), true);
    ASSERT_TRUE(rig.Start());
    {
        CScriptedGame game;
        ASSERT_TRUE(rig.JoinAndStart(game));
        CPlayingGame player(game);
        player.Type("/goto 3:00");
        ASSERT_TRUE(player.PlayUntilLine(kNormal));
        player.Type("/back 3:10");
        ASSERT_TRUE(player.PlayUntilLine("[VELT] /back goes to an earlier time only"));
        player.Type("/back 1:00");
        ASSERT_TRUE(player.PlayUntilLine("[VELT] Back to 1:00: join the game again"));
        ASSERT_TRUE(player.PlayUntil([](const Bytes& packet) { return IsLeaveAck(packet); }));
    }
    // Not an end the owner hears of: the host goes on by itself.
    EXPECT_FALSE(rig.m_host->WaitSessionEnded(300));
    EXPECT_EQ(rig.m_host->SessionsEnded(), 0u);
    EXPECT_FALSE(rig.m_host->CanResume());

    CScriptedGame again;
    ASSERT_TRUE(rig.JoinAndStart(again));
    CPlayingGame player(again);
    std::vector<Bytes> slots;
    std::uint32_t gameTimeAtNormal = 0;
    std::uint32_t gameTime = 0;
    ASSERT_TRUE(player.PlayUntil([&](const Bytes& packet) {
        if (IsStreamSlot(packet))
        {
            slots.push_back(packet);
            gameTime += SlotInterval(packet);
        }
        if (ChatText(packet) == kNormal)
            gameTimeAtNormal = gameTime;
        return gameTimeAtNormal != 0 && gameTime >= gameTimeAtNormal + 5000;
    }));
    EXPECT_GE(gameTimeAtNormal, 60000u);
    EXPECT_LE(gameTimeAtNormal, 60500u);
    // Nothing lost or repeated: the slots are the stream's, from its start, in order.
    const Bytes expected(stream.begin(), stream.begin() + slots.size() * SlotSize());
    Bytes received;
    for (const Bytes& slot : slots)
        received.insert(received.end(), slot.begin(), slot.end());
    EXPECT_TRUE(received == expected);
}

// A live match watched with a delay: the catch-up stops that far behind the match length the
// server reports, and play holds rather than running into the edge, so the viewer never sees
// the lines of a feed short of data. Without a delay those lines come.
TEST(HostPlaybackControl, ALiveDelayKeepsPlayBehindTheEdge)
{
    struct Row
    {
        const char* m_name;
        std::uint32_t m_delaySeconds;
    };
    const Bytes stream = CStreamBuilder().Slots(3000).Take(); // 300 s of game
    constexpr std::uint16_t kStartSeconds = 60;
    const Row rows[] = {{"no delay", 0}, {"20 s behind", 20}};
    // Each row has its own host and game.
    SideBySide(std::size(rows), std::size(rows),
               [&](std::size_t i)
               {
                   const Row& row = rows[i];
                   HeaderOptions header;
                   header.m_live = true;
                   header.m_matchSeconds = kStartSeconds;
                   HostRig rig(header);
                   rig.m_host->SetLiveDelay(row.m_delaySeconds);
                   std::uint16_t seconds = kStartSeconds;
                   const auto available = [](std::uint16_t s)
                   { return static_cast<std::uint32_t>(s * 10 * SlotSize()); };
                   rig.m_owner.SetStream(stream, available(seconds), false, seconds);
                   ASSERT_TRUE(rig.Start());
                   CScriptedGame game;
                   ASSERT_TRUE(rig.JoinAndStart(game));
                   CPlayingGame player(game);
                   ASSERT_TRUE(player.PlayUntilLine(kNormal)) << row.m_name;

                   // The match grows a second at a time; the game keeps answering.
                   int shortLines = 0;
                   std::uint32_t nearest = UINT32_MAX;
                   std::uint32_t farthest = 0;
                   auto nextGrowth = Clock::now();
                   ASSERT_TRUE(player.PlayUntil(
                       [&](const Bytes& packet)
                       {
                           if (const auto text = ChatText(packet);
                               text == kBuffering || text == kLackOfData)
                               ++shortLines;
                           if (Clock::now() < nextGrowth)
                               return false;
                           const std::uint32_t behind =
                               seconds * 1000u - rig.m_host->Status().m_gameTimeMs;
                           nearest = std::min(nearest, behind);
                           farthest = std::max(farthest, behind);
                           ++seconds;
                           rig.m_owner.Grow(available(seconds), seconds);
                           nextGrowth = Clock::now() + std::chrono::milliseconds(100);
                           return seconds >= kStartSeconds + 30;
                       }))
                       << row.m_name;
                   if (row.m_delaySeconds == 0)
                   {
                       EXPECT_GT(shortLines, 0) << row.m_name;
                       return;
                   }
                   EXPECT_EQ(shortLines, 0) << row.m_name;
                   const std::uint32_t delayMs = row.m_delaySeconds * 1000;
                   EXPECT_GE(nearest, delayMs - 3000) << row.m_name;
                   EXPECT_LE(farthest, delayMs + 3000) << row.m_name;
               });
}

} // namespace
} // namespace velt::test
