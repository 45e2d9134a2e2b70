#include "platform/Terminal.h"

#include <cstdio>
#include <windows.h>

namespace velt
{

namespace
{

// A console answers GetConsoleMode; a pipe, a file or a mintty pseudo-console does not, and is
// treated as no terminal.
class CStandardErrorTerminal final : public ITerminal
{
public:
    bool IsTerminal() override
    {
        DWORD mode = 0;
        return ::GetConsoleMode(Handle(), &mode) != 0;
    }

    std::size_t Columns() override
    {
        CONSOLE_SCREEN_BUFFER_INFO info{};
        if (::GetConsoleScreenBufferInfo(Handle(), &info) == 0)
            return 0;
        const int columns = info.srWindow.Right - info.srWindow.Left + 1;
        return columns > 0 ? static_cast<std::size_t>(columns) : 0;
    }

    void Write(std::string_view bytes) override
    {
        std::fwrite(bytes.data(), 1, bytes.size(), stderr);
        std::fflush(stderr);
    }

private:
    static HANDLE Handle() { return ::GetStdHandle(STD_ERROR_HANDLE); }
};

} // namespace

ITerminal& StandardErrorTerminal()
{
    static CStandardErrorTerminal terminal;
    return terminal;
}

} // namespace velt
