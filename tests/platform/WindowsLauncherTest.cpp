// The real launcher against a stand-in war3.exe of ours that opens a window titled
// "Warcraft III". Windows need a display: under Wine the tests run with Xvfb.
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/FileSystem.h"
#include "platform/GameLauncher.h"
#include "platform/UserNotice.h"

using namespace velt;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace
{

// Generous: the first window of a fresh Wine prefix can take seconds on a loaded machine.
constexpr auto kWindowDeadline = 60s;

template <typename Condition> bool WaitFor(Condition condition)
{
    const auto deadline = std::chrono::steady_clock::now() + kWindowDeadline;
    while (!condition())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

bool UnderWine()
{
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

HWND GameWindow() { return ::FindWindowW(nullptr, L"Warcraft III"); }

fs::path BesideThisTest(const wchar_t* name)
{
    wchar_t module[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    return fs::path(module).parent_path() / name;
}

std::vector<std::string> Launches(const fs::path& folder)
{
    std::ifstream file(folder / "launches.txt", std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

class WindowsLauncherTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (UnderWine() && std::getenv("DISPLAY") == nullptr)
            GTEST_SKIP() << "Wine needs an X display for windows";
        if (GameWindow() != nullptr)
            GTEST_SKIP() << "a window titled Warcraft III is open already";
        m_root = fs::temp_directory_path() /
                 ("velt-launch-" + std::to_string(::GetCurrentProcessId()));
        // A folder with a blank, and beside it the program that an unquoted command line would
        // start instead: C:\...\Warcraft.exe for C:\...\Warcraft III\war3.exe.
        m_folder = m_root / "Warcraft III";
        fs::remove_all(m_root);
        fs::create_directories(m_folder);
        const fs::path fake = BesideThisTest(L"velt_fake_war3.exe");
        fs::copy_file(fake, m_folder / "war3.exe");
        fs::copy_file(fake, m_root / "Warcraft.exe");
    }
    void TearDown() override
    {
        if (const HWND window = GameWindow())
        {
            ::PostMessageW(window, WM_CLOSE, 0, 0);
            WaitFor([] { return GameWindow() == nullptr; });
        }
        std::error_code error;
        if (!m_root.empty())
            fs::remove_all(m_root, error);
    }

    fs::path m_root;
    fs::path m_folder;
};

} // namespace

TEST_F(WindowsLauncherTest, StartsWithTheCommandLineThenRaisesInsteadOfStartingAgain)
{
    CRecordingNotice notices;
    const WarcraftLaunch launch{PathToUtf8(m_folder), true, true};
    ASSERT_EQ(LaunchWarcraft(launch, SystemGameWindow(), SystemProcessStarter(), notices),
              LaunchResult::kStarted);
    ASSERT_TRUE(WaitFor([] { return GameWindow() != nullptr; }));
    const HWND window = GameWindow();

    const std::string exe = PathToUtf8(m_folder / "war3.exe");
    EXPECT_EQ(Launches(m_folder),
              std::vector<std::string>{exe + "|\"" + exe + "\" -window -opengl"});
    EXPECT_TRUE(Launches(m_root).empty()) << "a prefix of the path was started";

    // Minimised, then found again: restored and in front, and no second game.
    ::ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(WaitFor([&] { return ::IsIconic(window) != FALSE; }));
    EXPECT_EQ(LaunchWarcraft(launch, SystemGameWindow(), SystemProcessStarter(), notices),
              LaunchResult::kRaised);
    EXPECT_TRUE(WaitFor([&] { return ::IsIconic(window) == FALSE; }));
    EXPECT_TRUE(WaitFor([&] { return ::GetForegroundWindow() == window; }));
    EXPECT_EQ(Launches(m_folder).size(), 1u);
    EXPECT_TRUE(notices.Texts().empty());
}
