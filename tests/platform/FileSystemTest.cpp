#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/FileSystem.h"
#include "platform/Registry.h"

using namespace velt;
namespace fs = std::filesystem;

namespace
{

class TempDir
{
public:
    TempDir()
    {
        m_path = fs::temp_directory_path() /
                 ("velt-fs-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                  "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(m_path);
        fs::create_directories(m_path);
    }
    ~TempDir() { fs::remove_all(m_path); }
    const fs::path& Path() const { return m_path; }
    void Touch(const fs::path& relative) const
    {
        fs::create_directories((m_path / relative).parent_path());
        std::ofstream(m_path / relative) << "x";
    }

private:
    fs::path m_path;
};

} // namespace

TEST(JoinPathTest, OneSeparatorWhateverTheFolderEndsIn)
{
    // A folder without a separator gets the system's own.
    EXPECT_EQ(JoinPath("/games/war3", "war3.exe"), std::string("/games/war3") + kPathSeparator + "war3.exe");
    EXPECT_EQ(JoinPath("/games/war3/", "war3.exe"), "/games/war3/war3.exe");
    EXPECT_EQ(JoinPath("C:\\Games\\", "war3.exe"), "C:\\Games\\war3.exe");
    EXPECT_EQ(JoinPath("", "war3.exe"), "war3.exe");
}

struct FindCase
{
    const char* relative;
    bool found;
};

class FindFileNoCaseTest : public ::testing::TestWithParam<FindCase>
{
};

TEST_P(FindFileNoCaseTest, MatchesWindowsPathsWithoutRegardToCase)
{
    TempDir dir;
    dir.Touch("Maps/FrozenThrone/(4)TwistedMeadows.w3x");
    dir.Touch("maps/plain.w3m");
    const auto result = FindFileNoCase(dir.Path().string(), GetParam().relative);
    EXPECT_EQ(result.has_value(), GetParam().found) << GetParam().relative;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, FindFileNoCaseTest,
    ::testing::Values(FindCase{"Maps\\FrozenThrone\\(4)TwistedMeadows.w3x", true},
                      FindCase{"MAPS\\frozenthrone\\(4)twistedmeadows.W3X", true},
                      FindCase{"Maps/FrozenThrone/(4)TwistedMeadows.w3x", true},
                      FindCase{"Maps\\\\FrozenThrone\\(4)TwistedMeadows.w3x", true},
                      FindCase{"maps\\plain.w3m", true},
                      FindCase{"Maps\\FrozenThrone\\missing.w3x", false},
                      FindCase{"Maps\\FrozenThrone", false},                // a folder, not a file
                      FindCase{"Maps\\plain.w3m\\deeper.w3x", false},       // through a file
                      FindCase{"Maps\\..\\maps\\plain.w3m", false},         // never leaves the folder
                      FindCase{"", false}));

TEST(FindFileNoCaseTest, EmptyFolderIsTheWorkingDirectory)
{
    TempDir dir;
    dir.Touch("Maps/x.w3x");
    const auto previous = fs::current_path();
    fs::current_path(dir.Path());
    EXPECT_TRUE(FindFileNoCase("", "maps\\X.W3X").has_value());
    fs::current_path(previous);
}

TEST(WineRegistryTest, ReadsInstallPathFromUserRegistry)
{
    TempDir prefix;
    std::ofstream(prefix.Path() / "user.reg")
        << "WINE REGISTRY Version 2\n"
           ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
           "[Software\\\\Blizzard Entertainment\\\\Other] 1700000000\n"
           "\"InstallPathX\"=\"D:\\\\Wrong\"\n\n"
           "[Software\\\\Blizzard Entertainment\\\\Warcraft III] 1700000001\n"
           "#time=1da0000000000000\n"
           "\"InstallPath\"=\"C:\\\\Old\"\n"
           "\"installpathx\"=\"C:\\\\Program Files\\\\Warcraft III\"\n"
           "\"Quoted\"=\"a \\\"b\\\" \\x00e9\"\n"
           "\"Expand\"=str(2):\"%ProgramFiles%\\\\W3\"\n"
           "\"Number\"=dword:00000001\n";
    const std::string key = "Software\\Blizzard Entertainment\\Warcraft III";
    EXPECT_EQ(ReadWineUserRegistryString(prefix.Path().string(), key, "InstallPathX").value_or("-"),
              "C:\\Program Files\\Warcraft III");
    EXPECT_EQ(ReadWineUserRegistryString(prefix.Path().string(), "software\\blizzard entertainment\\warcraft iii",
                                         "INSTALLPATHX")
                  .value_or("-"),
              "C:\\Program Files\\Warcraft III");
    EXPECT_EQ(ReadWineUserRegistryString(prefix.Path().string(), key, "Quoted").value_or("-"),
              "a \"b\" \xC3\xA9");
    EXPECT_EQ(ReadWineUserRegistryString(prefix.Path().string(), key, "Expand").value_or("-"),
              "%ProgramFiles%\\W3");
    EXPECT_FALSE(ReadWineUserRegistryString(prefix.Path().string(), key, "Number"));
    EXPECT_FALSE(ReadWineUserRegistryString(prefix.Path().string(), key, "Missing"));
    // A value that does not fit the caller's buffer is not read, as the platform call fails.
    EXPECT_FALSE(ReadWineUserRegistryString(prefix.Path().string(), key, "InstallPathX", 10));
    EXPECT_FALSE(ReadWineUserRegistryString((prefix.Path() / "none").string(), key, "InstallPathX"));
}

#ifndef _WIN32
TEST(WineRegistryTest, WindowsPathMapsThroughDosDevicesWithoutRegardToCase)
{
    TempDir prefix;
    fs::create_directories(prefix.Path() / "drive_c" / "Program Files" / "Warcraft III");
    fs::create_directories(prefix.Path() / "dosdevices");
    fs::create_directory_symlink("../drive_c", prefix.Path() / "dosdevices" / "c:");
    const auto local = WindowsPathToLocal(prefix.Path().string(), "C:\\PROGRAM FILES\\warcraft iii");
    ASSERT_TRUE(local);
    EXPECT_TRUE(fs::equivalent(*local, prefix.Path() / "drive_c" / "Program Files" / "Warcraft III"));
    EXPECT_FALSE(WindowsPathToLocal(prefix.Path().string(), "Z:\\nothing"));
    EXPECT_FALSE(WindowsPathToLocal(prefix.Path().string(), "\\\\server\\share"));
    EXPECT_FALSE(WindowsPathToLocal(prefix.Path().string(), "C:\\..\\etc"));
}
#endif
