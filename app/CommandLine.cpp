#include "app/CommandLine.h"

namespace velt
{

const char* const kPlayerUsage =
    "usage: veltplayer [--server HOST[:PORT]] [--announce-port P] [--port-base P] [--demo]\n"
    "                  [FILE.w3g ...]\n"
    "  --server HOST[:PORT]  the match server (default: VELT_SERVER, else the operator's)\n"
    "  --announce-port P     UDP port that watched games are announced to (default 6112)\n"
    "  --port-base P         TCP port of the first watched game (default 10000; 0: any free)\n"
    "  --demo                run a stand-in match server with made-up matches and use it\n"
    "  --help                print this text\n"
    "  FILE.w3g              a replay file to watch: it is listed at the top, with \"(file)\"\n"
    "                        as its streamer\n";

namespace
{

// A whole decimal number from min to 65535.
std::optional<std::uint16_t> PortNumber(const QString& text, unsigned min)
{
    bool ok = false;
    const unsigned value = text.toUInt(&ok, 10);
    if (!ok || text.startsWith(QLatin1Char('+')) || value < min || value > 65535)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

} // namespace

std::optional<PlayerOptions> ParsePlayerArguments(const QStringList& arguments, std::string* error)
{
    PlayerOptions options;
    std::optional<ServerAddress> server;
    const auto fail = [error](const std::string& why)
    {
        if (error != nullptr)
            *error = why;
        return std::nullopt;
    };
    for (qsizetype i = 1; i < arguments.size(); ++i)
    {
        QString name = arguments[i];
        std::optional<QString> inlineValue;
        if (const qsizetype equals = name.indexOf(QLatin1Char('=')); equals > 0)
        {
            inlineValue = name.mid(equals + 1);
            name = name.left(equals);
        }
        const auto value = [&]() -> std::optional<QString>
        {
            if (inlineValue)
                return inlineValue;
            if (i + 1 >= arguments.size())
                return std::nullopt;
            return arguments[++i];
        };
        if (name == QLatin1String("--demo") || name == QLatin1String("--help"))
        {
            if (inlineValue)
                return fail(name.toStdString() + " takes no value");
            (name == QLatin1String("--demo") ? options.m_demo : options.m_help) = true;
        }
        else if (name == QLatin1String("--server"))
        {
            const auto text = value();
            if (!text)
                return fail("--server needs HOST[:PORT]");
            server = ParseServerAddress(text->toStdString());
            if (!server)
                return fail("not a server address: " + text->toStdString());
        }
        else if (name == QLatin1String("--announce-port") || name == QLatin1String("--port-base"))
        {
            const bool announce = name == QLatin1String("--announce-port");
            const auto text = value();
            const auto port = text ? PortNumber(*text, announce ? 1 : 0) : std::nullopt;
            if (!port)
                return fail(name.toStdString() + (announce ? " needs a port from 1 to 65535"
                                                           : " needs a port from 0 to 65535"));
            (announce ? options.m_ports.m_announcePort : options.m_ports.m_firstGamePort) = *port;
        }
        else if (!arguments[i].startsWith(QLatin1Char('-')))
        {
            options.m_files.push_back(arguments[i].toStdString());
        }
        else
        {
            return fail("unknown argument: " + arguments[i].toStdString());
        }
    }
    if (options.m_demo && server)
        return fail("--demo runs its own match server; leave out --server");
    if (const EnvironmentServer environment = ServerFromEnvironment();
        !server && !options.m_demo && environment.m_text && !environment.m_address)
        return fail(std::string(kServerEnvironmentVariable) +
                    " is not a server address: " + *environment.m_text);
    options.m_server = server ? *server : DefaultServerAddress();
    return options;
}

} // namespace velt
