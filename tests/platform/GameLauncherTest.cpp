#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/GameLauncher.h"

using namespace velt;

namespace
{

class CFakeWindow : public IGameWindow
{
public:
    bool RaiseWindowTitled(const std::string& title) override
    {
        m_asked.push_back(title);
        return m_running;
    }
    bool m_running = false;
    std::vector<std::string> m_asked;
};

class CFakeStarter : public IProcessStarter
{
public:
    bool Start(const std::vector<std::string>& argv) override
    {
        m_started.push_back(argv);
        return true;
    }
    std::vector<std::vector<std::string>> m_started;
};

struct CommandLineCase
{
    const char* folder;
    bool window;
    bool opengl;
    const char* line;
};

class CommandLineTest : public ::testing::TestWithParam<CommandLineCase>
{
};

} // namespace

TEST_P(CommandLineTest, SwitchesFollowTheExecutableInOrder)
{
    const auto& c = GetParam();
    EXPECT_EQ(WarcraftCommandLine({c.folder, c.window, c.opengl}).value_or("-"), c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Switches, CommandLineTest,
    ::testing::Values(
#ifdef _WIN32
                      CommandLineCase{"C:\\war3", false, false, "C:\\war3\\war3.exe"},
                      CommandLineCase{"C:\\war3", true, false, "C:\\war3\\war3.exe -window"},
                      CommandLineCase{"C:\\war3", false, true, "C:\\war3\\war3.exe -opengl"},
#else
                      CommandLineCase{"/games/war3", false, false, "/games/war3/war3.exe"},
                      CommandLineCase{"/games/war3", true, false, "/games/war3/war3.exe -window"},
                      CommandLineCase{"/games/war3", false, true, "/games/war3/war3.exe -opengl"},
#endif
                      CommandLineCase{"/games/war3/", true, true, "/games/war3/war3.exe -window -opengl"},
                      CommandLineCase{"C:\\Games\\Warcraft III\\", true, true,
                                      "C:\\Games\\Warcraft III\\war3.exe -window -opengl"}));

#ifdef _WIN32
TEST(GameLauncherTest, ArgvIsTheProgramAndItsSwitches)
{
    const auto argv = WarcraftArgv({"C:\\Games\\Warcraft III", true, true});
    EXPECT_EQ(argv, (std::vector<std::string>{"C:\\Games\\Warcraft III\\war3.exe", "-window",
                                              "-opengl"}));
}
#else
TEST(GameLauncherTest, ArgvStartsWineWithoutAShell)
{
    const auto argv = WarcraftArgv({"/games/war 3; rm -rf ~", true, true});
    EXPECT_EQ(argv, (std::vector<std::string>{"wine", "/games/war 3; rm -rf ~/war3.exe", "-window",
                                              "-opengl"}));
}
#endif

// Each row is split back by the rules of the Windows start-up code (CommandLineToArgvW).
TEST(GameLauncherTest, WindowsCommandLineQuotesOnlyWhatMustBeQuoted)
{
    const struct
    {
        std::vector<std::string> argv;
        const char* line;
    } rows[] = {
        {{"C:\\Games\\Warcraft III\\war3.exe", "-window", "-opengl"},
         "\"C:\\Games\\Warcraft III\\war3.exe\" -window -opengl"},
        {{"C:\\war3\\war3.exe"}, "C:\\war3\\war3.exe"},
        {{"a", ""}, "a \"\""},
        {{"say \"hi\""}, "\"say \\\"hi\\\"\""},
        {{"C:\\dir with space\\"}, "\"C:\\dir with space\\\\\""},
        {{"tab\there", "x\\\"y"}, "\"tab\there\" \"x\\\\\\\"y\""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(WindowsCommandLine(row.argv), row.line);
}

TEST(GameLauncherTest, CommandLineOfExactlyTheBufferLessOneFits)
{
    const std::string suffix = "/war3.exe -window";
    const std::string folder(kCommandLineBuffer - 1 - suffix.size(), 'a');
    EXPECT_TRUE(WarcraftCommandLine({folder, true, false}));
    EXPECT_FALSE(WarcraftCommandLine({folder + "a", true, false}));
}

struct LaunchCase
{
    const char* name;
    bool running;
    std::string folder;
    LaunchResult result;
    std::size_t started;
    std::size_t notices;
};

class LaunchTest : public ::testing::TestWithParam<LaunchCase>
{
};

TEST_P(LaunchTest, RaisesOrStartsOrTellsTheUser)
{
    const auto& c = GetParam();
    CFakeWindow window;
    window.m_running = c.running;
    CFakeStarter starter;
    CRecordingNotice notices;
    EXPECT_EQ(LaunchWarcraft({c.folder, true, false}, window, starter, notices), c.result);
    EXPECT_EQ(window.m_asked, std::vector<std::string>{"Warcraft III"});
    EXPECT_EQ(starter.m_started.size(), c.started);
    ASSERT_EQ(notices.Texts().size(), c.notices);
    if (c.notices > 0)
    {
        EXPECT_EQ(notices.Texts()[0], "Can't find warcraft execute path, please start game manually!");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, LaunchTest,
    ::testing::Values(LaunchCase{"running", true, "", LaunchResult::kRaised, 0, 0},
                      LaunchCase{"runningWithFolder", true, "/g", LaunchResult::kRaised, 0, 0},
                      LaunchCase{"noFolder", false, "", LaunchResult::kNoFolder, 0, 1},
                      LaunchCase{"tooLong", false, std::string(300, 'x'), LaunchResult::kNoFolder, 0, 1},
                      LaunchCase{"started", false, "/g", LaunchResult::kStarted, 1, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GameLauncherTest, SystemStarterReportsAMissingProgram)
{
    EXPECT_FALSE(SystemProcessStarter().Start({"velt-no-such-program-anywhere"}));
#ifdef _WIN32
    const char* root = std::getenv("SystemRoot");
    ASSERT_NE(root, nullptr);
    EXPECT_TRUE(SystemProcessStarter().Start({std::string(root) + "\\system32\\cmd.exe", "/c", "exit"}));
#else
    EXPECT_TRUE(SystemProcessStarter().Start({"true"}));
#endif
}
