// The status line of velt watch and velt demo: the text it shows for each state of a session
// and width of terminal, and how it is drawn around the command's own lines.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/CStatusLine.h"
#include "cli/StatusLineText.h"
#include "cli/TerminalText.h"
#include "platform/Clock.h"
#include "tests/doubles/CManualClock.h"

namespace velt
{
namespace
{

HostStatus Playing(std::uint32_t gameTimeMs, std::uint32_t matchSeconds, bool live)
{
    HostStatus status;
    status.m_matchId = 7;
    status.m_bytesHeld = 1572864; // 1.5 MiB
    status.m_gameTimeMs = gameTimeMs;
    status.m_matchSeconds = matchSeconds;
    status.m_speed = 1;
    status.m_sessionActive = true;
    status.m_inGame = true;
    status.m_live = live;
    return status;
}

template <typename Change> HostStatus With(HostStatus status, Change change)
{
    change(status);
    return status;
}

struct TextCase
{
    const char* m_name;
    HostStatus m_status;
    StatusLineFacts m_facts;
    std::size_t m_columns;
    std::string m_text;
};

class StatusLineTextTest : public ::testing::TestWithParam<TextCase>
{
};

TEST_P(StatusLineTextTest, ShowsTheSessionFittedToTheWidth)
{
    const TextCase& c = GetParam();
    const std::string text = StatusLineText(c.m_status, c.m_facts, c.m_columns);
    EXPECT_EQ(text, c.m_text);
    // Never the last column, where a terminal would wrap.
    EXPECT_LT(TerminalWidth(text), c.m_columns == 0 ? kDefaultStatusColumns : c.m_columns);
    EXPECT_EQ(TerminalText(text), text);
}

const StatusLineFacts kNamed{"Moon vs Grubby", 6200};
const StatusLineFacts kNone{};
const StatusLineFacts kLongName{std::string(90, 'n'), 0};
const StatusLineFacts kControlsInName{"a\x1B[2Jb", 0};

INSTANTIATE_TEST_SUITE_P(
    States, StatusLineTextTest,
    ::testing::Values(
        TextCase{"waitingForTheGame",
                 With(HostStatus{},
                      [](HostStatus& s)
                      {
                          s.m_matchId = 7;
                          s.m_live = true;
                      }),
                 kNamed, 100,
                 "#7 Moon vs Grubby | waiting for the game on 127.0.0.1:6200 | 0 B downloaded"},
        TextCase{"lobbyOfAFinishedMatch",
                 With(HostStatus{},
                      [](HostStatus& s)
                      {
                          s.m_matchId = 7;
                          s.m_bytesHeld = 36 * 1024 + 5;
                          s.m_sessionActive = true;
                      }),
                 kNone, 100, "#7 | in the lobby | 36 KiB held"},
        TextCase{"liveWithEverything",
                 With(Playing(125000, 300, true),
                      [](HostStatus& s)
                      {
                          s.m_speed = 2;
                          s.m_bufferedAheadMs = 12999;
                          s.m_liveDelaySeconds = 20;
                      }),
                 kNamed, 120,
                 "#7 Moon vs Grubby | game 2:05 | 2:55 behind live | 2.0x | 1.5 MiB downloaded | "
                 "12 s ahead | delay 20 s"},
        TextCase{"finishedPastAnHour", Playing(3725000, 4000, false), kNone, 100,
                 "#7 | game 1:02:05 / 1:06:40 | 1.0x | 1.5 MiB held"},
        TextCase{"pausedLive",
                 With(Playing(60000, 61, true), [](HostStatus& s) { s.m_paused = true; }), kNone,
                 100, "#7 | paused | game 1:00 | 0:01 behind live | 1.0x | 1.5 MiB downloaded"},
        TextCase{"bufferingAtTheEdge",
                 With(Playing(61900, 61, true), [](HostStatus& s) { s.m_buffering = true; }), kNone,
                 100, "#7 | buffering | game 1:01 | 0:00 behind live | 1.0x | 1.5 MiB downloaded"},
        TextCase{"gameAheadOfTheReportedLengthIsNotBehind", Playing(90000, 60, true), kNone, 100,
                 "#7 | game 1:30 | 0:00 behind live | 1.0x | 1.5 MiB downloaded"},
        TextCase{"speedOutOfRangeShowsALevel",
                 With(Playing(0, 0, false), [](HostStatus& s) { s.m_speed = 9; }), kNone, 100,
                 "#7 | game 0:00 | 4.0x | 1.5 MiB held"},
        TextCase{"narrowDropsAheadDelayDataThenName",
                 With(Playing(125000, 300, true),
                      [](HostStatus& s)
                      {
                          s.m_bufferedAheadMs = 5000;
                          s.m_liveDelaySeconds = 20;
                      }),
                 kNamed, 46, "#7 | game 2:05 | 2:55 behind live | 1.0x"},
        TextCase{"narrowKeepsTheNameWhileItFits",
                 With(Playing(125000, 300, true), [](HostStatus& s) { s.m_liveDelaySeconds = 20; }),
                 kNamed, 66, "#7 Moon vs Grubby | game 2:05 | 2:55 behind live | 1.0x"},
        TextCase{"tinyTerminalCutsWhatMustStay",
                 With(Playing(125000, 300, true), [](HostStatus& s) { s.m_paused = true; }), kNamed,
                 16, "#7 | paused | g"},
        TextCase{"longNameIsCutAndUnknownWidthIsEighty", Playing(125000, 300, true), kLongName, 0,
                 "#7 " + std::string(21, 'n') + "... | game 2:05 | 2:55 behind live | 1.0x"},
        TextCase{"controlsInTheNameAreReplaced", Playing(0, 0, false), kControlsInName, 100,
                 "#7 a\xEF\xBF\xBD[2Jb | game 0:00 | 1.0x | 1.5 MiB held"}),
    [](const auto& info) { return std::string(info.param.m_name); });

// ---- drawing ------------------------------------------------------------------------------------

// A terminal that keeps every write, and the lines printed around the status line, in order.
class CRecordingTerminal final : public ITerminal
{
public:
    CRecordingTerminal(bool isTerminal, std::size_t columns)
        : m_isTerminal(isTerminal), m_columns(columns)
    {
    }
    bool IsTerminal() override { return m_isTerminal; }
    std::size_t Columns() override { return m_columns; }
    void Write(std::string_view bytes) override { m_writes.emplace_back(bytes); }

