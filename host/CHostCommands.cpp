#include "host/CHostCommands.h"

#include <algorithm>
#include <string>

#include "host/CommandArguments.h"
#include "host/packets/GameToHostPackets.h"
#include "host/packets/PlayPackets.h"

namespace velt
{

namespace
{

// Row arguments of the display-switch rows: which switch, and ON for the setting rows.
constexpr std::uint8_t kObserverChat = 0;
constexpr std::uint8_t kPlayerChat = 1;
constexpr std::uint8_t kMapPings = 2;
constexpr std::uint8_t kSwitchOn = 0x10;
constexpr std::uint8_t kSwitchOff = 0x20;

constexpr std::string_view kBadArgument = "[VELT] Bad Arugment or invalid command!";
constexpr std::string_view kFastForwardTo = "[VELT] Now fast forward to ";
constexpr std::string_view kCurrentSpeed = "[VELT] Current Speed is ";

// A reply that echoes the viewer's argument stays on one chat line: a long argument is cut.
std::string EchoLine(std::string_view before, std::string_view argument, std::string_view after)
{
    const std::size_t room = MaxChatText(ChatKind::kInGame);
    const std::size_t fixed = before.size() + after.size();
    if (fixed + argument.size() > room)
        argument = argument.substr(0, room > fixed ? room - fixed : 0);
    return std::string(before) + std::string(argument) + std::string(after);
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char x, char y)
                      {
                          const auto lower = [](char c)
                          { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; };
                          return lower(x) == lower(y);
                      });
}

// The switch that a row's argument names (its low four bits).
ChatDisplaySwitches::Kind SwitchKind(std::uint8_t argument)
{
    switch (argument & 0x0F)
    {
    case kObserverChat:
        return ChatDisplaySwitches::Kind::kObserverChat;
    case kPlayerChat:
        return ChatDisplaySwitches::Kind::kPlayerChat;
    default:
        return ChatDisplaySwitches::Kind::kMapPings;
    }
}

} // namespace

