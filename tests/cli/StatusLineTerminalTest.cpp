// The real velt program with its output on a pseudo-terminal: the status line is drawn
// only on a terminal (--quiet is the unit tests'), fits the terminal's width, and leaves the lines
// that the program prints whole on the screen. Linux only.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "cli/TerminalText.h"
#include "tests/cli/PseudoTerminal.h"

namespace velt
{
namespace
{

constexpr int kSilenceMs = 120000; // generous: the demo prints every few seconds

struct RunResult
{
    int m_status = -1;
    std::string m_stderr;
};

// Runs velt with stdout and stderr on fd, as a terminal has both, and reads what reached
// `readFrom`.
RunResult RunVelt(const std::vector<std::string>& args, int stderrFd, int readFrom,
                  const std::function<void()>& spawned)
{
    RunResult result;
    const pid_t child = test::SpawnOn(VELT_PROGRAM, args, stderrFd, {1, 2});
    spawned();
    if (child < 0)
        return result;
    result.m_stderr = test::ReadUntilClosed(readFrom, kSilenceMs);
    int status = 0;
    if (::waitpid(child, &status, 0) == child && WIFEXITED(status))
        result.m_status = WEXITSTATUS(status);
    return result;
}

// The rows a terminal shows after the bytes: "\r" goes back to the row's start, "\n" to the
// next row, everything else overwrites. Trailing spaces are dropped.
std::vector<std::string> ScreenRows(const std::string& bytes)
{
    std::vector<std::string> rows(1);
    std::size_t column = 0;
    for (const char c : bytes)
    {
        if (c == '\n')
        {
            rows.emplace_back();
            column = 0;
            continue;
        }
        if (c == '\r')
        {
            column = 0;
            continue;
        }
        std::string& row = rows.back();
        if (column < row.size())
            row[column] = c;
        else
            row.push_back(c);
        ++column;
    }
    for (std::string& row : rows)
        row.erase(row.find_last_not_of(' ') + 1);
    return rows;
}

// The texts drawn by the status line: what follows a "\r" up to the next control byte, when it
// begins with the match's number, as the status line does (a printed line may follow a "\r" too).
std::vector<std::string> DrawnTexts(const std::string& bytes)
{
    std::vector<std::string> texts;
    for (std::size_t at = bytes.find('\r'); at != std::string::npos; at = bytes.find('\r', at + 1))
    {
        const std::size_t end = bytes.find_first_of("\r\n", at + 1);
        const std::string text =
            bytes.substr(at + 1, end == std::string::npos ? end : end - at - 1);
        if (text.rfind('#', 0) == 0)
            texts.push_back(text);
    }
    return texts;
}

constexpr std::uint16_t kColumns = 48; // narrow enough that parts of the line must be left out

// A pipe gets no status line at all: cli_demo checks that on the demo's output.
TEST(StatusLineTerminalTest, DrawnOnlyOnATerminalAndNeverOverALine)
{
    const std::vector<std::string> args{"demo", "--seconds", "5"};
    test::CPseudoTerminal terminal(kColumns);
    ASSERT_TRUE(terminal.IsOpen());
    const RunResult run =
        RunVelt(args, terminal.Follower(), terminal.Leader(), [&] { terminal.CloseFollower(); });
    ASSERT_EQ(run.m_status, 0) << run.m_stderr;

    // It followed the session from the lobby into the game.
    const std::vector<std::string> drawn = DrawnTexts(run.m_stderr);
    const auto shows = [&](const char* what)
    {
        return std::any_of(drawn.begin(), drawn.end(),
                           [&](const std::string& text)
                           { return text.find(what) != std::string::npos; });
    };
    EXPECT_TRUE(shows("#1 ")) << run.m_stderr;
    EXPECT_TRUE(shows("in the lobby")) << run.m_stderr;
    EXPECT_TRUE(shows("game ")) << run.m_stderr;
    for (const std::string& text : drawn)
        EXPECT_LT(TerminalWidth(text), kColumns) << text;

    // On the screen only the printed lines remain, each whole on its row; the status line was
    // cleared before each of them and at the end, so no row holds a piece of it.
    const std::vector<std::string> rows = ScreenRows(run.m_stderr);
    const auto hasRow = [&](const std::string& prefix)
    {
        return std::any_of(rows.begin(), rows.end(),
                           [&](const std::string& row) { return row.rfind(prefix, 0) == 0; });
    };
    EXPECT_TRUE(hasRow("Downloading map..."));
    EXPECT_TRUE(hasRow(
        "Start Warcraft III, open Local Area Network and join the game hosted on 127.0.0.1:"));
    EXPECT_TRUE(hasRow("  you   > /faster"));
    EXPECT_TRUE(hasRow("The match is over and the session has ended"));
    for (const std::string& row : rows)
        for (const char* piece :
             {"#1 ", "waiting for the game", "in the lobby", "behind live", " downloaded"})
            EXPECT_EQ(row.find(piece), std::string::npos) << row;
    EXPECT_TRUE(rows.back().empty()) << rows.back();
}

} // namespace
} // namespace velt
