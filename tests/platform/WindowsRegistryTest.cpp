// The registry lookup against keys that the test writes and removes under the current user.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "platform/Registry.h"
#include "tests/platform/CTemporaryRegistryKey.h"
#include "server/CMatchServerClient.h"

using namespace velt;

namespace
{

constexpr const wchar_t* kWarcraftKey = L"Software\\Blizzard Entertainment\\Warcraft III";

} // namespace

TEST(WindowsRegistryTest, ReadsStringValuesOfATemporaryKey)
{
    const std::wstring path =
        L"Software\\VELTPlayer test " + std::to_wstring(::GetCurrentProcessId());
    CTemporaryRegistryKey key(path);
    ASSERT_TRUE(key.Usable());
    key.Set(L"Found", L"C:\\Games\\Warcraft III");
    key.Set(L"Empty", L"");
    key.Set(L"Wide", L"C:\\Spiele\\\u00dcber");
    const std::string narrow = "Software\\VELTPlayer test " + std::to_string(::GetCurrentProcessId());
    const struct
    {
        const char* value;
        std::size_t maxBytes;
        const char* expected; // nullptr: nothing read
    } rows[] = {
        {"Found", 255, "C:\\Games\\Warcraft III"},
        {"found", 255, "C:\\Games\\Warcraft III"},
        {"Empty", 255, ""},
        {"Wide", 255, "C:\\Spiele\\\xC3\x9C" "ber"},
        {"Missing", 255, nullptr},
        {"Found", 10, nullptr},
    };
    for (const auto& row : rows)
    {
        const auto read = ReadUserRegistryString(narrow, row.value, row.maxBytes);
        EXPECT_EQ(read.has_value(), row.expected != nullptr) << row.value;
        if (read && row.expected)
        {
            EXPECT_EQ(*read, row.expected) << row.value;
        }
    }
    EXPECT_FALSE(ReadUserRegistryString(narrow + " missing", "Found"));
}

// The game's own key, written only where no installation has written it.
TEST(WindowsRegistryTest, InstallPathGetsOneTrailingSeparatorAndMissingLeavesTheFolder)
{
    const struct
    {
        const char* name;
        const wchar_t* value; // nullptr: the key has no InstallPathX
        const char* expected;
    } rows[] = {
        {"without separator", L"C:\\Games\\Warcraft III", "C:\\Games\\Warcraft III\\"},
        {"with separator", L"C:\\Games\\Warcraft III\\", "C:\\Games\\Warcraft III\\"},
        {"empty", L"", ""},
        {"missing", nullptr, ""},
    };
    for (const auto& row : rows)
    {
        CTemporaryRegistryKey key(kWarcraftKey);
        if (!key.Usable())
            GTEST_SKIP() << "this user has Warcraft III's registry key; it is left alone";
        if (row.value != nullptr)
            key.Set(L"InstallPathX", row.value);
        CRecordingNotice notices;
        CMatchServerClient client(notices);
        client.SetWarcraftPath("D:\\Before\\");
        EXPECT_EQ(client.QueryWarcraftInstallPath(), row.expected) << row.name;
        EXPECT_EQ(client.GetWarcraftPath(), *row.expected ? row.expected : "D:\\Before\\") << row.name;
    }
}
