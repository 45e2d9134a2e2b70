#include "app/CommandLine.h"

namespace velt
{

std::optional<ServerAddress> ServerFromArguments(const QStringList& arguments, std::string* error)
{
    std::optional<ServerAddress> chosen;
    const auto fail = [error](const std::string& why)
    {
        if (error != nullptr)
            *error = why;
        return std::nullopt;
    };
    for (qsizetype i = 1; i < arguments.size(); ++i)
    {
        const QString& argument = arguments[i];
        QString value;
        if (argument == QLatin1String("--server"))
        {
            if (i + 1 >= arguments.size())
                return fail("--server needs HOST[:PORT]");
            value = arguments[++i];
        }
        else if (argument.startsWith(QLatin1String("--server=")))
        {
            value = argument.mid(9);
        }
        else
        {
            return fail("unknown argument: " + argument.toStdString());
        }
        chosen = ParseServerAddress(value.toStdString());
        if (!chosen)
            return fail("not a server address: " + value.toStdString());
    }
    return chosen ? chosen : DefaultServerAddress();
}

} // namespace velt
