#include "listing/CompareCells.h"

#include <gtest/gtest.h>

#include <ostream>

#include <string>
#include <vector>

namespace velt
{
namespace
{

struct PairRow
{
    const char* m_a;
    const char* m_b;
    int m_expected;
};

void PrintTo(const PairRow& c, std::ostream* os)
{
    *os << "\"" << c.m_a << "\" vs \"" << c.m_b << "\"";
}

class CompareCellsPairs : public ::testing::TestWithParam<PairRow>
{
};

TEST_P(CompareCellsPairs, OrdersBothWays)
{
    const PairRow& row = GetParam();
    EXPECT_EQ(CompareCells(row.m_a, row.m_b), row.m_expected) << row.m_a << " vs " << row.m_b;
    EXPECT_EQ(CompareCells(row.m_b, row.m_a), -row.m_expected) << row.m_b << " vs " << row.m_a;
    EXPECT_EQ(CompareCellKeys(MakeCellKey(row.m_a), MakeCellKey(row.m_b)), row.m_expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, CompareCellsPairs,
    ::testing::Values(
        // hexadecimal integers: digit-only decimals order numerically, letters count as digits
        PairRow{"9", "10", -1}, PairRow{"1A", "27", -1}, PairRow{"0x10", "F", 1},
        PairRow{"  ff", "100", -1}, PairRow{"007", "7", 0}, PairRow{"-1", "FFFFFFFF", 0},
        PairRow{"123456789ABC", "FFFFFFFF", 0}, PairRow{"DEAD", "BEEF", 1},
        // decimal numbers and percentages
        PairRow{"2.5", "10", -1}, PairRow{"9%", "12%", -1}, PairRow{"4.5", "4.50", 0},
        PairRow{"-3.5", "2", -1}, PairRow{"1e3", "999.5", 1}, PairRow{"0.5%", "0.25", 1},
        PairRow{"1e999", "1e308", 1}, PairRow{"1e-999", "0.0", 0},
        // time and date
        PairRow{"00:35:12", "01:02:00", -1}, PairRow{"9:05", "10:00", -1},
        PairRow{"11:59 PM", "12:00", 1}, PairRow{"12:00 AM", "0:00", 0},
        PairRow{"2008-05-12 21:30", "2008-05-12 9:45:10", 1},
        PairRow{"2008-05-12", "05/11/2008", 1}, PairRow{"12.05.2008", "05/12/2008 00:00:00", 0},
        PairRow{"1999-12-31 23:59:59", "2000-01-01", -1}, PairRow{"2000-02-29", "2000-03-01", -1},
        PairRow{"10:00", "1899-12-30 10:00", 0}, PairRow{"23:00", "1900-01-01", -1},
        // text: case-sensitive bytes, empty cells are never numbers
        PairRow{"Broken", "Live!", -1}, PairRow{"Completed", "Broken", 1},
        PairRow{"apple", "Apple", 1}, PairRow{"", "5", -1}, PairRow{"", "", 0},
        PairRow{"\xC3\xA9t\xC3\xA9", "zoo", 1}, PairRow{"abc", "abcd", -1},
        // mixed kinds fall to the first rule that takes both texts
        PairRow{"4.5", "4.5(Hot!)", -1}, PairRow{"Unrated", "4.5", 1}, PairRow{"1A", "2.5", -1},
        PairRow{"0x1A", "2.5", 1}, PairRow{"10:00", "9", -1},
        PairRow{"1 hr :5 min:30 sec", "59 min:59 sec", -1}));

struct RejectRow
{
    const char* m_text;
    bool m_hex;
    bool m_number;
    bool m_dateTime;
};

void PrintTo(const RejectRow& c, std::ostream* os)
{
    *os << "\"" << c.m_text << "\"";
}

class CompareCellsKinds : public ::testing::TestWithParam<RejectRow>
{
};

TEST_P(CompareCellsKinds, RuleAcceptance)
{
    const RejectRow& row = GetParam();
    EXPECT_EQ(ParseHexCell(row.m_text).has_value(), row.m_hex) << row.m_text;
    EXPECT_EQ(ParseNumberCell(row.m_text).has_value(), row.m_number) << row.m_text;
    EXPECT_EQ(ParseDateTimeCell(row.m_text).has_value(), row.m_dateTime) << row.m_text;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, CompareCellsKinds,
    ::testing::Values(
        RejectRow{"", false, false, false}, RejectRow{"   ", false, false, false},
        RejectRow{"0x", false, false, false}, RejectRow{"12 ", false, false, false},
        RejectRow{"12%", false, true, false}, RejectRow{"12%%", false, false, false},
        RejectRow{"%", false, false, false}, RejectRow{"--5", false, false, false},
        RejectRow{"+5", true, true, false}, RejectRow{"inf", false, true, false},
        RejectRow{"4.5(Hot!)", false, false, false}, RejectRow{"2008-02-30", false, false, false},
        RejectRow{"2008-13-01", false, false, false}, RejectRow{"0099-01-01", false, false, false},
        RejectRow{"24:00", false, false, false}, RejectRow{"13:00 PM", false, false, false},
        RejectRow{"10:60", false, false, false}, RejectRow{"2008-05-12T10:00", false, false, false},
        RejectRow{"2008-05-1210:00", false, false, false},
        RejectRow{" 2008-05-12  7:05 pm ", false, false, true},
        RejectRow{"31.12.1999", false, false, true}, RejectRow{"1:02", false, false, true}));

TEST(CompareCells, TimeOfDayValues)
{
    EXPECT_EQ(ParseDateTimeCell("00:35:12"), 35 * 60 + 12);
    EXPECT_EQ(ParseDateTimeCell("12:30 AM"), 30 * 60);
    EXPECT_EQ(ParseDateTimeCell("12:30 PM"), 12 * 3600 + 30 * 60);
    EXPECT_EQ(ParseDateTimeCell("1900-01-01"), 2 * 86400);
    EXPECT_EQ(ParseDateTimeCell("1899-12-29 06:00"), -86400 + 6 * 3600);
}

TEST(CompareCells, NumbersIgnoreTheProcessLocaleDecimalComma)
{
    // A German locale would make strtod read "4,5"; the cells are always "C" texts.
    EXPECT_EQ(ParseNumberCell("4.5"), 4.5);
    EXPECT_FALSE(ParseNumberCell("4,5").has_value());
}

} // namespace
} // namespace velt
