#include "server/MatchServerMessages.h"
#include "server/Framing.h"

#include <gtest/gtest.h>

#include <functional>

namespace velt
{
namespace
{

using Bytes = std::vector<std::uint8_t>;

// The frame must carry the code, a length that matches its size, and hand back the payload.
Bytes PayloadOf(const Bytes& frame, MessageCode code)
{
    const FrameCut cut = CutFrame(frame);
    EXPECT_EQ(cut.m_status, FrameStatus::kFrame);
    EXPECT_EQ(cut.m_frameSize, frame.size());
    if (cut.m_body.empty())
        return {};
    EXPECT_EQ(cut.m_body[0], CodeByte(code));
    return Bytes(cut.m_body.begin() + 1, cut.m_body.end());
}

struct RequestRow
{
    const char* m_name;
    Bytes m_frame;
    Bytes m_wire;
};

class RequestBytesTest : public ::testing::TestWithParam<RequestRow>
{
};

TEST_P(RequestBytesTest, ExactWireBytes)
{
    EXPECT_EQ(GetParam().m_frame, GetParam().m_wire);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, RequestBytesTest,
    ::testing::Values(
        RequestRow{
            "MatchList", BuildMatchListRequest({0x01020304}), {5, 0, 0, 0, 0x3F, 4, 3, 2, 1}},
        RequestRow{"ReplayHeader", BuildReplayHeaderRequest({7}), {5, 0, 0, 0, 0x40, 7, 0, 0, 0}},
        RequestRow{"GameData",
                   BuildGameDataRequest({7, 2000}),
                   {9, 0, 0, 0, 0x3E, 7, 0, 0, 0, 0xD0, 0x07, 0, 0}},
        RequestRow{"Rate",
                   BuildRateMessage({1, 0xAABBCCDD, 4}),
                   {10, 0, 0, 0, 0x4C, 1, 0, 0, 0, 0xDD, 0xCC, 0xBB, 0xAA, 4}}),
    [](const auto& info) { return std::string(info.param.m_name); });

TEST(RateMessageTest, ClampsTheRatingIntoOneToFive)
{
    const std::pair<std::uint32_t, std::uint8_t> rows[] = {
        {0, 1}, {1, 1}, {3, 3}, {5, 5}, {6, 5}, {7, 5}, {255, 5}, {0xFFFFFFFFu, 5}};
    for (const auto& [typed, sent] : rows)
    {
        const Bytes frame = BuildRateMessage({9, 42, typed});
        ASSERT_EQ(frame.size(), 14u);
        const auto parsed = ParseRateMessage(PayloadOf(frame, MessageCode::MSG_RATE));
        ASSERT_TRUE(parsed) << typed;
        EXPECT_EQ(parsed->m_rating, sent) << typed;
        EXPECT_EQ(parsed->m_channelId, 9u);
        EXPECT_EQ(parsed->m_matchId, 42u);
    }
}

TEST(RequestParseTest, RoundTripsAndRejectsOtherSizes)
{
    const auto list =
        ParseMatchListRequest(PayloadOf(BuildMatchListRequest({77}), MessageCode::MSG_MATCH_INFO));
    ASSERT_TRUE(list);
    EXPECT_EQ(list->m_channelId, 77u);
    const auto header = ParseReplayHeaderRequest(
        PayloadOf(BuildReplayHeaderRequest({88}), MessageCode::MSG_REPLAY_HEADER));
    ASSERT_TRUE(header);
    EXPECT_EQ(header->m_matchId, 88u);
    const auto data = ParseGameDataRequest(
        PayloadOf(BuildGameDataRequest({5, 4000}), MessageCode::MSG_GAME_DATA));
    ASSERT_TRUE(data);
    EXPECT_EQ(data->m_matchId, 5u);
    EXPECT_EQ(data->m_offset, 4000u);

    const Bytes nine(9, 1);
    for (std::size_t size = 0; size <= nine.size(); ++size)
    {
        const auto bytes = std::span(nine).first(size);
        EXPECT_EQ(ParseMatchListRequest(bytes).has_value(), size == 4) << size;
        EXPECT_EQ(ParseReplayHeaderRequest(bytes).has_value(), size == 4) << size;
        EXPECT_EQ(ParseGameDataRequest(bytes).has_value(), size == 8) << size;
        EXPECT_EQ(ParseRateMessage(bytes).has_value(), size == 9) << size;
    }
}

CMatchInfo SampleMatch()
{
    CMatchInfo info;
    info.m_matchId = 0x11223344;
    info.m_extra = 99;
    info.m_matchName = "Grubby vs Moon";
    info.m_streamer = "velt";
    info.m_playersInfo = "Grubby(O) Moon(N)";
    info.m_mapPath = "Maps\\FrozenThrone\\(4)TwistedMeadows.w3x";
    info.m_length = 3930;
    info.m_status = 1;
    info.m_startTime = "2009-05-01 20:15";
    return info;
}

TEST(MatchRecordTest, RoundTripsEveryField)
{
    const CMatchInfo sent = SampleMatch();
    const auto parsed =
        ParseMatchRecord(PayloadOf(BuildMatchRecord(sent), MessageCode::MSG_MATCH_INFO));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->m_matchId, sent.m_matchId);
    EXPECT_EQ(parsed->m_extra, sent.m_extra);
    EXPECT_EQ(parsed->m_matchName, sent.m_matchName);
    EXPECT_EQ(parsed->m_streamer, sent.m_streamer);
    EXPECT_EQ(parsed->m_playersInfo, sent.m_playersInfo);
    EXPECT_EQ(parsed->m_mapPath, sent.m_mapPath);
    EXPECT_EQ(parsed->m_length, sent.m_length);
    EXPECT_EQ(parsed->m_status, sent.m_status);
    EXPECT_EQ(parsed->m_startTime, sent.m_startTime);
}

TEST(MatchRecordTest, EmptyStringsMakeEighteenBytesAndOneMoreIsRejected)
{
    Bytes payload = PayloadOf(BuildMatchRecord(CMatchInfo{}), MessageCode::MSG_MATCH_INFO);
    ASSERT_EQ(payload.size(), 18u);
    EXPECT_TRUE(ParseMatchRecord(payload));
    EXPECT_EQ(MatchRecordExtent(payload), 18u);
    payload.push_back(0);
    EXPECT_FALSE(ParseMatchRecord(payload));
    EXPECT_EQ(MatchRecordExtent(payload), 18u);
}

// Every truncation of a record is rejected and reports that the fields need more than it has.
TEST(MatchRecordTest, EveryTruncationIsRejected)
{
    const Bytes payload = PayloadOf(BuildMatchRecord(SampleMatch()), MessageCode::MSG_MATCH_INFO);
    EXPECT_EQ(MatchRecordExtent(payload), payload.size());
    for (std::size_t size = 0; size < payload.size(); ++size)
    {
        const auto truncated = std::span(payload).first(size);
        EXPECT_FALSE(ParseMatchRecord(truncated)) << size;
        EXPECT_GT(MatchRecordExtent(truncated), size) << size;
    }
}

TEST(MatchStatsTest, RoundTripsAndNeedsTwentyBytes)
{
    const MatchStats sent{5, 2, 9, 0xDEADBEEF, 3};
    Bytes payload = PayloadOf(BuildMatchStats(sent), MessageCode::MSG_MATCH_STATS);
    ASSERT_EQ(payload.size(), kMatchStatsSize);
    for (std::size_t size = 0; size < payload.size(); ++size)
        EXPECT_FALSE(ParseMatchStats(std::span(payload).first(size))) << size;
    payload.push_back(0xFF);
    const auto parsed = ParseMatchStats(payload);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->m_visits, 5u);
    EXPECT_EQ(parsed->m_ratingCount, 2u);
    EXPECT_EQ(parsed->m_ratingSum, 9u);
    EXPECT_EQ(parsed->m_matchId, 0xDEADBEEFu);
    EXPECT_EQ(parsed->m_reserved, 3u);
}

