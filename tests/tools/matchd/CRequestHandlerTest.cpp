#include <gtest/gtest.h>

#include "server/Framing.h"
#include "tests/doubles/CManualClock.h"
#include "tests/tools/matchd/MatchdTestSupport.h"
#include "tools/matchd/CMatchArchive.h"
#include "tools/matchd/CRequestHandler.h"
#include "tools/matchd/CStatsStore.h"
#include "tools/matchd/SyntheticMatchGenerator.h"

using namespace velt;

namespace
{

using Bytes = std::vector<std::uint8_t>;

Bytes Le32(std::uint32_t value)
{
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

Bytes Join(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

} // namespace

TEST(CutRequestTest, TellsARequestFromTooLittleAndFromTooMuch)
{
    using Kind = RequestCut::Kind;
    const Bytes header = Join(Le32(5), {0x40, 1, 0, 0, 0});
    const struct
    {
        const char* m_what;
        Bytes m_bytes;
        Kind m_kind;
        std::size_t m_size;
    } rows[] = {
        {"nothing", {}, Kind::kNeedMore, 0},
        {"part of the length", {5, 0, 0}, Kind::kNeedMore, 0},
        {"length only", Le32(5), Kind::kNeedMore, 0},
        {"part of the body", Join(Le32(5), {0x40, 1}), Kind::kNeedMore, 0},
        {"whole request", header, Kind::kRequest, 9},
        {"request and the next one's start", Join(header, {9, 0}), Kind::kRequest, 9},
        {"length 0", Le32(0), Kind::kRefused, 0},
        {"length 11", Le32(11), Kind::kRefused, 0},
        {"length 2048", Join(Le32(2048), {0x3E}), Kind::kRefused, 0},
        {"length 4 GiB - 1", Le32(0xFFFFFFFF), Kind::kRefused, 0},
        {"length 10, the longest", Join(Le32(10), Bytes(10, 1)), Kind::kRequest, 14},
    };
    for (const auto& row : rows)
    {
        const RequestCut cut = CutRequest(row.m_bytes);
        EXPECT_EQ(cut.m_kind, row.m_kind) << row.m_what;
        EXPECT_EQ(cut.m_size, row.m_size) << row.m_what;
        if (cut.m_kind == Kind::kRequest)
        {
            EXPECT_EQ(cut.m_body.size(), row.m_size - 4) << row.m_what;
        }
    }
}

TEST(CRequestHandlerTest, EachRequestGetsItsFramesOrEndsTheClient)
{
    CManualClock clock;
    SyntheticSettings synthetic;
    synthetic.m_count = 2;
    synthetic.m_minSeconds = 200;
    synthetic.m_maxSeconds = 200;
    CMatchArchive archive(GenerateSyntheticMatches(synthetic), clock);
    CStatsStore stats;
    ASSERT_TRUE(stats.Open(""));
    const CRequestHandler handler(archive, stats, {1, 3});
    const struct
    {
        const char* m_what;
        Bytes m_body;
        bool m_keep;
        std::vector<std::uint8_t> m_codes; // of the answer's frames, in order
    } rows[] = {
        {"list, served", {0x3F, 3, 0, 0, 0}, true, {0x3F, 0x4B, 0x3F, 0x4B, 0x49}},
        {"list, not served", {0x3F, 2, 0, 0, 0}, true, {0x4A}},
        {"header", {0x40, 2, 0, 0, 0}, true, {0x40}},
        {"header, unknown match", {0x40, 9, 0, 0, 0}, true, {}},
        {"data", {0x3E, 1, 0, 0, 0, 0, 0, 0, 0}, true, {0x3E}},
        {"data, unknown match", {0x3E, 9, 0, 0, 0, 0, 0, 0, 0}, true, {0x3E}},
        {"rating", {0x4C, 1, 0, 0, 0, 1, 0, 0, 0, 5}, true, {}},
        {"rating 0", {0x4C, 1, 0, 0, 0, 1, 0, 0, 0, 0}, true, {}},
        {"no code", {}, false, {}},
        {"unknown code", {0x41, 1, 0, 0, 0}, false, {}},
        {"list end code", {0x49}, false, {}},
        {"list, 3 bytes", {0x3F, 1, 0, 0}, false, {}},
        {"header, 5 bytes", {0x40, 1, 0, 0, 0, 0}, false, {}},
        {"data, 7 bytes", {0x3E, 1, 0, 0, 0, 0, 0, 0}, false, {}},
        {"rating, 10 bytes", {0x4C, 1, 0, 0, 0, 1, 0, 0, 0, 5, 5}, false, {}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.m_what);
        Bytes answer;
        EXPECT_EQ(handler.Handle(row.m_body, answer), row.m_keep);
        std::vector<std::uint8_t> codes;
        std::span<const std::uint8_t> rest(answer);
        while (!rest.empty())
        {
            const FrameCut cut = CutFrame(rest);
            ASSERT_EQ(cut.m_status, FrameStatus::kFrame);
            ASSERT_FALSE(cut.m_discard);
            codes.push_back(cut.m_body[0]);
            rest = rest.subspan(cut.m_frameSize);
        }
        EXPECT_EQ(codes, row.m_codes);
    }
    EXPECT_EQ(stats.Stats(2).m_visits, 1u);
    EXPECT_EQ(stats.Stats(9).m_visits, 0u);
    EXPECT_EQ(stats.Stats(1).m_ratingCount, 1u);
    EXPECT_EQ(stats.Stats(1).m_ratingSum, 5u);
}