// Checked in order; the first match wins. Prefix rows compare the command's first characters,
// as many as the word has; the last row's empty prefix matches anything.
const CHostCommands::Row CHostCommands::kTable[] = {
    {"obmsg", Match::kWhole, &CHostCommands::SwitchStatus, kObserverChat},
    {"pmsg", Match::kWhole, &CHostCommands::SwitchStatus, kPlayerChat},
    {"pingmsg", Match::kWhole, &CHostCommands::SwitchStatus, kMapPings},
    {"obmsg on", Match::kWhole, &CHostCommands::SwitchSet, kObserverChat | kSwitchOn},
    {"obmsg off", Match::kWhole, &CHostCommands::SwitchSet, kObserverChat | kSwitchOff},
    {"pmsg on", Match::kWhole, &CHostCommands::SwitchSet, kPlayerChat | kSwitchOn},
    {"pmsg off", Match::kWhole, &CHostCommands::SwitchSet, kPlayerChat | kSwitchOff},
    {"pingmsg on", Match::kWhole, &CHostCommands::SwitchSet, kMapPings | kSwitchOn},
    {"pingmsg off", Match::kWhole, &CHostCommands::SwitchSet, kMapPings | kSwitchOff},
    {"start", Match::kWhole, &CHostCommands::Start, 0},
    {"s", Match::kWhole, &CHostCommands::Start, 0},
    {"kaishi", Match::kWhole, &CHostCommands::Start, 0},
    {"go", Match::kWhole, &CHostCommands::Start, 0},
    {"forcestart", Match::kWhole, &CHostCommands::ForceStart, 0},
    {"fs", Match::kWhole, &CHostCommands::ForceStart, 0},
    {"rate", Match::kWhole, &CHostCommands::RateUsage, 0},
    {"rate 1", Match::kWhole, &CHostCommands::Rate, 1},
    {"rate 2", Match::kWhole, &CHostCommands::Rate, 2},
    {"rate 3", Match::kWhole, &CHostCommands::Rate, 3},
    {"rate 4", Match::kWhole, &CHostCommands::Rate, 4},
    {"rate 5", Match::kWhole, &CHostCommands::Rate, 5},
    {"cmdlist", Match::kWhole, &CHostCommands::CommandList, 0},
    {"help", Match::kWhole, &CHostCommands::Help, 0},
    {"goto", Match::kPrefix, &CHostCommands::Goto, 0},
    {"syncup", Match::kPrefix, &CHostCommands::SyncUp, 0},
    {"syncdown", Match::kPrefix, &CHostCommands::SyncDown, 0},
    {"time", Match::kWhole, &CHostCommands::Time, 0},
    {"bet", Match::kWhole, &CHostCommands::Bet, 0},
    {"faster", Match::kWhole, &CHostCommands::Faster, 0},
    {"slower", Match::kWhole, &CHostCommands::Slower, 0},
    {"speed 3", Match::kWhole, &CHostCommands::Speed, 3},
    {"sp 3", Match::kWhole, &CHostCommands::Speed, 3},
    {"speed 4", Match::kWhole, &CHostCommands::Speed, 4},
    {"sp 4", Match::kWhole, &CHostCommands::Speed, 4},
    {"speed 1", Match::kWhole, &CHostCommands::Speed, 1},
    {"sp 1", Match::kWhole, &CHostCommands::Speed, 1},
    {"speed 2", Match::kWhole, &CHostCommands::Speed, 2},
    {"sp 2", Match::kWhole, &CHostCommands::Speed, 2},
    {"speed", Match::kWhole, &CHostCommands::SpeedShow, 0},
    {"sp", Match::kWhole, &CHostCommands::SpeedShow, 0},
    // Our own commands, after every base command so that none of those answers changes.
    {"pause", Match::kWhole, &CHostCommands::Pause, 0},
    {"resume", Match::kWhole, &CHostCommands::Resume, 0},
    {"back", Match::kWhole, &CHostCommands::BackUsage, 0},
    {"back ", Match::kPrefix, &CHostCommands::Back, 0},
    {"delay", Match::kWhole, &CHostCommands::DelayShow, 0},
    {"delay ", Match::kPrefix, &CHostCommands::DelaySet, 0},
    {"status", Match::kWhole, &CHostCommands::Status, 0},
    {"", Match::kPrefix, &CHostCommands::Bad, 0},
};

const CHostCommands::Row& CHostCommands::Lookup(std::string_view command)
{
    const auto matches = [command](const Row& row)
    {
        if (row.m_match == Match::kWhole)
            return EqualsNoCase(command, row.m_word);
        return command.size() >= row.m_word.size() &&
               EqualsNoCase(command.substr(0, row.m_word.size()), row.m_word);
    };
    return *std::find_if(std::begin(kTable), std::end(kTable), matches);
}

CHostCommands::Exit CHostCommands::Handle(const GameRead& read)
{
    if (read.m_status != GameRead::Status::kPacket)
        return Return(HostResult::kContinue);
    if (read.Is(GamePacketType::kLeaveGame))
    {
        m_session.SendLeaveAck();
        return Return(HostResult::kSessionOver);
    }
    if (read.Is(GamePacketType::kOutgoingKeepalive))
        return Return(HostResult::kContinue);
    if (read.Is(GamePacketType::kChatToHost))
    {
        const auto chat = ParseViewerChat(read.m_bytes);
        if (chat && (chat->m_kind == static_cast<std::uint8_t>(ChatKind::kLobby) ||
                     chat->m_kind == static_cast<std::uint8_t>(ChatKind::kInGame)))
            return Command(static_cast<ChatKind>(chat->m_kind), chat->m_text);
    }
    return Follow();
}

CHostCommands::Exit CHostCommands::Command(ChatKind kind, std::string_view text)
{
    Context context;
    context.m_lobby = kind == ChatKind::kLobby;
    if (text.empty() || text.front() != '/')
    {
        Reply(context, "[VELT] Sorry,no chat interface configured!");
        return Follow();
    }
    context.m_command = text.substr(1);
    const Row& row = Lookup(context.m_command);
    context.m_arg = row.m_arg;
    return (this->*row.m_handler)(context);
}

