#include <gtest/gtest.h>

#include "host/packets/GameToHostPackets.h"
#include "host/packets/PlayPackets.h"
#include "tests/doubles/HostRig.h"

namespace velt::test
{
namespace
{

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

const std::string kBad = "[VELT] Bad Arugment or invalid command!";
const std::string kInGameOnly = "[VELT] You can only execute this command in game!";
const std::string kStarted = "[VELT] Game Already Started!";
const std::string kNormal = "[VELT] Now play with normal speed";
const std::string kBackUsage = "[VELT] Use /back M:S to watch again from an earlier game time";
const std::string kDelayUsage = "[VELT] Use /delay 0-600 (seconds behind live)";

// One command and the lines it gets. A line ending in '*' matches any line it begins.
struct CommandRow
{
    std::string m_command;
    Lines m_lines;
};

bool LinesMatch(const Lines& got, const Lines& expected)
{
    if (got.size() != expected.size())
        return false;
    for (std::size_t i = 0; i < got.size(); ++i)
    {
        const std::string& want = expected[i];
        if (!want.empty() && want.back() == '*'
                ? got[i].rfind(want.substr(0, want.size() - 1), 0) != 0
                : got[i] != want)
            return false;
    }
    return true;
}

std::string Show(const Lines& lines)
{
    std::string text;
    for (const auto& line : lines)
        text += "\n  \"" + line + "\"";
    return text;
}

// Types each command in the lobby, followed by a sentinel whose answer ends the command's lines.
void RunLobbyRows(const std::vector<CommandRow>& rows)
{
    HostRig rig;
    ASSERT_TRUE(rig.Start());
    CScriptedGame game;
    ASSERT_TRUE(game.Connect(rig.Port()) && game.Join() && game.MapReport());
    game.LobbyLines();
    for (const auto& row : rows)
    {
        const bool betRow = row.m_command == "/bet";
        const std::string sentinel = betRow ? "/help" : "/bet";
        const std::string sentinelLine =
            betRow ? "[VELT] /cmdlist to show all the available commands" : "Bet is not available yet";
        ASSERT_TRUE(game.Chat(ChatKind::kLobby, row.m_command));
        ASSERT_TRUE(game.Chat(ChatKind::kLobby, sentinel));
        Lines lines;
        while (auto packet = game.Read())
        {
            const auto text = ChatText(*packet);
            ASSERT_TRUE(text) << "lobby packet of type " << int((*packet)[1]);
            if (*text == sentinelLine)
                break;
            lines.push_back(*text);
        }
        if (betRow)
            lines.pop_back(); // the sentinel's first line
        EXPECT_TRUE(LinesMatch(lines, row.m_lines))
            << "lobby " << row.m_command << Show(lines) << "\nexpected" << Show(row.m_lines);
    }
}

// Plays a long stream, answering every time slot with one keepalive. Each command is typed
// between two slots; once its lines have come (or after many slots), a sentinel command goes
// with a later keepalive, and its answer ends the command's lines.
void RunGameRows(const std::vector<CommandRow>& rows)
{
    HostRig rig;
    const Bytes stream = CStreamBuilder().Slots(20000).Take();
    rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(stream.size()), true);
    ASSERT_TRUE(rig.Start());
    CScriptedGame game;
    ASSERT_TRUE(rig.JoinAndStart(game));
    // Let the welcome lines go by.
    for (int slots = 0; slots < 4;)
    {
        const auto packet = game.Read();
        ASSERT_TRUE(packet);
        if (IsType(*packet, GamePacketType::kIncomingAction))
        {
            ++slots;
            ASSERT_TRUE(game.Keepalive());
        }
    }
    constexpr int kSlotsBeforeGivingUp = 3000;
    for (const auto& row : rows)
    {
        const bool betRow = row.m_command == "/bet";
        const std::string sentinel = betRow ? "/help" : "/bet";
        const std::string sentinelLine = betRow
                                             ? "[VELT] /cmdlist to show all the available commands"
                                             : "[VELT] Bet is not avilable!";
        ASSERT_TRUE(game.Send(GameChat(row.m_command)));
        Lines lines;
        bool sentinelSent = false;
        int slots = 0;
        for (;;)
        {
            const auto packet = game.Read();
            ASSERT_TRUE(packet) << "no answer to " << row.m_command;
            if (IsType(*packet, GamePacketType::kIncomingAction))
            {
                ++slots;
                const bool sendSentinel = !sentinelSent && (lines.size() >= row.m_lines.size() ||
                                                            slots > kSlotsBeforeGivingUp);
                if (sendSentinel)
                    ASSERT_TRUE(game.SendTogether({BuildKeepalive({}), GameChat(sentinel)}));
                else
                    ASSERT_TRUE(game.Keepalive());
                sentinelSent = sentinelSent || sendSentinel;
            }
            else if (const auto text = ChatText(*packet))
            {
                if (sentinelSent && *text == sentinelLine)
                    break;
                lines.push_back(*text);
            }
        }
        if (betRow)
            lines.pop_back(); // the sentinel's first line
        EXPECT_TRUE(LinesMatch(lines, row.m_lines))
            << "in game " << row.m_command << Show(lines) << "\nexpected" << Show(row.m_lines);
    }
}

const Lines kCommandList = {"[VELT] commands list:",
                            "[VELT] <cmdlist> <help> <start> <forcestart> <alias>",
                            "[VELT] <speed> <faster> <slower> <goto> <syncup> <syncdown>",
                            "[VELT] <obmsg> <pmsg> <pingmsg> <ping>",
                            "[VELT] <pause> <resume> <back> <delay> <status>"};
const Lines kHelp = {"[VELT] Usage: /help <command>",
                     "[VELT] /cmdlist to show all the available commands"};

// Rows whose answers are the same in the lobby and in the game, in an order that shows the
// switches' state changing.
std::vector<CommandRow> CommonRows()
{
    return {
        {"/obmsg", {"[VELT] Observer chat message is  ON!"}},
        {"/pmsg", {"[VELT] Player chat message is  ON!"}},
        {"/PINGMSG", {"[VELT] Map Ping message is  ON!"}},
        {"/obmsg off", {"[VELT] Hide observer chat message!"}},
        {"/obmsg", {"[VELT] Observer chat message is  OFF!"}},
        {"/obmsg on", {"[VELT] Display observer chat message!"}},
        {"/pmsg off", {"[VELT] Hide player chat message!"}},
        {"/pmsg", {"[VELT] Player chat message is  OFF!"}},
        {"/pmsg on", {"[VELT] Display player chat message!"}},
        {"/pingmsg off", {"[VELT] Hide map ping message!"}},
        {"/pingmsg", {"[VELT] Map Ping message is  OFF!"}},
        {"/pingmsg on", {"[VELT] Display map ping message!"}},
        {"/obmsg  on", {kBad}},
        {"/rate", {"[VELT] Use /rate 1-5 to give ratings!"}},
        {"/rate 6", {kBad}},
        {"/rate 3", {"[VELT] You have rated  3 for this match"}},
        {"/rate 4", {"[VELT] You have already rated this match!"}},
        {"/cmdlist", kCommandList},
        {"/help", kHelp},
        {"/help me", {kBad}},
        {"/alias", {kBad}},
        {"/ping", {kBad}},
        {"hello", {"[VELT] Sorry,no chat interface configured!"}},
        {"/", {kBad}},
        {"/speed", {"[VELT] Current Speed is  1.0"}},
        {"/slower", {"[VELT] Current Speed is  1.0"}},
        {"/faster", {"[VELT] Current Speed is  2.0"}},
        {"/faster", {"[VELT] Current Speed is  3.0"}},
        {"/faster", {"[VELT] Current Speed is  4.0"}},
        {"/faster", {"[VELT] Current Speed is  4.0"}},
        {"/sp", {"[VELT] Current Speed is  4.0"}},
        {"/slower", {"[VELT] Current Speed is  3.0"}},
        {"/speed 2", {"[VELT] Speed set to 2x!"}},
        {"/SPEED 3", {"[VELT] Speed set to 3x!"}},
        {"/sp 4", {"[VELT] Speed set to 4x!"}},
        {"/speed 5", {kBad}},
        {"/sp 1", {"[VELT] Speed set to normal!"}},
        {"/sp 2", {"[VELT] Speed set to 2x!"}},
        {"/speed 1", {"[VELT] Speed set to normal!"}},
    };
}

TEST(HostCommands, EveryRowInTheLobby)
{
    std::vector<CommandRow> rows = CommonRows();
    const std::vector<CommandRow> lobbyOnly = {
        {"/goto 1:00", {kInGameOnly}},
        {"/syncup 12:00", {kInGameOnly}},
        {"/syncdown 8:00", {kInGameOnly}},
        {"/goto", {kInGameOnly}},
        {"/time", {"[VELT] The current game time is  0:0 "}},
        {"/bet", {"Bet is not available yet"}},
        // Our own commands.
        {"/pause", {kInGameOnly}},
        {"/resume", {kInGameOnly}},
        {"/back 0:10", {kInGameOnly}},
        {"/back", {kBackUsage}},
        {"/delay", {"[VELT] Delay behind live is 0 s; /delay 0-600 sets it"}},
        {"/delay 30", {"[VELT] Delay behind live set to 30 s"}},
        {"/DELAY", {"[VELT] Delay behind live is 30 s; /delay 0-600 sets it"}},
        {"/delay 601", {kDelayUsage}},
        {"/delay -1", {kDelayUsage}},
        {"/status", {"[VELT] Game time 0:00, speed 1.0", "[VELT] 0 s of game buffered*"}},
        {"/pauses", {kBad}},
        {"/backup", {kBad}},
        {"/delayed", {kBad}},
    };
    rows.insert(rows.end(), lobbyOnly.begin(), lobbyOnly.end());
    RunLobbyRows(rows);
}

TEST(HostCommands, EveryRowInTheGame)
{
    // Game time matters to the first rows, so they come before the common ones.
    std::vector<CommandRow> rows = {
        {"/start", {kStarted}},
        {"/s", {kStarted}},
        {"/kaishi", {kStarted}},
        {"/go", {kStarted}},
        {"/forcestart", {kStarted}},
        {"/FS", {kStarted}},
        {"/bet", {"[VELT] Bet is not avilable!"}},
        {"/time", {"[VELT] The current game time is  0:*"}},
        {"/goto 90", {kBad}},
        {"/goto 1:61", {kBad}},
        {"/goto", {kBad}},
        {"/goto 0:0", {"[VELT] Sorry, rewind is not supported!"}},
        {"/syncup 24:00", {kBad}},
        {"/syncdown 23:61", {kBad}},
        {"/syncdown 23:59", {"[VELT] Can't sync to this point of time!"}},
        {"/syncdown 08:00", {"[VELT] Synchronising:Game is halted for  *"}},
        {"/time", {"[VELT] The current game time is  0:*"}},
        {"/syncup 8:00", {"[VELT] Now fast forward to  8:00 of wacraft time"}},
        {"/goto 0:20", {"[VELT] Now fast forward to  0:20", kNormal}},
        {"/goto -1:30", {kBad}},
        {"/goto 1:-5", {kBad}},
        // A long argument is echoed on one line, cut.
        {"/goto 0:25" + std::string(300, 'x'),
         {"[VELT] Now fast forward to  0:25" + std::string(115 - 32, 'x'), kNormal}},
        {"/time", {"[VELT] The current game time is  0:2*"}},
        {"/syncup 9:30", {"[VELT] Now fast forward to  9:30 of wacraft time", kNormal}},
        {"/time", {"[VELT] The current game time is  0:3*"}},
        {"/goto 0:05", {"[VELT] Sorry, rewind is not supported!"}},
        {"/GOTO 1:00", {"[VELT] Now fast forward to  1:00", kNormal}},
        {"/time", {"[VELT] The current game time is  1:*"}},
        // Our own commands.
        {"/resume", {"[VELT] Not paused"}},
        {"/pause", {"[VELT] Paused at 1:0*"}},
        {"/pause", {"[VELT] Already paused, /resume to play on"}},
        {"/goto 5:00", {"[VELT] Paused: type /resume first"}},
        {"/sp 3", {"[VELT] Speed set to 3x!"}},
        {"/status", {"[VELT] Game time 1:0*", "[VELT] *"}},
        {"/resume", {"[VELT] Resumed"}},
        {"/speed", {"[VELT] Current Speed is  3.0"}},
        {"/sp 1", {"[VELT] Speed set to normal!"}},
        {"/back 9:00", {"[VELT] /back goes to an earlier time only; the game is at 1:0*"}},
        {"/back", {kBackUsage}},
        {"/back 0:61", {kBackUsage}},
        {"/delay 20", {"[VELT] Delay behind live set to 20 s"}},
        {"/delay 6000", {kDelayUsage}},
    };
    const std::vector<CommandRow> common = CommonRows();
    rows.insert(rows.end(), common.begin(), common.end());
    RunGameRows(rows);
}

// A line the viewer types while the host only wants keepalives (the reads after slowing down,
// the keepalive read before a jump) is answered once those are in, not lost.
struct TypedLineRow
{
    const char* m_name;
    std::vector<std::string> m_before; // typed at slot 3
    std::string m_command;             // typed at slot 20, with the line right behind it
};

void PlayTypingALineBehind(const TypedLineRow& row, const Bytes& stream)
{
    const std::string reply = "[VELT] Player chat message is  ON!";
    HostRig rig;
    rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(stream.size()), true);
    ASSERT_TRUE(rig.Start());
    CScriptedGame game;
    ASSERT_TRUE(rig.JoinAndStart(game));
    int slots = 0;
    for (bool answered = false; !answered;)
    {
        const auto packet = game.Read();
        ASSERT_TRUE(packet) << row.m_name << ": no answer to the line";
        ASSERT_FALSE(IsLeaveAck(*packet)) << row.m_name << ": the line was lost";
        answered = ChatText(*packet) == reply;
        if (!IsType(*packet, GamePacketType::kIncomingAction))
            continue;
        // The game answers every time slot, typing where the row says.
        std::vector<Bytes> send;
        if (++slots == 3)
            for (const std::string& text : row.m_before)
                send.push_back(GameChat(text));
        if (slots == 20)
        {
            send.push_back(GameChat(row.m_command));
            send.push_back(GameChat("/pmsg"));
        }
        send.push_back(BuildKeepalive({}));
        ASSERT_TRUE(game.SendTogether(send)) << row.m_name;
    }
}

TEST(HostCommands, ALineTypedWhileKeepalivesAreTakenIsAnsweredAfterwards)
{
    const Bytes stream = CStreamBuilder().Slots(600).Take();
    for (const TypedLineRow& row : {TypedLineRow{"back to normal from 4x", {"/sp 4"}, "/sp 1"},
                                    TypedLineRow{"one step slower from 3x", {"/sp 3"}, "/slower"},
                                    TypedLineRow{"jump", {}, "/goto 0:30"}})
        PlayTypingALineBehind(row, stream);
}

} // namespace
} // namespace velt::test
