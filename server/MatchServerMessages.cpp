#include "server/MatchServerMessages.h"

#include <algorithm>
#include <cstring>

#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"
#include "server/Framing.h"

namespace velt
{

namespace
{

// Starts a frame: length placeholder and code. FinishFrame fills the length in.
CByteWriter StartFrame(MessageCode code, std::size_t payloadSize)
{
    CByteWriter writer(kFrameLengthBytes + 1 + payloadSize);
    writer.U32(0).U8(CodeByte(code));
    return writer;
}

std::vector<std::uint8_t> FinishFrame(CByteWriter& writer)
{
    writer.PatchU32(0, static_cast<std::uint32_t>(writer.Size() - kFrameLengthBytes));
    return writer.Take();
}

// Where a NUL-terminated text starting at pos ends (one past its NUL). A text that runs past
// the payload needs at least one byte more than the payload holds.
std::size_t TextEnd(std::span<const std::uint8_t> payload, std::size_t pos)
{
    if (pos >= payload.size())
        return pos + 1;
    const void* nul = std::memchr(payload.data() + pos, 0, payload.size() - pos);
    if (nul == nullptr)
        return payload.size() + 1;
    return static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - payload.data()) + 1;
}

} // namespace

std::uint8_t ClampRating(std::uint32_t rating)
{
    return static_cast<std::uint8_t>(std::clamp<std::uint32_t>(rating, 1, 5));
}

// Offset  Width  Field
// 0       4      channel id
std::vector<std::uint8_t> BuildMatchListRequest(const MatchListRequest& request)
{
    CByteWriter writer = StartFrame(MessageCode::MSG_MATCH_INFO, 4);
    writer.U32(request.m_channelId);
    return FinishFrame(writer);
}

// Offset  Width  Field
// 0       4      match id
std::vector<std::uint8_t> BuildReplayHeaderRequest(const ReplayHeaderRequest& request)
{
    CByteWriter writer = StartFrame(MessageCode::MSG_REPLAY_HEADER, 4);
    writer.U32(request.m_matchId);
    return FinishFrame(writer);
}

// Offset  Width  Field
// 0       4      match id
// 4       4      stream offset wanted
std::vector<std::uint8_t> BuildGameDataRequest(const GameDataRequest& request)
{
    CByteWriter writer = StartFrame(MessageCode::MSG_GAME_DATA, 8);
    writer.U32(request.m_matchId).U32(request.m_offset);
    return FinishFrame(writer);
}

// Offset  Width  Field
// 0       4      channel id
// 4       4      match id
// 8       1      rating, 1 to 5
std::vector<std::uint8_t> BuildRateMessage(const RateRequest& request)
{
    CByteWriter writer = StartFrame(MessageCode::MSG_RATE, 9);
    writer.U32(request.m_channelId).U32(request.m_matchId).U8(ClampRating(request.m_rating));
    return FinishFrame(writer);
}

// Offset  Width  Field
// 0       4      channel id
std::optional<MatchListRequest> ParseMatchListRequest(std::span<const std::uint8_t> payload)
{
    CByteReader reader(payload);
    MatchListRequest request;
    request.m_channelId = reader.U32();
    if (!reader.AtEnd())
        return std::nullopt;
    return request;
}

// Offset  Width  Field
// 0       4      match id
std::optional<ReplayHeaderRequest> ParseReplayHeaderRequest(std::span<const std::uint8_t> payload)
{
    CByteReader reader(payload);
    ReplayHeaderRequest request;
    request.m_matchId = reader.U32();
    if (!reader.AtEnd())
        return std::nullopt;
    return request;
}

// Offset  Width  Field
// 0       4      match id
// 4       4      stream offset wanted
std::optional<GameDataRequest> ParseGameDataRequest(std::span<const std::uint8_t> payload)
{
    CByteReader reader(payload);
    GameDataRequest request;
    request.m_matchId = reader.U32();
    request.m_offset = reader.U32();
    if (!reader.AtEnd())
        return std::nullopt;
    return request;
}

// Offset  Width  Field
// 0       4      channel id
// 4       4      match id
// 8       1      rating
std::optional<RateRequest> ParseRateMessage(std::span<const std::uint8_t> payload)
{
    CByteReader reader(payload);
    RateRequest request;
    request.m_channelId = reader.U32();
    request.m_matchId = reader.U32();
    request.m_rating = reader.U8();
    if (!reader.AtEnd())
        return std::nullopt;
    return request;
}

// Order  Width  Field
// 1      4      match id
// 2      4      extra
// 3      text   match name
// 4      text   streamer
// 5      text   players info
// 6      text   map path
// 7      4      length in seconds
// 8      1      status
// 9      text   start time
std::vector<std::uint8_t> BuildMatchRecord(const CMatchInfo& info)
{
    CByteWriter writer = StartFrame(MessageCode::MSG_MATCH_INFO, 18);
    writer.U32(info.m_matchId).U32(info.m_extra);
    writer.CString(info.m_matchName).CString(info.m_streamer);
    writer.CString(info.m_playersInfo).CString(info.m_mapPath);
    writer.U32(info.m_length).U8(info.m_status).CString(info.m_startTime);
    return FinishFrame(writer);
}

