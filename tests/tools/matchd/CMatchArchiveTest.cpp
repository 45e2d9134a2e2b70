#include <gtest/gtest.h>

#include "host/ReplayHeader.h"
#include "tests/doubles/CManualClock.h"
#include "tests/tools/matchd/MatchdTestSupport.h"
#include "tools/matchd/CMatchArchive.h"
#include "tools/matchd/SyntheticMatchGenerator.h"

using namespace velt;
using velt::CManualClock;

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

Bytes DataOf(const GameDataChunk& chunk)
{
    return Bytes(chunk.m_data.begin(), chunk.m_data.end());
}

Bytes Slice(const Bytes& stream, std::size_t offset, std::size_t count)
{
    return Bytes(stream.begin() + static_cast<std::ptrdiff_t>(offset),
                 stream.begin() + static_cast<std::ptrdiff_t>(offset + count));
}

} // namespace

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