TEST(ReplayHeaderReplyTest, RoundTripsAndNeedsExactlyTheHeader)
{
    Bytes header(kReplayHeaderSize);
    for (std::size_t i = 0; i < header.size(); ++i)
        header[i] = static_cast<std::uint8_t>(i * 7);
    const Bytes frame = BuildReplayHeaderReply({1234, header});
    EXPECT_EQ(frame.size(), 4u + 1757u);
    const Bytes payload = PayloadOf(frame, MessageCode::MSG_REPLAY_HEADER);
    const auto parsed = ParseReplayHeaderReply(payload);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->m_matchId, 1234u);
    EXPECT_TRUE(
        std::equal(header.begin(), header.end(), parsed->m_header.begin(), parsed->m_header.end()));
    for (std::size_t size : {0u, 4u, 1755u})
        EXPECT_FALSE(ParseReplayHeaderReply(std::span(payload).first(size))) << size;
    Bytes longer = payload;
    longer.push_back(0);
    EXPECT_FALSE(ParseReplayHeaderReply(longer));
}

TEST(GameDataChunkTest, RoundTripsEveryCountKind)
{
    const Bytes data(2000, 0xAB);
    for (std::uint32_t count : {0u, 1u, 1999u, 2000u})
    {
        const auto bytes = std::span(data).first(count);
        const Bytes frame = BuildGameDataChunk({3, 4000, count, bytes, 65});
        EXPECT_EQ(frame.size(), 4u + count + 15u);
        const Bytes payload = PayloadOf(frame, MessageCode::MSG_GAME_DATA);
        const auto parsed = ParseGameDataChunk(payload);
        ASSERT_TRUE(parsed) << count;
        EXPECT_EQ(parsed->m_matchId, 3u);
        EXPECT_EQ(parsed->m_offset, 4000u);
        EXPECT_EQ(parsed->m_count, count);
        EXPECT_EQ(parsed->m_data.size(), count);
        EXPECT_EQ(parsed->m_matchSeconds, 65);
        for (std::size_t size = 0; size < payload.size(); ++size)
            EXPECT_FALSE(ParseGameDataChunk(std::span(payload).first(size)))
                << count << " " << size;
    }
}

TEST(GameDataChunkTest, EndOfStreamCarriesNoDataAndSecondsComeFromTheLastBytes)
{
    const auto ended = ParseGameDataChunk(
        PayloadOf(BuildGameDataChunk({3, 8000, 2001, {}, 0}), MessageCode::MSG_GAME_DATA));
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->m_count, 2001u);
    EXPECT_TRUE(ended->m_data.empty());

    // Two stray bytes after the data: the length is the frame's last two bytes.
    Bytes payload =
        PayloadOf(BuildGameDataChunk({3, 0, 2, Bytes{1, 2}, 10}), MessageCode::MSG_GAME_DATA);
    payload.push_back(0x41);
    payload.push_back(0x00);
    const auto parsed = ParseGameDataChunk(payload);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->m_matchSeconds, 0x41);
    EXPECT_EQ(parsed->m_data.size(), 2u);
}

} // namespace
} // namespace velt
