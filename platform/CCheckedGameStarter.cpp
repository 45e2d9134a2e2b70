#include "platform/CCheckedGameStarter.h"

#include "platform/FileSystem.h"
#include "platform/Registry.h"

namespace velt
{

CCheckedGameStarter::CCheckedGameStarter(IProcessStarter& starter, IUserNotice& notices,
                                         std::string folder)
    : m_starter(starter), m_notices(notices), m_folder(std::move(folder))
{
}

bool CCheckedGameStarter::Start(const std::vector<std::string>& argv)
{
    // Wine would start and fail on its own, long after the progress dialog has gone.
    if (!FindFileNoCase(LocalFolderPath(m_folder), "war3.exe"))
    {
        Tell(kProgramMissingMessage, m_folder);
        return false;
    }
    if (m_starter.Start(argv))
        return true;
    // The first word is the game itself on Windows, and the program that runs it elsewhere.
    const bool runner = !argv.empty() && argv.front() != JoinPath(m_folder, "war3.exe");
    if (runner)
        Tell(kRunnerMissingMessage, argv.front());
    else
        Tell(kStartFailedMessage, m_folder);
    return false;
}

void CCheckedGameStarter::Tell(const char* message, const std::string& detail)
{
    std::string text = message;
    const std::size_t at = text.find("%1");
    if (at != std::string::npos)
        text.replace(at, 2, detail);
    m_notices.Notify(text);
}

} // namespace velt
