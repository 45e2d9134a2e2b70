// The viewer's keys on a terminal: the real velt program plays a file with its standard input,
// output and error on a pseudo-terminal, and a simulated game joins. Space pauses (the game gets
// the pause line and no game time for 3 s), + changes the speed (the game gets the reply), q
// leaves (the game gets the leave acknowledgement, velt ends with 0), and the terminal's modes
// afterwards are those before. Linux only.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform/Socket.h"
#include "tests/cli/PseudoTerminal.h"
#include "tests/tools/matchd/ReplayTestSupport.h"
#include "tests/tools/replay/ReplayBuilder.h"
#include "tools/gamesim/CGameSimulator.h"

namespace velt
{
namespace
{

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kDeadlineMs = 60000;

// Five minutes of game, empty slots of 100 ms: long enough to steer at a slot delay of 10 ms.
std::string WriteLongFile(const std::filesystem::path& dir)
{
    Bytes data = test::Concat({test::BuildLobby({}), test::StartRecords()});
    const Bytes slot = test::TimeSlotRecord(0x1F, 100, {});
    for (int i = 0; i < 3000; ++i)
        data.insert(data.end(), slot.begin(), slot.end());
    const Bytes file = test::BuildReplayFile(data);
    const std::filesystem::path path = dir / "five.w3g";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    return path.string();
}

bool SameModes(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag &&
           a.c_cc[VMIN] == b.c_cc[VMIN] && a.c_cc[VTIME] == b.c_cc[VTIME];
}

TEST(TerminalKeysTest, SpacePausesPlusSpeedsUpAndQLeavesWithTheTerminalAsItWas)
{
    SocketLayerStart();
    const std::filesystem::path dir = test::FreshTempDir("velt-keys-");
    const std::string file = WriteLongFile(dir);
    GameSimScript script;
    script.m_keepPackets = false;
    script.m_slotDelayMs = 10;
    script.m_lobbyChat = {"/fs"};
    script.m_startAfterLobbyChat = false;
    CGameSimulator game(script);
    ASSERT_TRUE(game.Start());

    test::CPseudoTerminal terminal(100);
    ASSERT_TRUE(terminal.IsOpen());
    // A terminal as a shell leaves it: lines, echo and signals.
    termios before{};
    ASSERT_EQ(::tcgetattr(terminal.Follower(), &before), 0);
    before.c_lflag |= ICANON | ECHO | ISIG;
    ASSERT_EQ(::tcsetattr(terminal.Follower(), TCSANOW, &before), 0);
    ASSERT_EQ(::tcgetattr(terminal.Follower(), &before), 0);

    const pid_t child = test::SpawnOn(
        VELT_PROGRAM,
        {"play", file, "--announce-port", std::to_string(game.AnnouncePort()), "--port-base", "0"},
        terminal.Follower(), {0, 1, 2});
    ASSERT_GT(child, 0);
    terminal.CloseFollower();

    std::mutex mutex;
    std::string shown;
    std::thread reader(
        [&]
        {
            const std::string bytes = test::ReadUntilClosed(terminal.Leader(), kDeadlineMs);
            std::lock_guard lock(mutex);
            shown = bytes;
        });
    const auto type = [&](const char* keys)
    { return ::write(terminal.Leader(), keys, std::char_traits<char>::length(keys)) > 0; };
    const auto lineCame = [&](const char* line)
    {
        return game.WaitFor([&](const GameSimRecord& r) { return LinesStartingWith(r, line) > 0; },
                            kDeadlineMs);
    };

    ASSERT_TRUE(
        game.WaitFor([](const GameSimRecord& r) { return r.m_gameTimeMs >= 5000; }, kDeadlineMs));
    ASSERT_TRUE(type(" "));
    ASSERT_TRUE(lineCame("[VELT] Paused at "));
    const std::uint32_t pausedAt = game.Record().m_gameTimeMs;
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(game.Record().m_gameTimeMs, pausedAt) << "no game time while paused";
    ASSERT_TRUE(type("+"));
    EXPECT_TRUE(lineCame("[VELT] Current Speed is  2.0"));
    // Left held down: asked once, and its repeats never confirm the jump back.
    ASSERT_TRUE(type("\x1b[D\x1b[D\x1b[D\x1b[D\x1b[D"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(LinesStartingWith(game.Record(), "[VELT] Back to"), 0u);
    ASSERT_TRUE(type("q"));

    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    reader.join();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << shown;
    EXPECT_TRUE(game.WaitFinished(kDeadlineMs));
    EXPECT_TRUE(game.Record().m_leaveAckReceived);
    EXPECT_NE(shown.find("Keys: Space pause/resume"), std::string::npos) << shown;
    const std::size_t asked = shown.find("Press Left again to go.");
    EXPECT_NE(asked, std::string::npos) << shown;
    EXPECT_EQ(shown.find("Press Left again to go.", asked + 1), std::string::npos) << shown;
    // The leader reads the follower's modes on Linux.
    termios after{};
    ASSERT_EQ(::tcgetattr(terminal.Leader(), &after), 0);
    EXPECT_TRUE(SameModes(before, after));
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace velt
