#include "tools/matchd/CRequestHandler.h"

#include <algorithm>

#include "server/Framing.h"
#include "server/MatchServerMessages.h"
#include "server/MessageCode.h"
#include "tools/matchd/CMatchArchive.h"
#include "tools/matchd/CStatsStore.h"

namespace velt
{

namespace
{

void Append(std::vector<std::uint8_t>& out, const std::vector<std::uint8_t>& frame)
{
    out.insert(out.end(), frame.begin(), frame.end());
}

void AppendEmptyFrame(std::vector<std::uint8_t>& out, MessageCode code)
{
    Append(out, BuildFrame({CodeByte(code), {}}));
}

} // namespace

// Offset  Width  Field
// 0       4      L: bytes after this field, 1 to kMaxRequestLength
// 4       1      code
// 5       L-1    payload
RequestCut CutRequest(std::span<const std::uint8_t> buffered)
{
    RequestCut cut;
    if (buffered.size() < kFrameLengthBytes)
        return cut;
    const std::uint32_t length = static_cast<std::uint32_t>(buffered[0]) |
                                 (static_cast<std::uint32_t>(buffered[1]) << 8) |
                                 (static_cast<std::uint32_t>(buffered[2]) << 16) |
                                 (static_cast<std::uint32_t>(buffered[3]) << 24);
    if (length == 0 || length > kMaxRequestLength)
    {
        cut.m_kind = RequestCut::Kind::kRefused;
        return cut;
    }
    const FrameCut frame = CutFrame(buffered);
    if (frame.m_status == FrameStatus::kNeedMore)
        return cut;
    if (frame.m_status != FrameStatus::kFrame || frame.m_discard)
    {
        cut.m_kind = RequestCut::Kind::kRefused;
        return cut;
    }
    cut.m_kind = RequestCut::Kind::kRequest;
    cut.m_size = frame.m_frameSize;
    cut.m_body = frame.m_body;
    return cut;
}

CRequestHandler::CRequestHandler(const CMatchArchive& archive, CStatsStore& stats,
                                 std::vector<std::uint32_t> channels)
    : m_archive(archive), m_stats(stats), m_channels(std::move(channels))
{
}

bool CRequestHandler::IsServed(std::uint32_t channelId) const
{
    return std::find(m_channels.begin(), m_channels.end(), channelId) != m_channels.end();
}

bool CRequestHandler::AnswerList(std::span<const std::uint8_t> payload,
                                 std::vector<std::uint8_t>& out) const
{
    const auto request = ParseMatchListRequest(payload);
    if (!request)
        return false;
    if (!IsServed(request->m_channelId))
    {
        AppendEmptyFrame(out, MessageCode::MSG_CHANNEL_INVALID);
        return true;
    }
    for (const CMatchInfo& info : m_archive.Records())
    {
        Append(out, BuildMatchRecord(info));
        Append(out, BuildMatchStats(m_stats.Stats(info.m_matchId)));
    }
    AppendEmptyFrame(out, MessageCode::MSG_LIST_END);
    return true;
}

bool CRequestHandler::Handle(std::span<const std::uint8_t> body,
                             std::vector<std::uint8_t>& out) const
{
    if (body.empty())
        return false;
    const auto payload = body.subspan(1);
    switch (static_cast<MessageCode>(body[0]))
    {
    case MessageCode::MSG_MATCH_INFO:
        return AnswerList(payload, out);
    case MessageCode::MSG_REPLAY_HEADER:
    {
        const auto request = ParseReplayHeaderRequest(payload);
        if (!request)
            return false;
        const auto header = m_archive.Header(request->m_matchId);
        // An unknown match gets no header at all.
        if (!header.empty())
        {
            m_stats.AddVisit(request->m_matchId);
            Append(out, BuildReplayHeaderReply({request->m_matchId, header}));
        }
        return true;
    }
    case MessageCode::MSG_GAME_DATA:
    {
        const auto request = ParseGameDataRequest(payload);
        if (!request)
            return false;
        Append(out, BuildGameDataChunk(m_archive.Chunk(request->m_matchId, request->m_offset)));
        return true;
    }
    case MessageCode::MSG_RATE:
    {
        const auto request = ParseRateMessage(payload);
        if (!request)
            return false;
        // Ratings outside 1 to 5, for unknown matches or other channels do not count.
        if (IsServed(request->m_channelId) && m_archive.Find(request->m_matchId) != nullptr)
            m_stats.AddRating(request->m_matchId, static_cast<std::uint8_t>(request->m_rating));
        return true;
    }
    default:
        return false;
    }
}

} // namespace velt
