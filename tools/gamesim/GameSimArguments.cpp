#include "tools/gamesim/GameSimArguments.h"

#include <charconv>
#include <limits>

#include "host/mdns/BlizzardGameRecord.h"
#include "host/packets/GamePacket.h"

namespace velt
{

const char* const kGameSimUsage =
    "usage: velt-gamesim [options]\n"
    "  --announce-port P   UDP port to hear announcements on (default 6112, 0 picks a free one)\n"
    "  --slot-delay MS     wait MS milliseconds before answering each time slot\n"
    "  --pace              answer each time slot after its interval, as the game at normal speed\n"
    "  --rejoins N         join the game again N times after the host ends it\n"
    "  --mdns VERSION      find the game over multicast DNS as a game of VERSION does (1.30 to\n"
    "                      1.36, 2.0 ...), on the loopback interface, instead of hearing the\n"
    "                      UDP announcement\n"
    "  --lobby TEXT        type TEXT in the lobby (repeatable, in order)\n"
    "  --no-start          do not type /start after the lobby lines\n"
    "  --chat MS:TEXT      type TEXT in the game once game time reaches MS (repeatable)\n"
    "  --leave-at MS       leave once game time reaches MS\n"
    "  --vanish            with --leave-at: close the connection instead of leaving\n"
    "  --coalesce          send a keepalive and the lines after it in one send\n"
    "  --split             send every packet in two halves\n"
    "  --name NAME         player name in the join request (1 to 15 characters)\n"
    "  --stamp             print each line after the ms since the start and the game time\n"
    "                      when it came: \"game:  @W +G text\"\n"
    "  --answer SEEN=TEXT  type TEXT in the game whenever a line containing SEEN comes\n"
    "                      (repeatable)\n"
    "  --timeout S         give up after S seconds\n"
    "  --quiet             print the summary only\n"
    "  --help              print this text\n";

namespace
{

// A whole decimal number within [0, max]; no sign, no spaces, no trailing text.
template <typename T> std::optional<T> ParseNumber(const std::string& text)
{
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end ||
        value > std::numeric_limits<T>::max())
        return std::nullopt;
    return static_cast<T>(value);
}

class CArgumentCursor
{
public:
    CArgumentCursor(const std::vector<std::string>& args, std::string& error)
        : m_args(args), m_error(error)
    {
    }

    bool AtEnd() const { return m_next >= m_args.size(); }
    const std::string& Next() { return m_args[m_next++]; }

    std::optional<std::string> Value(const std::string& option, const char* what)
    {
        if (AtEnd())
        {
            m_error = option + " needs " + what;
            return std::nullopt;
        }
        return Next();
    }

