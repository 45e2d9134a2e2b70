#include "platform/Terminal.h"

#include <cstdio>
#include <locale.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <wchar.h>

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

std::size_t CharacterColumns(char32_t code)
{
    if (code < 0x80)
        return 1;
    // wcwidth answers for the calling thread's locale; the C library's own UTF-8 one is used
    // whatever the process set, and only for this call.
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (utf8 == static_cast<locale_t>(0))
        return 1;
    const locale_t previous = ::uselocale(utf8);
    const int width = ::wcwidth(static_cast<wchar_t>(code));
    ::uselocale(previous);
    return width < 0 ? 1 : static_cast<std::size_t>(width);
}

} // namespace velt
