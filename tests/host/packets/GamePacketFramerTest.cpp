#include <gtest/gtest.h>

#include <optional>
#include <tuple>
#include <vector>

#include "host/packets/GamePacketFramer.h"
#include "host/packets/GameToHostPackets.h"

namespace velt
{
namespace
{

using Bytes = std::vector<std::uint8_t>;

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

struct FrameRow
{
    const char* m_name;
    Bytes m_data;
    GameFrame::Kind m_kind;
    std::size_t m_length;
};

TEST(GamePacketFramer, CutsWholePacketsAndJunk)
{
    using Kind = GameFrame::Kind;
    const FrameRow rows[] = {
        {"empty", {}, Kind::kNeedMore, 0},
        {"signature only", {0xF7}, Kind::kNeedMore, 0},
        {"head alone of a longer packet", {0xF7, 0x27, 0x09, 0x00}, Kind::kNeedMore, 0},
        {"whole keepalive", {0xF7, 0x27, 0x09, 0x00, 0, 1, 2, 3, 4}, Kind::kWhole, 9},
        {"empty packet", {0xF7, 0x1B, 4, 0}, Kind::kWhole, 4},
        {"two packets", {0xF7, 0x1B, 0x04, 0x00, 0xF7, 0x1B, 0x04, 0x00}, Kind::kWhole, 4},
        {"packet and more", {0xF7, 0x0C, 6, 0, 0, 0, 0xF7}, Kind::kWhole, 6},
        {"16-bit length", Concat({{0xF7, 0x0F, 0x2C, 0x01}, Bytes(296, 0)}), Kind::kWhole, 300},
        {"junk up to next packet", {0x01, 0x02, 0xF7, 0x1B}, Kind::kMalformed, 2},
        {"junk without packet", {0x01, 0x02, 0x03}, Kind::kMalformed, 3},
        {"not a signature", {0x00, 0x0C, 6, 0}, Kind::kMalformed, 4},
        {"length below head", {0xF7, 0x0C, 0x02, 0x00, 0xF7}, Kind::kMalformed, 4},
        {"length three", {0xF7, 0x0C, 3, 0}, Kind::kMalformed, 4},
        {"length zero", {0xF7, 0x0C, 0x00, 0x00}, Kind::kMalformed, 4},
    };
    for (const auto& row : rows)
    {
        const GameFrame frame = FrameGamePacket(row.m_data);
        EXPECT_EQ(frame.m_kind, row.m_kind) << row.m_name;
        EXPECT_EQ(frame.m_length, row.m_length) << row.m_name;
    }
}

TEST(GamePacketFramer, TypeIsReadFromWholeHeadsOnly)
{
    const std::tuple<const char*, Bytes, std::optional<GamePacketType>> rows[] = {
        {"keepalive head", {0xF7, 0x27, 0x09, 0x00}, GamePacketType::kOutgoingKeepalive},
        {"leave with body", {0xF7, 0x21, 0x08, 0x00, 7, 0, 0, 0}, GamePacketType::kLeaveGame},
        {"half a head", {0xF7, 0x27}, std::nullopt},
        {"no signature", {0xF6, 0x27, 0x09, 0x00}, std::nullopt},
        {"nothing", {}, std::nullopt},
    };
    for (const auto& [name, bytes, type] : rows)
    {
        EXPECT_EQ(GamePacketTypeOf(bytes), type) << name;
        EXPECT_EQ(HasGamePacketType(bytes, GamePacketType::kOutgoingKeepalive),
                  type == GamePacketType::kOutgoingKeepalive)
            << name;
    }
}

// The socket side of framing: bytes arrive in arbitrary pieces, packets come out whole.
TEST(GamePacketFramer, CutsCoalescedAndSplitStreamsIntoThePackets)
{
    ChatToHostParams longChat{{1}, 2, ChatKind::kInGame, 0, std::string(200, 'c')};
    const std::vector<Bytes> packets = {BuildKeepalive({}), BuildChatToHost(longChat),
                                        BuildGameLoaded(), BuildLeaveGame({})};
    Bytes stream;
    for (const Bytes& packet : packets)
        stream.insert(stream.end(), packet.begin(), packet.end());
    for (std::size_t piece = 1; piece <= stream.size(); ++piece)
    {
        Bytes inbox;
        std::vector<Bytes> out;
        for (std::size_t at = 0; at < stream.size(); at += piece)
        {
            const auto end =
                stream.begin() + static_cast<std::ptrdiff_t>(std::min(stream.size(), at + piece));
            inbox.insert(inbox.end(), stream.begin() + static_cast<std::ptrdiff_t>(at), end);
            GameFrame frame;
            while ((frame = FrameGamePacket(inbox)).m_kind == GameFrame::Kind::kWhole)
            {
                out.emplace_back(inbox.begin(),
                                 inbox.begin() + static_cast<std::ptrdiff_t>(frame.m_length));
                inbox.erase(inbox.begin(),
                            inbox.begin() + static_cast<std::ptrdiff_t>(frame.m_length));
            }
            ASSERT_EQ(frame.m_kind, GameFrame::Kind::kNeedMore) << "pieces of " << piece;
        }
        EXPECT_EQ(out, packets) << "pieces of " << piece;
        EXPECT_TRUE(inbox.empty());
    }
}

} // namespace
} // namespace velt