    template <typename T> std::optional<T> Number(const std::string& option, const char* what)
    {
        const auto text = Value(option, what);
        if (!text)
            return std::nullopt;
        const auto value = ParseNumber<T>(*text);
        if (!value)
            m_error = option + " needs " + what + ", not \"" + *text + "\"";
        return value;
    }

private:
    const std::vector<std::string>& m_args;
    std::string& m_error;
    std::size_t m_next = 0;
};

std::optional<GameSimChat> ParseTimedChat(const std::string& text)
{
    const auto colon = text.find(':');
    if (colon == std::string::npos)
        return std::nullopt;
    const auto at = ParseNumber<std::uint32_t>(text.substr(0, colon));
    if (!at || colon + 1 == text.size())
        return std::nullopt;
    return GameSimChat{*at, text.substr(colon + 1)};
}

bool ParseOne(const std::string& option, CArgumentCursor& cursor, GameSimOptions& options,
              std::string& error)
{
    GameSimScript& script = options.m_script;
    if (option == "--mdns")
    {
        const auto text = cursor.Value(option, "a game version");
        if (!text)
            return false;
        const auto version = ParseGameVersion(*text);
        if (!version || *version < kFirstMdnsGameVersion)
        {
            error = "--mdns needs a game version from 1.30 on (1.30 ... 1.36, 2.0 ...), not \"" +
                    *text + "\"";
            return false;
        }
        script.m_mdnsVersion = *version;
        return true;
    }
    if (option == "--announce-port")
    {
        const auto port = cursor.Number<std::uint16_t>(option, "a port number (0-65535)");
        script.m_announcePort = port.value_or(0);
        return port.has_value();
    }
    if (option == "--slot-delay" || option == "--leave-at")
    {
        const auto ms = cursor.Number<std::uint32_t>(option, "a number of milliseconds");
        if (ms && option == "--slot-delay")
            script.m_slotDelayMs = *ms;
        else if (ms)
            script.m_leaveAtGameTimeMs = *ms;
        return ms.has_value();
    }
    if (option == "--rejoins")
    {
        const auto count = cursor.Number<std::uint32_t>(option, "a number of sessions");
        script.m_rejoins = count.value_or(0);
        return count.has_value();
    }
    if (option == "--timeout")
    {
        const auto seconds = cursor.Number<std::uint32_t>(option, "a number of seconds");
        options.m_timeoutSeconds = seconds;
        return seconds.has_value();
    }
    if (option == "--lobby" || option == "--name")
    {
        const auto text = cursor.Value(option, option == "--lobby" ? "a line of text" : "a name");
        if (text && option == "--lobby")
            script.m_lobbyChat.push_back(*text);
        else if (text)
            script.m_playerName = *text;
        return text.has_value();
    }
    if (option == "--answer")
    {
        const auto text = cursor.Value(option, "SEEN=TEXT");
        if (!text)
            return false;
        const auto equals = text->find('=');
        if (equals == std::string::npos || equals == 0 || equals + 1 == text->size())
        {
            error =
                "--answer needs SEEN=TEXT (a text to wait for, =, the line), not \"" + *text + "\"";
            return false;
        }
        options.m_answers.emplace_back(text->substr(0, equals), text->substr(equals + 1));
        return true;
    }
    if (option == "--chat")
    {
        const auto text = cursor.Value(option, "MS:TEXT");
        if (!text)
            return false;
        const auto chat = ParseTimedChat(*text);
        if (!chat)
            error = "--chat needs MS:TEXT (game time in milliseconds, a colon, the line), not \"" +
                    *text + "\"";
        else
            script.m_gameChat.push_back(*chat);
        return chat.has_value();
    }
    const std::pair<const char*, bool*> flags[] = {
        {"--no-start", nullptr},
        {"--vanish", &script.m_vanishAtGameTimeMs},
        {"--coalesce", &script.m_coalesce},
        {"--split", &script.m_splitPackets},
        {"--pace", &script.m_paceByInterval},
        {"--quiet", &options.m_quiet},
        {"--stamp", &options.m_stampLines},
        {"--help", &options.m_help},
    };
    for (const auto& [name, flag] : flags)
    {
        if (option != name)
            continue;
        if (flag == nullptr)
            script.m_startAfterLobbyChat = false;
        else
            *flag = true;
        return true;
    }
    error = "unknown option \"" + option + "\"";
    return false;
}

} // namespace

// "1.32" is 10032 and "2.0" or "2.0.2" 10100: 10000 + 100 * (major - 1) + minor; before 1.30
// the number was the minor alone ("1.26" is 26). A plain number is taken as it stands.
std::optional<std::uint32_t> ParseGameVersion(const std::string& text)
{
    const std::size_t dot = text.find('.');
    if (dot == std::string::npos)
        return ParseNumber<std::uint32_t>(text);
    const std::size_t second = text.find('.', dot + 1);
    const auto major = ParseNumber<std::uint32_t>(text.substr(0, dot));
    const auto minor = ParseNumber<std::uint32_t>(text.substr(dot + 1, second - dot - 1));
    // A third number (2.0.2) is a patch of the same version.
    if (second != std::string::npos && !ParseNumber<std::uint32_t>(text.substr(second + 1)))
        return std::nullopt;
    if (!major || !minor || *major == 0 || *major > 9 || *minor > 99)
        return std::nullopt;
    if (*major == 1 && *minor < 30)
        return *minor;
    return 10000 + 100 * (*major - 1) + *minor;
}

std::optional<GameSimOptions> ParseGameSimArguments(const std::vector<std::string>& args,
                                                    std::string& error)
{
    GameSimOptions options;
    options.m_script.m_announcePort = kGameSimDefaultAnnouncePort;
    CArgumentCursor cursor(args, error);
    while (!cursor.AtEnd())
    {
        const std::string option = cursor.Next();
        if (!ParseOne(option, cursor, options, error))
            return std::nullopt;
    }
    const GameSimScript& script = options.m_script;
    if (script.m_vanishAtGameTimeMs && !script.m_leaveAtGameTimeMs)
    {
        error = "--vanish needs --leave-at";
        return std::nullopt;
    }
    if (script.m_playerName.empty() || script.m_playerName.size() > kPlayerNameMaxLength)
    {
        error = "--name needs 1 to 15 characters";
        return std::nullopt;
    }
    return options;
}

} // namespace velt
