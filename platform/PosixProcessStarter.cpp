#include <cerrno>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/GameLauncher.h"

namespace velt
{

namespace
{

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

IProcessStarter& SystemProcessStarter()
{
    static CPosixProcessStarter starter;
    return starter;
}

} // namespace velt
