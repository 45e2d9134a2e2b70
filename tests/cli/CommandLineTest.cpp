#include <gtest/gtest.h>

#include "cli/CommandLine.h"

using namespace velt;

struct ParseCase
{
    const char* name;
    std::vector<std::string> args;
    bool ok;
    const char* error;
};

class CommandLineParseTest : public ::testing::TestWithParam<ParseCase>
{
};

TEST_P(CommandLineParseTest, AcceptsOrExplains)
{
    const auto& c = GetParam();
    const CCommandLine::Grammar grammar{{"server", "channel"}, {"tsv"}};
    std::string error;
    const auto line = CCommandLine::Parse(c.args, grammar, error);
    EXPECT_EQ(line.has_value(), c.ok);
    EXPECT_EQ(error, c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineParseTest,
    ::testing::Values(
        ParseCase{"empty", {}, true, ""},
        ParseCase{"valueSeparate", {"--server", "h:1"}, true, ""},
        ParseCase{"valueInline", {"--server=h:1", "--tsv", "12"}, true, ""},
        ParseCase{"unknownLong", {"--bogus"}, false, "unknown option '--bogus'"},
        ParseCase{"unknownShort", {"-x"}, false, "unknown option '-x'"},
        ParseCase{"missingValue", {"--channel"}, false, "option '--channel' needs a value"},
        ParseCase{"flagWithValue", {"--tsv=1"}, false, "option '--tsv' takes no value"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CommandLineTest, ValuesFlagsAndNumbers)
{
    const CCommandLine::Grammar grammar{{"server", "channel"}, {"tsv"}};
    std::string error;
    const auto line = CCommandLine::Parse({"7", "--channel=3", "--tsv", "--server", "a"}, grammar, error);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->Positional(), std::vector<std::string>{"7"});
    EXPECT_TRUE(line->Has("tsv"));
    EXPECT_EQ(line->Value("server").value_or(""), "a");
    EXPECT_EQ(line->Number("channel", 0, 10, error).value_or(-1), 3);
    EXPECT_FALSE(line->Number("channel", 5, 10, error));
    EXPECT_EQ(error, "option '--channel' needs a whole number from 5 to 10, not '3'");
    const auto ended = CCommandLine::Parse({"7", "--", "--tsv"}, grammar, error);
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->Positional(), (std::vector<std::string>{"7", "--tsv"}));
    EXPECT_FALSE(ended->Has("tsv"));
}

TEST(CommandLineTest, WholeNumbersRefuseJunk)
{
    EXPECT_EQ(ParseWholeNumber("42", 0, 100).value_or(-1), 42);
    EXPECT_FALSE(ParseWholeNumber("", 0, 100));
    EXPECT_FALSE(ParseWholeNumber("4x", 0, 100));
    EXPECT_FALSE(ParseWholeNumber("101", 0, 100));
    EXPECT_FALSE(ParseWholeNumber("-1", 0, 100));
    EXPECT_FALSE(ParseWholeNumber("99999999999999999999", 0, 100));
}
