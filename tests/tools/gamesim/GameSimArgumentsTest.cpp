#include <gtest/gtest.h>

#include <optional>

#include "tools/gamesim/GameSimArguments.h"

using namespace velt;
using Args = std::vector<std::string>;

TEST(GameSimArgumentsTest, OptionsFillTheScript)
{
    std::string error;
    const auto options = ParseGameSimArguments({"--announce-port", "0",
                                                "--slot-delay",    "100",
                                                "--lobby",         "/pmsg off",
                                                "--lobby",         "/fs",
                                                "--chat",          "90000:/goto 5:00",
                                                "--chat",          "0:a:b",
                                                "--leave-at",      "120000",
                                                "--vanish",        "--coalesce",
                                                "--split",         "--no-start",
                                                "--name",          "Watcher",
                                                "--timeout",       "30",
                                                "--quiet",         "--pace",
                                                "--rejoins",       "2"},
                                               error);
    ASSERT_TRUE(options) << error;
    const GameSimScript& script = options->m_script;
    EXPECT_EQ(script.m_announcePort, 0);
    EXPECT_EQ(script.m_slotDelayMs, 100u);
    EXPECT_EQ(script.m_lobbyChat, (Args{"/pmsg off", "/fs"}));
    ASSERT_EQ(script.m_gameChat.size(), 2u);
    EXPECT_EQ(script.m_gameChat[0].m_atGameTimeMs, 90000u);
    EXPECT_EQ(script.m_gameChat[0].m_text, "/goto 5:00");
    EXPECT_EQ(script.m_gameChat[1].m_text, "a:b");
    EXPECT_EQ(script.m_leaveAtGameTimeMs, 120000u);
    EXPECT_TRUE(script.m_vanishAtGameTimeMs && script.m_coalesce && script.m_splitPackets);
    EXPECT_FALSE(script.m_startAfterLobbyChat);
    EXPECT_EQ(script.m_playerName, "Watcher");
    EXPECT_EQ(options->m_timeoutSeconds, 30u);
    EXPECT_TRUE(script.m_paceByInterval);
    EXPECT_EQ(script.m_rejoins, 2u);
    EXPECT_TRUE(options->m_quiet);

    const auto defaults = ParseGameSimArguments({}, error);
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->m_script.m_announcePort, kGameSimDefaultAnnouncePort);
    EXPECT_TRUE(defaults->m_script.m_startAfterLobbyChat);
}

TEST(GameSimArgumentsTest, BadUsageIsRefusedWithAReason)
{
    const std::pair<Args, const char*> rows[] = {
        {{"--bogus"}, "unknown option \"--bogus\""},
        {{"--announce-port"}, "--announce-port needs a port number (0-65535)"},
        {{"--announce-port", "65536"},
         "--announce-port needs a port number (0-65535), not \"65536\""},
        {{"--slot-delay", "-5"}, "--slot-delay needs a number of milliseconds, not \"-5\""},
        {{"--leave-at", "12s"}, "--leave-at needs a number of milliseconds, not \"12s\""},
        {{"--timeout", ""}, "--timeout needs a number of seconds, not \"\""},
        {{"--lobby"}, "--lobby needs a line of text"},
        {{"--chat", "/faster"},
         "--chat needs MS:TEXT (game time in milliseconds, a colon, the line), not \"/faster\""},
        {{"--chat", "x:/faster"},
         "--chat needs MS:TEXT (game time in milliseconds, a colon, the line), not \"x:/faster\""},
        {{"--chat", "100:"},
         "--chat needs MS:TEXT (game time in milliseconds, a colon, the line), not \"100:\""},
        {{"--vanish"}, "--vanish needs --leave-at"},
        {{"--rejoins", "x"}, "--rejoins needs a number of sessions, not \"x\""},
        {{"--name", "SixteenCharsLong"}, "--name needs 1 to 15 characters"},
        {{"--mdns"}, "--mdns needs a game version"},
        {{"--mdns", "1.29"},
         "--mdns needs a game version from 1.30 on (1.30 ... 1.36, 2.0 ...), not \"1.29\""},
        {{"--mdns", "1.3x"},
         "--mdns needs a game version from 1.30 on (1.30 ... 1.36, 2.0 ...), not \"1.3x\""},
        {{"--mdns", "2.0."},
         "--mdns needs a game version from 1.30 on (1.30 ... 1.36, 2.0 ...), not \"2.0.\""},
    };
    for (const auto& [args, expected] : rows)
    {
        std::string error;
        EXPECT_FALSE(ParseGameSimArguments(args, error)) << expected;
        EXPECT_EQ(error, expected);
    }
}

// Versions as people write them, in the announcement's numbering.
TEST(GameSimArgumentsTest, GameVersionsTakeTheAnnouncementsNumbering)
{
    const std::pair<const char*, std::optional<std::uint32_t>> rows[] = {
        {"1.26", 26},           {"1.29", 29},
        {"1.30", 10030},        {"1.32", 10032},
        {"1.36", 10036},        {"2.0", 10100},
        {"2.0.2", 10100},       {"2.1", 10101},
        {"10032", 10032},       {"1.", std::nullopt},
        {".32", std::nullopt},  {"1.32.x", std::nullopt},
        {"0.32", std::nullopt}, {"1.100", std::nullopt},
        {"", std::nullopt}};
    for (const auto& [text, expected] : rows)
        EXPECT_EQ(ParseGameVersion(text), expected) << text;
    std::string error;
    const auto options = ParseGameSimArguments({"--mdns", "2.0.2"}, error);
    ASSERT_TRUE(options) << error;
    EXPECT_EQ(options->m_script.m_mdnsVersion, 10100u);
}
