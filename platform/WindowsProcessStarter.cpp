// Starts a program with CreateProcess: no shell, the client's environment and working directory,
// and no handle kept.
#include <windows.h>

#include "platform/GameLauncher.h"
#include "platform/WideText.h"

namespace velt
{

namespace
{

class CWindowsProcessStarter final : public IProcessStarter
{
public:
    bool Start(const std::vector<std::string>& argv) override
    {
        if (argv.empty() || argv.front().empty())
            return false;
        // The program is named apart from the command line, so that an unquoted path with
        // blanks can never start a program named by a prefix of it.
        const std::wstring program = WideFromUtf8(argv.front());
        std::wstring commandLine = WideFromUtf8(WindowsCommandLine(argv));
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                              nullptr, nullptr, &startup, &process))
            return false;
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
        return true;
    }
};

} // namespace

IProcessStarter& SystemProcessStarter()
{
    static CWindowsProcessStarter starter;
    return starter;
}

} // namespace velt