void CHostCommands::Reply(const Context& context, std::string_view text)
{
    if (context.m_lobby)
        m_session.SendLobbyChat(text);
    else
        m_session.SendGameChat(text);
}

CHostCommands::Exit CHostCommands::LobbyReturnsElseFollow(const Context& context)
{
    return context.m_lobby ? Return(HostResult::kContinue) : Follow();
}

CHostCommands::Exit CHostCommands::SwitchStatus(const Context& context)
{
    static constexpr std::string_view kNames[] = {"[VELT] Observer chat message is ",
                                                  "[VELT] Player chat message is ",
                                                  "[VELT] Map Ping message is "};
    const bool on = m_owner.DisplaySwitches().Shown(SwitchKind(context.m_arg));
    Reply(context, std::string(kNames[context.m_arg]) + (on ? " ON!" : " OFF!"));
    return LobbyReturnsElseFollow(context);
}

CHostCommands::Exit CHostCommands::SwitchSet(const Context& context)
{
    static constexpr std::string_view kShown[] = {"[VELT] Display observer chat message!",
                                                  "[VELT] Display player chat message!",
                                                  "[VELT] Display map ping message!"};
    static constexpr std::string_view kHidden[] = {"[VELT] Hide observer chat message!",
                                                   "[VELT] Hide player chat message!",
                                                   "[VELT] Hide map ping message!"};
    const bool on = (context.m_arg & kSwitchOn) != 0;
    const std::uint8_t which = context.m_arg & 0x0F;
    m_owner.DisplaySwitches().Show(SwitchKind(which), on);
    Reply(context, on ? kShown[which] : kHidden[which]);
    return LobbyReturnsElseFollow(context);
}

CHostCommands::Exit CHostCommands::Start(const Context& context)
{
    if (context.m_lobby)
        return Return(HostResult::kStartRequested);
    Reply(context, "[VELT] Game Already Started!");
    return Follow();
}

CHostCommands::Exit CHostCommands::ForceStart(const Context& context)
{
    if (context.m_lobby)
        return Return(HostResult::kForceStart);
    Reply(context, "[VELT] Game Already Started!");
    return Follow();
}

CHostCommands::Exit CHostCommands::RateUsage(const Context& context)
{
    Reply(context, "[VELT] Use /rate 1-5 to give ratings!");
    return LobbyReturnsElseFollow(context);
}

CHostCommands::Exit CHostCommands::Rate(const Context& context)
{
    if (!m_session.RateOnce(context.m_arg))
    {
        Reply(context, "[VELT] You have already rated this match!");
        return Follow();
    }
    Reply(context, "[VELT] You have rated  " + std::to_string(context.m_arg) + " for this match");
    return LobbyReturnsElseFollow(context);
}

CHostCommands::Exit CHostCommands::CommandList(const Context& context)
{
    Reply(context, "[VELT] commands list:");
    Reply(context, "[VELT] <cmdlist> <help> <start> <forcestart> <alias>");
    Reply(context, "[VELT] <speed> <faster> <slower> <goto> <syncup> <syncdown>");
    Reply(context, "[VELT] <obmsg> <pmsg> <pingmsg> <ping>");
    Reply(context, "[VELT] <pause> <resume> <back> <delay> <status>");
    return Follow();
}

CHostCommands::Exit CHostCommands::Help(const Context& context)
{
    Reply(context, "[VELT] Usage: /help <command>");
    Reply(context, "[VELT] /cmdlist to show all the available commands");
    return Follow();
}

CHostCommands::Exit CHostCommands::Goto(const Context& context)
{
    if (context.m_lobby)
        return InGameOnly(context);
    const std::string_view argument = CommandArgument(context.m_command, 4);
    const auto target = GotoTargetMs(argument);
    if (!target)
        return Bad(context);
    if (m_play.Paused())
        return PausedRefusal(context);
    if (*target < m_play.GameTimeMs())
    {
        Reply(context, "[VELT] Sorry, rewind is not supported!");
        return Follow();
    }
    Reply(context, EchoLine(std::string(kFastForwardTo) + " ", argument, ""));
    return FastForward(*target);
}

