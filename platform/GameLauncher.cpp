#include "platform/GameLauncher.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/FileSystem.h"

namespace velt
{

namespace
{

std::string ExecutablePath(const WarcraftLaunch& launch)
{
    return JoinPath(launch.m_folder, "war3.exe");
}

// Starts the program in a grandchild so that it is never left as a zombie of the client, and
// execs it directly: no shell ever sees the folder text.
class CPosixProcessStarter final : public IProcessStarter
{
public:
    bool Start(const std::vector<std::string>& argv) override
    {
        if (argv.empty())
            return false;
        std::vector<char*> args;
        for (const auto& arg : argv)
            args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        int status[2];
        if (::pipe2(status, O_CLOEXEC) != 0)
            return false;
        const pid_t child = ::fork();
        if (child < 0)
        {
            ::close(status[0]);
            ::close(status[1]);
            return false;
        }
        if (child == 0)
        {
            ::close(status[0]);
            if (::fork() == 0)
            {
                ::execvp(args[0], args.data());
                const int error = errno;
                (void)!::write(status[1], &error, sizeof error);
                ::_exit(127);
            }
            ::_exit(0);
        }
        ::close(status[1]);
        int waitStatus = 0;
        while (::waitpid(child, &waitStatus, 0) < 0 && errno == EINTR)
        {
        }
        // The pipe closes on a successful exec; an errno arrives when exec failed.
        int error = 0;
        ssize_t n;
        do
            n = ::read(status[0], &error, sizeof error);
        while (n < 0 && errno == EINTR);
        ::close(status[0]);
        return n == 0;
    }
};

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

IProcessStarter& SystemProcessStarter()
{
    static CPosixProcessStarter starter;
    return starter;
}

} // namespace velt
