#include "platform/GameLauncher.h"

#include "platform/FileSystem.h"

namespace velt
{

namespace
{

std::string ExecutablePath(const WarcraftLaunch& launch)
{
    return JoinPath(launch.m_folder, "war3.exe");
}

} // namespace

std::optional<std::string> WarcraftCommandLine(const WarcraftLaunch& launch)
{
    std::string line = ExecutablePath(launch);
    if (launch.m_windowMode)
        line += " -window";
    if (launch.m_openGlMode)
        line += " -opengl";
    if (line.size() > kCommandLineBuffer - 1)
        return std::nullopt;
    return line;
}

std::vector<std::string> WarcraftArgv(const WarcraftLaunch& launch)
{
    std::vector<std::string> argv;
#ifndef _WIN32
    argv.push_back("wine");
#endif
    argv.push_back(ExecutablePath(launch));
    if (launch.m_windowMode)
        argv.push_back("-window");
    if (launch.m_openGlMode)
        argv.push_back("-opengl");
    return argv;
}

std::string WindowsCommandLine(const std::vector<std::string>& argv)
{
    std::string line;
    for (const std::string& arg : argv)
    {
        if (!line.empty())
            line.push_back(' ');
        if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos)
        {
            line += arg;
            continue;
        }
        // Backslashes are literal except before a quote, where each one is doubled.
        line.push_back('"');
        std::size_t backslashes = 0;
        for (const char c : arg)
        {
            if (c == '\\')
            {
                ++backslashes;
                continue;
            }
            line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
            backslashes = 0;
            line.push_back(c);
        }
        line.append(backslashes * 2, '\\');
        line.push_back('"');
    }
    return line;
}

LaunchResult LaunchWarcraft(const WarcraftLaunch& launch, IGameWindow& window,
                            IProcessStarter& starter, IUserNotice& notices)
{
    if (window.RaiseWindowTitled(kWarcraftWindowTitle))
        return LaunchResult::kRaised;
    if (launch.m_folder.empty() || !WarcraftCommandLine(launch))
    {
        notices.Notify(kNoWarcraftPathMessage);
        return LaunchResult::kNoFolder;
    }
    return starter.Start(WarcraftArgv(launch)) ? LaunchResult::kStarted : LaunchResult::kStartFailed;
}

} // namespace velt