CHostCommands::Exit CHostCommands::SyncUp(const Context& context)
{
    if (context.m_lobby)
        return InGameOnly(context);
    const std::string_view argument = CommandArgument(context.m_command, 6);
    const auto target = GameClockTargetMs(argument);
    if (!target)
        return Bad(context);
    if (m_play.Paused())
        return PausedRefusal(context);
    Reply(context, EchoLine(std::string(kFastForwardTo) + " ", argument, " of wacraft time"));
    return FastForward(*target);
}

CHostCommands::Exit CHostCommands::FastForward(std::uint64_t targetMs)
{
    // The jump takes the keepalive that the step waited for: the step is over.
    const HostResult result = m_play.JumpForward(targetMs);
    return Return(EndsSession(result) ? result : HostResult::kContinue);
}

CHostCommands::Exit CHostCommands::SyncDown(const Context& context)
{
    if (context.m_lobby)
        return InGameOnly(context);
    const auto target = GameClockTargetMs(CommandArgument(context.m_command, 8));
    if (!target)
        return Bad(context);
    const std::uint64_t halt = SyncDownHaltMs(*target, m_play.GameTimeMs());
    if (halt > m_play.GameTimeMs())
    {
        Reply(context, "[VELT] Can't sync to this point of time!");
        return Follow();
    }
    Reply(context,
          "[VELT] Synchronising:Game is halted for  " + std::to_string(halt / 1000) + " seconds");
    // Held on purpose, play falls behind the live edge.
    if (halt > 0)
        m_stream.LeaveLiveEdge();
    const HostResult result = m_play.HaltFor(static_cast<std::uint32_t>(halt));
    return EndsSession(result) ? Return(result) : Follow();
}

CHostCommands::Exit CHostCommands::InGameOnly(const Context& context)
{
    Reply(context, "[VELT] You can only execute this command in game!");
    return Follow();
}

CHostCommands::Exit CHostCommands::Time(const Context& context)
{
    const std::uint32_t seconds = m_play.GameTimeMs() / 1000;
    Reply(context, "[VELT] The current game time is  " + std::to_string(seconds / 60) + ":" +
                       std::to_string(seconds % 60) + " ");
    return Follow();
}

CHostCommands::Exit CHostCommands::Bet(const Context& context)
{
    Reply(context, context.m_lobby ? "Bet is not available yet" : "[VELT] Bet is not avilable!");
    return Follow();
}

CHostCommands::Exit CHostCommands::Faster(const Context& context)
{
    const std::uint8_t level = m_play.ShownLevel();
    return ChangeSpeed(context, level < 4 ? level + 1 : 4, {});
}

CHostCommands::Exit CHostCommands::Slower(const Context& context)
{
    const std::uint8_t level = m_play.ShownLevel();
    return ChangeSpeed(context, level > 1 ? level - 1 : 1, {});
}

CHostCommands::Exit CHostCommands::Speed(const Context& context)
{
    static constexpr std::string_view kSet[] = {
        "", "[VELT] Speed set to normal!", "[VELT] Speed set to 2x!", "[VELT] Speed set to 3x!",
        "[VELT] Speed set to 4x!"};
    return ChangeSpeed(context, context.m_arg, kSet[context.m_arg]);
}

CHostCommands::Exit CHostCommands::ChangeSpeed(const Context& context, std::uint8_t level,
                                               std::string_view reply)
{
    const HostResult result = m_play.ChooseSpeed(level);
    if (EndsSession(result))
        return Return(result);
    if (reply.empty())
        CurrentSpeed(context);
    else
        Reply(context, reply);
    return Follow();
}

void CHostCommands::CurrentSpeed(const Context& context)
{
    Reply(context, std::string(kCurrentSpeed) + " " + std::to_string(m_play.ShownLevel()) + ".0");
}

CHostCommands::Exit CHostCommands::SpeedShow(const Context& context)
{
    CurrentSpeed(context);
    return Follow();
}

CHostCommands::Exit CHostCommands::Bad(const Context& context)
{
    Reply(context, kBadArgument);
    return Follow();
}

CHostCommands::Exit CHostCommands::PausedRefusal(const Context& context)
{
    Reply(context, "[VELT] Paused: type /resume first");
    return Follow();
}

