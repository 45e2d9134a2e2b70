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

std::size_t CharacterColumns(char32_t code)
{
    if (code < 0x80)
        return 1;
    // The system's character types of the code point, as UTF-16.
    wchar_t units[2];
    int count = 1;
    if (code >= 0x10000)
    {
        units[0] = static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10));
        units[1] = static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        count = 2;
    }
    else
    {
        units[0] = static_cast<wchar_t>(code);
    }
    WORD types[2] = {};
    if (::GetStringTypeW(CT_CTYPE3, units, count, types) == 0)
        return 1;
    const WORD type = types[0];
    if ((type & C3_NONSPACING) != 0 && (type & C3_ALPHA) == 0)
        return 0;
    if ((type & (C3_FULLWIDTH | C3_IDEOGRAPH)) != 0 ||
        ((type & (C3_HIRAGANA | C3_KATAKANA)) != 0 && (type & C3_HALFWIDTH) == 0))
        return 2;
    return 1;
}

} // namespace velt
