#include "platform/Terminal.h"

#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace velt
{

namespace
{

class CStandardErrorTerminal final : public ITerminal
{
public:
    bool IsTerminal() override { return ::isatty(STDERR_FILENO) == 1; }

    std::size_t Columns() override
    {
        winsize size{};
        if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0)
            return 0;
        return size.ws_col;
    }

    void Write(std::string_view bytes) override
    {
        std::fwrite(bytes.data(), 1, bytes.size(), stderr);
        std::fflush(stderr);
    }
};

} // namespace

ITerminal& StandardErrorTerminal()
{
    static CStandardErrorTerminal terminal;
    return terminal;
}

} // namespace velt