    const bool m_isTerminal;
    std::size_t m_columns;
    std::vector<std::string> m_writes;
};

std::function<std::string(std::size_t)> Text(std::string text, std::size_t* columnsSeen = nullptr)
{
    return [text, columnsSeen](std::size_t columns)
    {
        if (columnsSeen != nullptr)
            *columnsSeen = columns;
        return text;
    };
}

struct OffCase
{
    const char* m_name;
    bool m_isTerminal;
    bool m_wanted;
};

class StatusLineOffTest : public ::testing::TestWithParam<OffCase>
{
};

// On a pipe or a file, or with --quiet, lines print as without a status line and nothing else
// reaches the stream.
TEST_P(StatusLineOffTest, NothingIsDrawnAndLinesPrintAsTheyAre)
{
    CRecordingTerminal terminal(GetParam().m_isTerminal, 80);
    CManualClock clock;
    {
        CStatusLine line(terminal, clock, GetParam().m_wanted);
        EXPECT_FALSE(line.Enabled());
        for (int i = 0; i < 3; ++i)
        {
            line.Show(Text("#1 | game 0:0" + std::to_string(i)));
            line.PrintAround([&] { terminal.Write("line\n"); });
            clock.Advance(kStatusRedrawMs);
        }
        line.Clear();
    }
    EXPECT_EQ(terminal.m_writes, (std::vector<std::string>{"line\n", "line\n", "line\n"}));
}

INSTANTIATE_TEST_SUITE_P(Streams, StatusLineOffTest,
                         ::testing::Values(OffCase{"pipe", false, true},
                                           OffCase{"quietTerminal", true, false},
                                           OffCase{"quietPipe", false, false}),
                         [](const auto& info) { return std::string(info.param.m_name); });

// On a terminal: drawn at most twice a second on the injected clock, only when it changed,
// padded over a longer previous text, cleared around printed lines and at the end.
TEST(StatusLineDrawTest, RedrawsInPlaceAndKeepsOutOfTheWayOfLines)
{
    CRecordingTerminal terminal(true, 60);
    CManualClock clock;
    std::vector<std::string> expected;
    {
        CStatusLine line(terminal, clock, true);
        ASSERT_TRUE(line.Enabled());
        std::size_t columns = 0;
        line.Show(Text("#1 | game 0:01", &columns));
        EXPECT_EQ(columns, 60u);
        expected.push_back("\r#1 | game 0:01");

        clock.Advance(kStatusRedrawMs - 1);
        line.Show(Text("#1 | game 0:02")); // too soon
        clock.Advance(1);
        line.Show(Text("#1 | game 0:02 | paused")); // due
        expected.push_back("\r#1 | game 0:02 | paused");

        clock.Advance(kStatusRedrawMs);
        line.Show(Text("#1 | game 0:02 | paused")); // unchanged: nothing written

        clock.Advance(kStatusRedrawMs);
        line.Show(Text("#1 | game 0:03")); // shorter: spaces over the rest of the old text
        expected.push_back("\r#1 | game 0:03" + std::string(9, ' ') + "\r#1 | game 0:03");

        line.PrintAround([&] { terminal.Write("Session 1 of 2 has ended.\n"); });
        expected.push_back("\r" + std::string(14, ' ') + "\r");
        expected.push_back("Session 1 of 2 has ended.\n");
        expected.push_back("\r#1 | game 0:03");

        line.Clear();
        expected.push_back("\r" + std::string(14, ' ') + "\r");
        line.PrintAround([&] { terminal.Write("after\n"); }); // nothing to draw again
        expected.push_back("after\n");

        line.Show(Text("#1 | lobby")); // the first Show after Clear draws at once
        expected.push_back("\r#1 | lobby");
        terminal.m_columns = 0; // a terminal that cannot tell its width is handed 0
        clock.Advance(kStatusRedrawMs);
        std::size_t columns2 = 99;
        line.Show(Text("#1 | lobby", &columns2));
        EXPECT_EQ(columns2, 0u);
    }
    expected.push_back("\r" + std::string(10, ' ') + "\r"); // cleared when the command ends
    EXPECT_EQ(terminal.m_writes, expected);
}

// Wide characters take two columns on a terminal, combining marks none: a match named in
// Chinese is measured and cut by columns, so the line never reaches the last one.
TEST(StatusLineWidthTest, WideCharactersAreMeasuredInColumns)
{
    struct Row
    {
        const char* m_text;
        std::size_t m_columns;
    };
    for (const Row& row : {Row{"abc", 3}, Row{"\xE4\xB8\xAD\xE6\x96\x87", 4},
                           Row{"e\xCC\x81", 1}, Row{"\xEF\xBC\xA1", 2}})
        EXPECT_EQ(TerminalWidth(row.m_text), row.m_columns) << row.m_text;
    std::string name;
    for (int i = 0; i < 20; ++i)
        name += "\xE5\x86\xA0"; // a wide character, twenty times
    for (const std::size_t columns : {20u, 40u, 60u, 80u})
    {
        const std::string text = StatusLineText(Playing(65000, 300, true), {name, 0}, columns);
        EXPECT_LT(TerminalWidth(text), columns) << text;
        if (columns == 80)
        {
            EXPECT_NE(text.find("\xE5\x86\xA0"), std::string::npos) << text; // cut, not dropped
        }
    }
}

} // namespace
} // namespace velt
