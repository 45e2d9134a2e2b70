#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "formats/ProfileFile.h"

using namespace velt;
namespace fs = std::filesystem;

namespace
{

class ProfileFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() /
                ("velt-ini-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
        m_path = (m_dir / "VELT.ini").string();
    }
    void TearDown() override { fs::remove_all(m_dir); }

    void Write(const std::string& text) { std::ofstream(m_path, std::ios::binary) << text; }
    std::string Read() const
    {
        std::ifstream in(m_path, std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    fs::path m_dir;
    std::string m_path;
};

} // namespace

TEST_F(ProfileFileTest, ReadsFileWrittenTheWayThePlatformWritesIt)
{
    Write("[SETTINGS]\r\nwindowmode=1\r\nopenglmode=0\r\nwarcraftpath=C:\\Games\\Warcraft III\\\r\n");
    EXPECT_EQ(GetPrivateProfileInt("SETTINGS", "windowmode", 0, m_path), 1);
    EXPECT_EQ(GetPrivateProfileInt("settings", "OPENGLMODE", 7, m_path), 0);
    EXPECT_EQ(GetPrivateProfileInt("SETTINGS", "missing", 7, m_path), 7);
    EXPECT_EQ(GetPrivateProfileString("SETTINGS", "warcraftpath", "", 256, m_path),
              "C:\\Games\\Warcraft III\\");
    EXPECT_EQ(GetPrivateProfileString("Other", "warcraftpath", "dflt", 256, m_path), "dflt");
}

struct IntCase
{
    const char* value;
    int expected;
};

class ProfileIntTest : public ProfileFileTest, public ::testing::WithParamInterface<IntCase>
{
};

TEST_P(ProfileIntTest, LeadingDigitsCount)
{
    Write(std::string("[S]\r\nk=") + GetParam().value + "\r\n");
    EXPECT_EQ(GetPrivateProfileInt("S", "k", 42, m_path), GetParam().expected) << GetParam().value;
}

INSTANTIATE_TEST_SUITE_P(Values, ProfileIntTest,
                         ::testing::Values(IntCase{"1", 1}, IntCase{" 12 ", 12}, IntCase{"3abc", 3},
                                           IntCase{"abc", 0}, IntCase{"", 0}, IntCase{"-5", 0},
                                           IntCase{"+9", 9}));

TEST_F(ProfileFileTest, WriteCreatesMissingFileAndSection)
{
    ASSERT_TRUE(WritePrivateProfileString("SETTINGS", "windowmode", "1", m_path));
    ASSERT_TRUE(WritePrivateProfileString("SETTINGS", "openglmode", "0", m_path));
    EXPECT_EQ(Read(), "[SETTINGS]\r\nwindowmode=1\r\nopenglmode=0\r\n");
}

TEST_F(ProfileFileTest, WriteKeepsEverythingElseAndReplacesInPlace)
{
    Write("; VELT settings\n[Other]\nwarcraftpath=keep\n\n[settings]\nWindowMode=0\n; note\n"
          "openglmode=1\n\n[Last]\nx=1\n");
    ASSERT_TRUE(WritePrivateProfileString("SETTINGS", "windowmode", "1", m_path));
    ASSERT_TRUE(WritePrivateProfileString("SETTINGS", "warcraftpath", "D:\\War3\\", m_path));
    EXPECT_EQ(Read(), "; VELT settings\n[Other]\nwarcraftpath=keep\n\n[settings]\nwindowmode=1\n"
                      "; note\nopenglmode=1\nwarcraftpath=D:\\War3\\\n\n[Last]\nx=1\n");
    EXPECT_EQ(GetPrivateProfileString("SETTINGS", "warcraftpath", "", 256, m_path), "D:\\War3\\");
    EXPECT_EQ(GetPrivateProfileString("Other", "warcraftpath", "", 256, m_path), "keep");
}

TEST_F(ProfileFileTest, StringIsCutToTheBuffer)
{
    Write("[S]\r\nk=  \"abcdef\"  \r\n");
    EXPECT_EQ(GetPrivateProfileString("S", "k", "", 256, m_path), "abcdef");
    EXPECT_EQ(GetPrivateProfileString("S", "k", "", 4, m_path), "abc");
}

TEST_F(ProfileFileTest, UnwritableTargetLosesNothing)
{
    Write("[SETTINGS]\r\nwindowmode=1\r\n");
    const auto before = Read();
    // A folder in the file's place, and a file below a missing folder, cannot be written.
    EXPECT_FALSE(WritePrivateProfileString("SETTINGS", "k", "v", m_dir.string()));
    EXPECT_FALSE(WritePrivateProfileString("SETTINGS", "k", "v", (m_dir / "no" / "VELT.ini").string()));
    EXPECT_EQ(Read(), before);
}