std::size_t MatchRecordExtent(std::span<const std::uint8_t> payload)
{
    std::size_t pos = 8;
    for (int text = 0; text < 4; ++text)
        pos = TextEnd(payload, pos);
    pos += 5;
    return TextEnd(payload, pos);
}

std::optional<CMatchInfo> ParseMatchRecord(std::span<const std::uint8_t> payload)
{
    if (MatchRecordExtent(payload) != payload.size())
        return std::nullopt;
    CByteReader reader(payload);
    CMatchInfo info;
    info.m_matchId = reader.U32();
    info.m_extra = reader.U32();
    info.m_matchName = reader.CString(payload.size());
    info.m_streamer = reader.CString(payload.size());
    info.m_playersInfo = reader.CString(payload.size());
    info.m_mapPath = reader.CString(payload.size());
    info.m_length = reader.U32();
    info.m_status = reader.U8();
    info.m_startTime = reader.CString(payload.size());
    if (!reader.AtEnd())
        return std::nullopt;
    return info;
}

// Offset  Width  Field
// 0       4      visits
// 4       4      rating count
// 8       4      rating sum
// 12      4      match id
// 16      4      reserved
std::vector<std::uint8_t> BuildMatchStats(const MatchStats& stats)
{
    CByteWriter writer = StartFrame(MessageCode::MSG_MATCH_STATS, kMatchStatsSize);
    writer.U32(stats.m_visits).U32(stats.m_ratingCount).U32(stats.m_ratingSum);
    writer.U32(stats.m_matchId).U32(stats.m_reserved);
    return FinishFrame(writer);
}

std::optional<MatchStats> ParseMatchStats(std::span<const std::uint8_t> payload)
{
    CByteReader reader(payload.first(std::min(payload.size(), kMatchStatsSize)));
    MatchStats stats;
    stats.m_visits = reader.U32();
    stats.m_ratingCount = reader.U32();
    stats.m_ratingSum = reader.U32();
    stats.m_matchId = reader.U32();
    stats.m_reserved = reader.U32();
    if (!reader.Ok())
        return std::nullopt;
    return stats;
}

// Offset  Width  Field
// 0       4      match id
// 4       1752   replay header
std::vector<std::uint8_t> BuildReplayHeaderReply(const ReplayHeaderReply& reply)
{
    CByteWriter writer = StartFrame(MessageCode::MSG_REPLAY_HEADER, 4 + reply.m_header.size());
    writer.U32(reply.m_matchId).Bytes(reply.m_header);
    return FinishFrame(writer);
}

std::optional<ReplayHeaderReply> ParseReplayHeaderReply(std::span<const std::uint8_t> payload)
{
    CByteReader reader(payload);
    ReplayHeaderReply reply;
    reply.m_matchId = reader.U32();
    reply.m_header = reader.Bytes(kReplayHeaderSize);
    if (!reader.AtEnd())
        return std::nullopt;
    return reply;
}

std::optional<std::uint32_t> ReplayHeaderReplyMatchId(std::span<const std::uint8_t> payload)
{
    CByteReader reader(payload);
    const std::uint32_t matchId = reader.U32();
    if (!reader.Ok())
        return std::nullopt;
    return matchId;
}

// Offset     Width  Field
// 0          4      match id
// 4          4      stream offset of the first data byte
// 8          4      count
// 12         count  data, when count is at most 2000
// 12+count   2      match length so far in seconds
std::vector<std::uint8_t> BuildGameDataChunk(const GameDataChunk& chunk)
{
    CByteWriter writer = StartFrame(MessageCode::MSG_GAME_DATA, 14 + chunk.m_data.size());
    writer.U32(chunk.m_matchId).U32(chunk.m_offset).U32(chunk.m_count);
    writer.Bytes(chunk.m_data).U16(chunk.m_matchSeconds);
    return FinishFrame(writer);
}

std::optional<GameDataChunk> ParseGameDataChunk(std::span<const std::uint8_t> payload)
{
    CByteReader reader(payload);
    GameDataChunk chunk;
    chunk.m_matchId = reader.U32();
    chunk.m_offset = reader.U32();
    chunk.m_count = reader.U32();
    if (chunk.m_count <= kFullChunkSize)
    {
        chunk.m_data = reader.Bytes(chunk.m_count);
        reader.Skip(2);
    }
    if (!reader.Ok())
        return std::nullopt;
    if (payload.size() >= 14)
    {
        CByteReader tail(payload.last(2));
        chunk.m_matchSeconds = tail.U16();
    }
    return chunk;
}

} // namespace velt
