#include "server/MatchCatalogue.h"

#include <gtest/gtest.h>

namespace velt
{
namespace
{

struct LengthRow
{
    std::uint32_t m_seconds;
    const char* m_text;
};

class LengthTextTest : public ::testing::TestWithParam<LengthRow>
{
};

TEST_P(LengthTextTest, FormatsHoursOnlyFromAnHourOn)
{
    EXPECT_EQ(LengthText(GetParam().m_seconds), GetParam().m_text);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, LengthTextTest,
    ::testing::Values(LengthRow{0, "0 min:0 sec"}, LengthRow{65, "1 min:5 sec"},
                      LengthRow{3599, "59 min:59 sec"}, LengthRow{3600, "1 hr :0 min:0 sec"},
                      LengthRow{3930, "1 hr :5 min:30 sec"}, LengthRow{90061, "25 hr :1 min:1 sec"},
                      LengthRow{0xFFFFFFFFu, "1193046 hr :28 min:15 sec"}));

struct StatsRow
{
    const char* m_name;
    std::optional<MatchStats> m_stats;
    const char* m_visits;
    const char* m_rating;
    bool m_hot;
};

MatchStats Stats(std::uint32_t visits, std::uint32_t count, std::uint32_t sum)
{
    MatchStats stats;
    stats.m_visits = visits;
    stats.m_ratingCount = count;
    stats.m_ratingSum = sum;
    return stats;
}

class StatsTextTest : public ::testing::TestWithParam<StatsRow>
{
};

TEST_P(StatsTextTest, VisitsAndRating)
{
    const StatsRow& row = GetParam();
    EXPECT_EQ(VisitsText(row.m_stats), row.m_visits);
    const RatingCell cell = RatingText(row.m_stats);
    EXPECT_EQ(cell.m_text, row.m_rating);
    EXPECT_EQ(cell.m_hot, row.m_hot);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, StatsTextTest,
    ::testing::Values(StatsRow{"NoStatistics", std::nullopt, "Unknown", "Unrated", false},
                      StatsRow{"NoRatings", Stats(12, 0, 0), "12", "Unrated", false},
                      StatsRow{"NineOverTwoIsHot", Stats(3, 2, 9), "3", "4.5(Hot!)", true},
                      StatsRow{"EightOverTwoIsNotHot", Stats(3, 2, 8), "3", "4.0", false},
                      StatsRow{"JustAboveFourIsHotButShowsFour", Stats(0, 100, 401), "0",
                               "4.0(Hot!)", true},
                      StatsRow{"RoundsToOneDecimal", Stats(7, 3, 10), "7", "3.3", false},
                      StatsRow{"LargeVisitsStayUnsigned", Stats(0xFFFFFFFFu, 1, 5), "4294967295",
                               "5.0(Hot!)", true}),
    [](const auto& info) { return std::string(info.param.m_name); });

TEST(StatusTextTest, KnownWordsAndReadableOthers)
{
    const std::pair<std::uint8_t, const char*> rows[] = {
        {0, "Live!"}, {1, "Completed"}, {2, "Broken"}, {3, "Unknown (3)"}, {255, "Unknown (255)"}};
    for (const auto& [status, text] : rows)
        EXPECT_EQ(StatusText(status), text) << int(status);
}

} // namespace
} // namespace velt
