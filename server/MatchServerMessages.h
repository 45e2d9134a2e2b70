#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "host/DataChunk.h"
#include "server/CMatchInfo.h"
#include "server/MatchStats.h"

namespace velt
{

// Builders return whole frames (length field, code, payload); parsers take the payload, the
// bytes after the code byte.

// Size of the per-match header block the server sends.
constexpr std::size_t kReplayHeaderSize = 1752;
// Statistics payload: five u32 fields.
constexpr std::size_t kMatchStatsSize = 20;

struct MatchListRequest
{
    std::uint32_t m_channelId = 0;
};

struct ReplayHeaderRequest
{
    std::uint32_t m_matchId = 0;
};

struct GameDataRequest
{
    std::uint32_t m_matchId = 0;
    std::uint32_t m_offset = 0;
};

struct RateRequest
{
    std::uint32_t m_channelId = 0;
    std::uint32_t m_matchId = 0;
    std::uint32_t m_rating = 0; // as the viewer typed it; the builder clamps it to 1..5
};

struct ReplayHeaderReply
{
    std::uint32_t m_matchId = 0;
    std::span<const std::uint8_t> m_header; // kReplayHeaderSize bytes in a well-formed reply
};

struct GameDataChunk
{
    std::uint32_t m_matchId = 0;
    std::uint32_t m_offset = 0;
    // 1..2000 data bytes; 0 none available yet; above 2000 the stream has ended, no data.
    std::uint32_t m_count = 0;
    std::span<const std::uint8_t> m_data;
    std::uint16_t m_matchSeconds = 0; // the match's length so far
};

// A viewer's rating as it goes on the wire: 0 becomes 1, above 5 becomes 5.
std::uint8_t ClampRating(std::uint32_t rating);

// Client to server.
std::vector<std::uint8_t> BuildMatchListRequest(const MatchListRequest& request);
std::vector<std::uint8_t> BuildReplayHeaderRequest(const ReplayHeaderRequest& request);
std::vector<std::uint8_t> BuildGameDataRequest(const GameDataRequest& request);
std::vector<std::uint8_t> BuildRateMessage(const RateRequest& request);

std::optional<MatchListRequest> ParseMatchListRequest(std::span<const std::uint8_t> payload);
std::optional<ReplayHeaderRequest> ParseReplayHeaderRequest(std::span<const std::uint8_t> payload);
std::optional<GameDataRequest> ParseGameDataRequest(std::span<const std::uint8_t> payload);
// The rating as sent, not clamped again.
std::optional<RateRequest> ParseRateMessage(std::span<const std::uint8_t> payload);

// Server to client.
std::vector<std::uint8_t> BuildMatchRecord(const CMatchInfo& info);
std::vector<std::uint8_t> BuildMatchStats(const MatchStats& stats);
std::vector<std::uint8_t> BuildReplayHeaderReply(const ReplayHeaderReply& reply);
std::vector<std::uint8_t> BuildGameDataChunk(const GameDataChunk& chunk);

// A record is accepted only when its nine fields take exactly the whole payload. The length
// text and the row are left empty.
std::optional<CMatchInfo> ParseMatchRecord(std::span<const std::uint8_t> payload);
// The bytes the nine fields take when read from the start of the payload; when the payload
// ends inside a field, more than the payload holds. Reported with a rejected record.
std::size_t MatchRecordExtent(std::span<const std::uint8_t> payload);
// At least kMatchStatsSize bytes; more are ignored.
std::optional<MatchStats> ParseMatchStats(std::span<const std::uint8_t> payload);
// Exactly the match id and kReplayHeaderSize header bytes.
std::optional<ReplayHeaderReply> ParseReplayHeaderReply(std::span<const std::uint8_t> payload);
// The match id that begins a header reply of any size, so that a refusal can name the match;
// nothing when the payload is too short to hold one.
std::optional<std::uint32_t> ReplayHeaderReplyMatchId(std::span<const std::uint8_t> payload);
// The data must lie inside the payload; the match length is read from its last two bytes.
std::optional<GameDataChunk> ParseGameDataChunk(std::span<const std::uint8_t> payload);

} // namespace velt