CHostCommands::Exit CHostCommands::Pause(const Context& context)
{
    if (context.m_lobby)
        return InGameOnly(context);
    if (m_play.Paused())
    {
        Reply(context, "[VELT] Already paused, /resume to play on");
        return Follow();
    }
    const HostResult result = m_play.Pause();
    if (EndsSession(result))
        return Return(result);
    Reply(context,
          "[VELT] Paused at " + MinutesSeconds(m_play.GameTimeMs()) + ", /resume to play on");
    return Follow();
}

CHostCommands::Exit CHostCommands::Resume(const Context& context)
{
    if (context.m_lobby)
        return InGameOnly(context);
    if (!m_play.Paused())
    {
        Reply(context, "[VELT] Not paused");
        return Follow();
    }
    Reply(context, "[VELT] Resumed");
    const HostResult result = m_play.Resume();
    return EndsSession(result) ? Return(result) : Follow();
}

CHostCommands::Exit CHostCommands::BackUsage(const Context& context)
{
    Reply(context, "[VELT] Use /back M:S to watch again from an earlier game time");
    return Follow();
}

CHostCommands::Exit CHostCommands::Back(const Context& context)
{
    if (context.m_lobby)
        return InGameOnly(context);
    const auto target = BackTargetMs(CommandArgument(context.m_command, 4));
    if (!target)
        return BackUsage(context);
    const std::uint32_t now = m_play.GameTimeMs();
    if (*target >= now)
    {
        Reply(context,
              "[VELT] /back goes to an earlier time only; the game is at " + MinutesSeconds(now));
        return Follow();
    }
    // The game cannot run backwards: it ends here as at the end of a match, the host lets it
    // join again at once, and that session fast-forwards to the target.
    Reply(context, "[VELT] Back to " + MinutesSeconds(*target) +
                       ": join the game again from the LAN screen");
    m_session.RequestReplayFrom(*target);
    m_session.SendLeaveAck();
    return Return(HostResult::kSessionOver);
}

CHostCommands::Exit CHostCommands::DelayShow(const Context& context)
{
    Reply(context, "[VELT] Delay behind live is " + std::to_string(m_play.LiveDelay()) +
                       " s; /delay 0-600 sets it");
    return LobbyReturnsElseFollow(context);
}

CHostCommands::Exit CHostCommands::DelaySet(const Context& context)
{
    const auto seconds = DelaySecondsArgument(CommandArgument(context.m_command, 5),
                                              IPlayControl::kMaxLiveDelaySeconds);
    if (!seconds)
    {
        Reply(context, "[VELT] Use /delay 0-600 (seconds behind live)");
        return LobbyReturnsElseFollow(context);
    }
    m_play.SetLiveDelay(*seconds);
    Reply(context, "[VELT] Delay behind live set to " + std::to_string(*seconds) + " s");
    return LobbyReturnsElseFollow(context);
}

CHostCommands::Exit CHostCommands::Status(const Context& context)
{
    const HostStatus status = m_session.Status();
    const CStreamBuffer& stream = m_stream;
    std::string first = "[VELT] Game time " + MinutesSeconds(status.m_gameTimeMs) + ", speed " +
                        std::to_string(status.m_speed) + ".0";
    if (status.m_paused)
        first += ", paused";
    else if (status.m_buffering)
        first += ", buffering";
    Reply(context, first);
    std::string second =
        "[VELT] " + std::to_string(status.m_bufferedAheadMs / 1000) + " s of game buffered";
    if (m_header.LiveMatch() && !stream.Ended())
    {
        const std::uint64_t edgeMs = std::uint64_t{stream.MatchSeconds()} * 1000;
        const std::uint64_t behind =
            edgeMs > status.m_gameTimeMs ? edgeMs - status.m_gameTimeMs : 0;
        second += ", " + std::to_string(behind / 1000) + " s behind live, delay " +
                  std::to_string(status.m_liveDelaySeconds) + " s";
    }
    Reply(context, second);
    return LobbyReturnsElseFollow(context);
}

} // namespace velt
