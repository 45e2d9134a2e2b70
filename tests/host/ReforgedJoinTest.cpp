// A game of 1.31 and later after the join: the player packets carry two padding bytes, and a
// 1.32 game sends 0x59 packets (profile, skins), which the host reads and ignores wherever they
// come: right after the join reply, in the lobby, and in the game between keepalives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/packets/GameToHostPackets.h"
#include "host/packets/LobbyPackets.h"
#include "tests/doubles/HostRig.h"

using namespace velt;
using namespace velt::test;

namespace
{

using Bytes = std::vector<std::uint8_t>;

bool Mentions(const std::vector<std::string>& lines, const std::string& word)
{
    for (const std::string& line : lines)
        if (line.find(word) != std::string::npos)
            return true;
    return false;
}

} // namespace

TEST(ReforgedJoin, PlayerExtrasAreReadAndIgnoredWhereverTheyCome)
{
    const Bytes extra = BuildPlayerExtra({5, {0x0A, 0x00}});
    HeaderOptions header;
    header.m_gameVersion = 10032;
    HostRig rig(header);
    const Bytes stream = CStreamBuilder().Slots(40).Take();
    rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(stream.size()), true);
    ASSERT_TRUE(rig.Start());

    CScriptedGame game;
    ASSERT_TRUE(game.Connect(rig.Port()));
    const auto joined = game.Join();
    ASSERT_TRUE(joined);
    std::size_t players = 0;
    for (const Bytes& packet : *joined)
    {
        if (!IsType(packet, GamePacketType::kPlayerInfo))
            continue;
        ++players;
        EXPECT_EQ(ParsePlayerInfo(packet).value_or(PlayerInfoParams{}).m_paddingCount, 2);
    }
    EXPECT_EQ(players, 3u);

    ASSERT_TRUE(game.SendTogether({extra, extra, extra})) << "after the join reply";
    ASSERT_TRUE(game.MapReport());
    const auto welcome = game.LobbyLines();
    ASSERT_EQ(welcome.size(), 4u);
    EXPECT_EQ(welcome.front(), "[VELT] Welcome to VELT!");
    ASSERT_TRUE(game.Send(extra)) << "in the lobby";
    EXPECT_TRUE(game.Quiet(300)) << "no answer to it";
    ASSERT_TRUE(game.Chat(ChatKind::kLobby, "/fs"));
    ASSERT_TRUE(game.ReadThrough(GamePacketType::kCountdownEnd));
    ASSERT_TRUE(game.Send(BuildGameLoaded()));
    ASSERT_TRUE(game.ReadThrough(GamePacketType::kChatFromHost));

    std::size_t slots = 0;
    std::vector<Bytes> rest;
    for (auto packet = game.Read(); packet; packet = game.Read())
    {
        rest.push_back(*packet);
        if (IsStreamSlot(*packet))
            ++slots;
        if (IsType(*packet, GamePacketType::kIncomingAction))
        {
            ASSERT_TRUE(game.SendTogether({BuildKeepalive({}), extra})) << "in the game";
        }
        if (IsType(*packet, GamePacketType::kLeaveAck))
            break;
    }
    EXPECT_EQ(slots, 40u);
    EXPECT_TRUE(IsType(rest.back(), GamePacketType::kLeaveAck));
    const auto lines = ChatTexts(rest);
    EXPECT_FALSE(Mentions(lines, "nvalid") || Mentions(lines, "Bad")) << lines.size();
    EXPECT_TRUE(rig.m_host->WaitSessionEnded(kWaitMs));
}
