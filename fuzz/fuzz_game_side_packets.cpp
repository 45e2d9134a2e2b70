// The game-side packet parsers and the stream framer over arbitrary bytes. Besides memory
// safety it checks that every game-to-host packet that parses builds back to a packet that
// parses to the same fields.

#include <cstddef>
#include <cstdint>
#include <span>

#include "tools/w3gs/GameSidePackets.h"

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
    (void)ParseGameInfo(packet);
    (void)ParseTimeSlot(packet);
    (void)ParseChatFromHost(packet);
    (void)IsLeaveAck(packet);
    (void)ParseMapCheck(packet);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::span<const std::uint8_t> rest(data, size);
    ParseEveryWay(rest);
    for (;;)
    {
        const GameStreamFrame frame = FrameGameStream(rest);
        if (frame.m_kind == GameStreamFrame::Kind::kNeedMore)
            break;
        if (frame.m_kind == GameStreamFrame::Kind::kMalformed)
        {
            rest = rest.subspan(1);
            continue;
        }
        if (frame.m_size < kGamePacketHeadSize || frame.m_size > rest.size())
            __builtin_trap();
        ParseEveryWay(rest.first(frame.m_size));
        rest = rest.subspan(frame.m_size);
    }
    return 0;
}
