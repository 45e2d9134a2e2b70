// Every packet parser and the stream framer over arbitrary bytes. Besides memory safety it
// checks that every game-to-host packet that parses builds back to a packet that parses to the
// same fields.

#include <cstddef>
#include <cstdint>
#include <span>

#include "host/packets/GamePacketFramer.h"
#include "host/packets/GameToHostPackets.h"
#include "host/packets/LobbyPackets.h"
#include "host/packets/PlayPackets.h"

using namespace velt;

namespace
{

template <typename Parse, typename Build>
void CheckRebuild(std::span<const std::uint8_t> packet, Parse parse, Build build)
{
    const auto parsed = parse(packet);
    if (!parsed)
        return;
    const auto rebuilt = build(*parsed);
    if (parse(rebuilt) != parsed)
        __builtin_trap();
}

void ParseEveryWay(std::span<const std::uint8_t> packet)
{
    CheckRebuild(packet, ParseJoinRequest, BuildJoinRequest);
    CheckRebuild(packet, ParseMapReport, BuildMapReport);
    CheckRebuild(packet, ParseKeepalive, BuildKeepalive);
    CheckRebuild(packet, ParseChatToHost, BuildChatToHost);
    CheckRebuild(packet, ParseLeaveGame, BuildLeaveGame);
    (void)IsGameLoaded(packet);
    (void)ParseViewerChat(packet);
    (void)GamePacketTypeOf(packet);
    (void)ParseGameInfo(packet);
    (void)ParseGameInfoDetails(packet);
    (void)ParseSlotInfoJoin(packet);
    (void)ParseSlotInfo(packet);
    (void)ParsePlayerInfo(packet);
    (void)ParseMapCheck(packet);
    (void)ParseTimeSlot(packet);
    (void)ReadTimeSlot(packet);
    (void)ParseChatFromHost(packet);
    (void)RecordedChatSender(packet);
    (void)ParsePlayerLeave(packet);
    (void)IsLeaveAck(packet);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::span<const std::uint8_t> rest(data, size);
    ParseEveryWay(rest);
    for (;;)
    {
        const GameFrame frame = FrameGamePacket(rest);
        if (frame.m_kind == GameFrame::Kind::kNeedMore)
            break;
        if (frame.m_kind == GameFrame::Kind::kMalformed)
        {
            rest = rest.subspan(1);
            continue;
        }
        if (frame.m_length < kGamePacketHeadSize || frame.m_length > rest.size())
            __builtin_trap();
        ParseEveryWay(rest.first(frame.m_length));
        rest = rest.subspan(frame.m_length);
    }
    return 0;
}
