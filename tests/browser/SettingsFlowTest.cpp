// The three settings: VELT.ini read at Connect, written by the check boxes and a confirmed
// Change, and the Change / Confirm Change flow with and without Warcraft III's registry entry.
#include "DesktopTest.h"

#include "platform/FileSystem.h"
#include "formats/ProfileFile.h"

#include <QLineEdit>

#include <filesystem>
#include <ostream>

namespace velt
{
namespace
{

class SettingsFlowTest : public DesktopTest
{
protected:
    void ConnectOnce()
    {
        ServeList({Match(5)});
        OpenWindow();
        Click(CVELTTopView::kIdConnect);
        ASSERT_EQ(Bar().ConnectedOnce(), 1);
    }
    std::string Key(const char* key)
    {
        return GetPrivateProfileString("SETTINGS", key, "<missing>", 1024, SettingsPath());
    }
    bool EditReadOnly()
    {
        return qobject_cast<QLineEdit*>(Control(CVELTTopView::kIdWarcraftPath))->isReadOnly();
    }
};

struct LoadCase
{
    const char* m_name;
    const char* m_file; // null: no file
    bool m_window;
    bool m_opengl;
    const char* m_folder;
    std::uint32_t m_liveDelay = 0; // handed to the client for the hosts it creates
};

void PrintTo(const LoadCase& c, std::ostream* os)
{
    *os << c.m_name;
}

class LoadAtConnect : public SettingsFlowTest, public ::testing::WithParamInterface<LoadCase>
{
};

TEST_P(LoadAtConnect, ShowsWhatTheFileHolds)
{
    const LoadCase& c = GetParam();
    if (c.m_file != nullptr)
        WriteSettings(c.m_file);
    ConnectOnce();
    EXPECT_EQ(Checked(CVELTTopView::kIdWindowMode), c.m_window);
    EXPECT_EQ(Checked(CVELTTopView::kIdOpenGLMode), c.m_opengl);
    EXPECT_EQ(Bar().WindowMode(), c.m_window ? 1 : 0);
    EXPECT_EQ(Bar().OpenGLMode(), c.m_opengl ? 1 : 0);
    EXPECT_EQ(EditText(), QString::fromUtf8(c.m_folder));
    EXPECT_EQ(Bar().WarcraftPath(), c.m_folder);
    EXPECT_EQ(Bar().LiveDelay(), c.m_liveDelay);
    EXPECT_EQ(Client()->LiveDelay(), c.m_liveDelay);
}

INSTANTIATE_TEST_SUITE_P(
    Files, LoadAtConnect,
    ::testing::Values(
        LoadCase{"NoFile", nullptr, false, false, ""},
        LoadCase{"WindowOnly",
                 "[SETTINGS]\r\nwindowmode=1\r\nopenglmode=0\r\nwarcraftpath=C:\\Games\\W3\\\r\n",
                 true, false, "C:\\Games\\W3\\"},
        LoadCase{"AnyNonZeroSwitchesOn", "[SETTINGS]\r\nwindowmode=7\r\nopenglmode=12abc\r\n", true,
                 true, ""},
        LoadCase{"LiveDelay", "[SETTINGS]\r\nlivedelay=20\r\n", false, false, "", 20},
        LoadCase{"LiveDelayBeyondTheLongestIsHeldToIt", "[SETTINGS]\r\nLiveDelay=9000\r\n", false,
                 false, "", 600},
        LoadCase{"NegativeLiveDelayIsNone", "[SETTINGS]\r\nlivedelay=-5\r\n", false, false, "", 0}),
    [](const ::testing::TestParamInfo<LoadCase>& info) { return std::string(info.param.m_name); });

TEST_F(SettingsFlowTest, StoredZeroLeavesASwitchThatIsOn)
{
    OpenWindow();
    Click(CVELTTopView::kIdWindowMode);
    ASSERT_EQ(Key("windowmode"), "1");
    WriteSettings("[SETTINGS]\r\nwindowmode=0\r\n");
    ServeList({Match(5)});
    Click(CVELTTopView::kIdConnect);
    EXPECT_TRUE(Checked(CVELTTopView::kIdWindowMode));
    EXPECT_EQ(Bar().WindowMode(), 1);
}

struct CheckBoxCase
{
    const char* m_name;
    int m_box;
    const char* m_window;
    const char* m_opengl;
};

void PrintTo(const CheckBoxCase& c, std::ostream* os)
{
    *os << c.m_name;
}

class CheckBoxes : public SettingsFlowTest, public ::testing::WithParamInterface<CheckBoxCase>
{
};

// Before any Connect: the file is the working directory's, not one at the root.
TEST_P(CheckBoxes, WriteAllThreeKeysToTheWorkingDirectory)
{
    const CheckBoxCase& c = GetParam();
    WriteSettings("; written by hand\r\n[Other]\r\nkey=kept\r\n[SETTINGS]\r\nwarcraftpath=/old\r\n"
                  "extra=5\r\n");
    OpenWindow();
    // The same file, however each names it (on Windows "C:\\folder//VELT.ini").
    EXPECT_TRUE(std::filesystem::equivalent(PathFromUtf8(Bar().SettingsFilePath()),
                                            PathFromUtf8(SettingsPath())))
        << Bar().SettingsFilePath();
    Click(c.m_box);
    EXPECT_EQ(Key("windowmode"), c.m_window);
    EXPECT_EQ(Key("openglmode"), c.m_opengl);
    EXPECT_EQ(Key("warcraftpath"), "") << "as the edit shows it: empty before Connect";
    EXPECT_EQ(Key("extra"), "5");
    EXPECT_EQ(GetPrivateProfileString("Other", "key", "", 64, SettingsPath()), "kept");
    EXPECT_EQ(ReadSettings().rfind("; written by hand\r\n", 0), 0u);
    EXPECT_TRUE(Notices().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, CheckBoxes,
    ::testing::Values(CheckBoxCase{"WindowMode", CVELTTopView::kIdWindowMode, "1", "0"},
                      CheckBoxCase{"OpenGLMode", CVELTTopView::kIdOpenGLMode, "0", "1"}),
    [](const ::testing::TestParamInfo<CheckBoxCase>& info)
    { return std::string(info.param.m_name); });

TEST_F(SettingsFlowTest, CheckBoxSavesAFolderTypedButNotConfirmed)
{
    ConnectOnce();
    Click(CVELTTopView::kIdChange);
    TypeFolder(QStringLiteral("C:\\Typed\\Warcraft III"));
    Click(CVELTTopView::kIdOpenGLMode);
    EXPECT_EQ(Key("openglmode"), "1");
    EXPECT_EQ(Key("warcraftpath"), "C:\\Typed\\Warcraft III") << "backslashes written raw";
    EXPECT_EQ(Bar().WarcraftPath(), "C:\\Typed\\Warcraft III") << "and used by the next launch";
    EXPECT_EQ(Client()->GetWarcraftPath(), "") << "the client has not received it";
    EXPECT_EQ(Bar().PathLocked(), 0);
}

TEST_F(SettingsFlowTest, SavedSettingsComeBackAtTheNextStart)
{
    ConnectOnce();
    Click(CVELTTopView::kIdChange);
    TypeFolder(QStringLiteral("/games/Warcraft III/"));
    Click(CVELTTopView::kIdChange);
    Click(CVELTTopView::kIdWindowMode);
    Click(CVELTTopView::kIdOpenGLMode);
    Click(CVELTTopView::kIdOpenGLMode);

    m_dialog.reset();
    ServeList({Match(5)});
    OpenWindow();
    Click(CVELTTopView::kIdConnect);
    EXPECT_TRUE(Checked(CVELTTopView::kIdWindowMode));
    EXPECT_FALSE(Checked(CVELTTopView::kIdOpenGLMode));
    EXPECT_EQ(EditText(), QStringLiteral("/games/Warcraft III/"));
}

struct ChangeCase
{
    const char* m_name;
    bool m_registry;
    const char* m_typed; // null: confirm what the edit shows
    bool m_confirmed;
    std::vector<std::string> m_notices;
};

void PrintTo(const ChangeCase& c, std::ostream* os)
{
    *os << c.m_name;
}

class ChangePath : public SettingsFlowTest, public ::testing::WithParamInterface<ChangeCase>
{
};

TEST_P(ChangePath, ConfirmsATypedOrRegisteredFolder)
{
    const ChangeCase& c = GetParam();
    const std::string registered = c.m_registry ? InstallRegistryEntry() : "";
    if (c.m_registry && registered.empty())
        GTEST_SKIP() << "this user has Warcraft III's registry entry; it is left alone";
    ConnectOnce();
    // An empty folder was filled from the registry at Connect.
    EXPECT_EQ(EditText().toStdString(), registered);
    EXPECT_EQ(Client()->GetWarcraftPath(), registered);
    ASSERT_TRUE(EditReadOnly());
    ASSERT_EQ(ChangeText(), QStringLiteral("Change"));

    Click(CVELTTopView::kIdChange);
    EXPECT_FALSE(EditReadOnly());
    EXPECT_EQ(ChangeText(), QStringLiteral("Confirm Change"));
    EXPECT_EQ(Bar().PathLocked(), 0);
    TypeFolder(QString::fromUtf8(c.m_typed));
    const std::string expected = *c.m_typed != '\0' ? c.m_typed : registered;

    Click(CVELTTopView::kIdChange);
    EXPECT_EQ(Notices(), c.m_notices);
    if (c.m_confirmed)
    {
        EXPECT_TRUE(EditReadOnly());
        EXPECT_EQ(ChangeText(), QStringLiteral("Change"));
        EXPECT_EQ(Bar().PathLocked(), 1);
        EXPECT_EQ(EditText().toStdString(), expected);
        EXPECT_EQ(Client()->GetWarcraftPath(), expected);
        EXPECT_EQ(Key("warcraftpath"), expected);
        EXPECT_EQ(Key("windowmode"), "0");
        EXPECT_EQ(Key("openglmode"), "0");
    }
    else
    {
        EXPECT_FALSE(EditReadOnly());
        EXPECT_EQ(ChangeText(), QStringLiteral("Confirm Change"));
        EXPECT_EQ(Bar().PathLocked(), 0);
        EXPECT_EQ(Key("warcraftpath"), "<missing>") << "nothing saved";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChangePath,
    ::testing::Values(
        ChangeCase{"Typed", false, "/games/w3", true, {}},
        ChangeCase{"TypedOverRegistry", true, "/games/w3", true, {}},
        ChangeCase{"EmptyTakesTheRegistry", true, "", true, {}},
        ChangeCase{"EmptyWithoutRegistry", false, "", false, {CVELTTopView::kInputPathMessage}}),
    [](const ::testing::TestParamInfo<ChangeCase>& info)
    { return std::string(info.param.m_name); });

} // namespace
} // namespace velt
