#include <gtest/gtest.h>

#include "host/ReplayHeader.h"
#include "tests/tools/matchd/MatchdTestSupport.h"
#include "tools/matchd/CMatchArchive.h"
#include "tools/matchd/SyntheticMatchGenerator.h"

using namespace velt;
using velt::test::CManualClock;

namespace
{

using Bytes = std::vector<std::uint8_t>;

SyntheticSettings ShortMatches(std::uint32_t count, std::uint32_t live)
{
    SyntheticSettings settings;
    settings.m_seed = 11;
    settings.m_count = count;
    settings.m_liveCount = live;
    settings.m_minSeconds = 200;
    settings.m_maxSeconds = 300;
    return settings;
}

Bytes DataOf(const GameDataChunk& chunk) { return Bytes(chunk.m_data.begin(), chunk.m_data.end()); }

Bytes Slice(const Bytes& stream, std::size_t offset, std::size_t count)
{
    return Bytes(stream.begin() + static_cast<std::ptrdiff_t>(offset),
                 stream.begin() + static_cast<std::ptrdiff_t>(offset + count));
}

} // namespace

TEST(CMatchArchiveTest, CompletedMatchAnswersEveryOffset)
{
    CManualClock clock;
    CMatchArchive archive(GenerateSyntheticMatches(ShortMatches(1, 0)), clock);
    const SyntheticMatch& match = *archive.Find(kFirstSyntheticMatchId);
    const Bytes& stream = match.m_stream;
    const std::uint32_t size = static_cast<std::uint32_t>(stream.size());
    const std::uint16_t seconds = static_cast<std::uint16_t>(match.m_durationMs / 1000);
    const struct
    {
        std::uint32_t m_offset;
        std::uint32_t m_count;
    } rows[] = {
        {0, 2000},           {1, 2000},     {1999, 2000},    {2000, 2000},
        {size - 2001, 2000}, {size - 2000, 2000}, {size - 1999, 1999}, {size - 1, 1},
        {size, kEndOfStreamCount}, {size + 1, kEndOfStreamCount}, {0xFFFFFFFF, kEndOfStreamCount},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.m_offset);
        const GameDataChunk chunk = archive.Chunk(kFirstSyntheticMatchId, row.m_offset);
        EXPECT_EQ(chunk.m_matchId, kFirstSyntheticMatchId);
        EXPECT_EQ(chunk.m_offset, row.m_offset);
        EXPECT_EQ(chunk.m_count, row.m_count);
        EXPECT_EQ(chunk.m_matchSeconds, seconds);
        if (row.m_count <= 2000)
            EXPECT_EQ(DataOf(chunk), Slice(stream, row.m_offset, row.m_count));
        else
            EXPECT_TRUE(chunk.m_data.empty());
    }
    // Chunk after chunk from 0 gives back the stream exactly, then the end marker.
    Bytes joined;
    std::uint32_t offset = 0;
    for (;;)
    {
        const GameDataChunk chunk = archive.Chunk(kFirstSyntheticMatchId, offset);
        if (chunk.m_count > 2000)
            break;
        ASSERT_GT(chunk.m_count, 0u);
        joined.insert(joined.end(), chunk.m_data.begin(), chunk.m_data.end());
        offset += chunk.m_count;
    }
    EXPECT_EQ(joined, stream);
}

TEST(CMatchArchiveTest, LiveMatchGrowsWithTheClockAndThenEnds)
{
    CManualClock clock;
    CMatchArchive archive(GenerateSyntheticMatches(ShortMatches(2, 1)), clock);
    const SyntheticMatch& live = *archive.Find(kFirstSyntheticMatchId);
    ASSERT_TRUE(live.m_live);

    // At the start nothing has been played.
    EXPECT_EQ(archive.Chunk(live.m_info.m_matchId, 0).m_count, 0u);
    EXPECT_EQ(archive.Records()[0].m_status, 0);
    EXPECT_EQ(archive.Records()[0].m_length, 0u);

    std::uint32_t previousEnd = 0;
    for (const std::uint64_t at : {30000ull, 61500ull, 150000ull})
    {
        SCOPED_TRACE(at);
        clock.Advance(at - (clock.NowMs() - 1000));
        const std::uint32_t released = live.StreamEndAt(at);
        ASSERT_GT(released, previousEnd);
        const GameDataChunk first = archive.Chunk(live.m_info.m_matchId, 0);
        EXPECT_EQ(first.m_count, std::min<std::uint32_t>(2000, released));
        EXPECT_EQ(first.m_matchSeconds, at / 1000);
        // The live edge: the rest of what has been played, then nothing.
        const GameDataChunk edge = archive.Chunk(live.m_info.m_matchId, released - 10);
        EXPECT_EQ(edge.m_count, 10u);
        EXPECT_EQ(DataOf(edge), Slice(live.m_stream, released - 10, 10));
        EXPECT_EQ(archive.Chunk(live.m_info.m_matchId, released).m_count, 0u);
        const CMatchInfo record = archive.Records()[0];
        EXPECT_EQ(record.m_status, 0);
        EXPECT_EQ(record.m_length, at / 1000);
        ReplayHeader header;
        header.Assign(archive.Header(live.m_info.m_matchId));
        EXPECT_EQ(header.U8(ReplayHeader::kNotLiveOffset), 0);
        EXPECT_EQ(header.U16(ReplayHeader::kMatchSecondsOffset), at / 1000);
        previousEnd = released;
    }

    clock.Advance(live.m_durationMs);
    const auto size = static_cast<std::uint32_t>(live.m_stream.size());
    EXPECT_EQ(archive.Chunk(live.m_info.m_matchId, size - 5).m_count, 5u);
    const GameDataChunk end = archive.Chunk(live.m_info.m_matchId, size);
    EXPECT_EQ(end.m_count, kEndOfStreamCount);
    EXPECT_EQ(end.m_matchSeconds, live.m_durationMs / 1000);
    EXPECT_EQ(archive.Records()[0].m_status, 1);
    EXPECT_EQ(archive.Records()[0].m_length, live.m_durationMs / 1000);
    EXPECT_EQ(archive.Header(live.m_info.m_matchId)[ReplayHeader::kNotLiveOffset], 1);
    // The completed match beside it was whole from the start.
    EXPECT_EQ(archive.Records()[1].m_status, 1);
}

TEST(CMatchArchiveTest, UnknownMatchGetsNoHeaderAndAnEmptyChunk)
{
    CManualClock clock;
    CMatchArchive archive(GenerateSyntheticMatches(ShortMatches(2, 0)), clock);
    for (const std::uint32_t id : {0u, 3u, 0xFFFFFFFFu})
    {
        EXPECT_TRUE(archive.Header(id).empty());
        const GameDataChunk chunk = archive.Chunk(id, 0);
        EXPECT_EQ(chunk.m_matchId, id);
        EXPECT_EQ(chunk.m_count, 0u);
        EXPECT_EQ(chunk.m_matchSeconds, 0);
        EXPECT_EQ(archive.Find(id), nullptr);
    }
    EXPECT_EQ(archive.Header(2).size(), ReplayHeader::kHeaderSize);
}
