#include "platform/RawKeyboard.h"

#include <atomic>
#include <cerrno>
#include <termios.h>
#include <unistd.h>

#include "platform/RawKeyboardSystem.h"

namespace velt
{

namespace
{

// The modes before Open, for the restore that a stop signal's handler runs: tcsetattr is safe
// in a handler, and the copy is written before the flag that lets the handler use it.
termios g_savedModes{};
std::atomic<bool> g_saved{false};

} // namespace

bool SaveTerminalModes()
{
    if (::isatty(STDIN_FILENO) == 0 || ::tcgetattr(STDIN_FILENO, &g_savedModes) != 0)
        return false;
    g_saved.store(true);
    return true;
}

bool EnterRawModes()
{
    termios raw = g_savedModes;
    // Signals (Ctrl+C) and output processing stay as they are.
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    return ::tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
}

void RestoreTerminalModes()
{
    if (g_saved.exchange(false))
        ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedModes);
}

std::vector<TerminalKey> CRawKeyboard::Take()
{
    std::vector<TerminalKey> keys;
    if (!m_open || !g_saved.load())
        return keys;
    unsigned char bytes[64];
    const ssize_t count = ::read(STDIN_FILENO, bytes, sizeof bytes);
    for (ssize_t i = 0; i < count; ++i)
    {
        // The arrows come as ESC [ A to D (or ESC O A to D in application mode).
        if (bytes[i] == 0x1B && i + 2 < count && (bytes[i + 1] == '[' || bytes[i + 1] == 'O'))
        {
            switch (bytes[i + 2])
            {
            case 'A':
                keys.push_back({TerminalKey::Code::kUp});
                break;
            case 'B':
                keys.push_back({TerminalKey::Code::kDown});
                break;
            case 'C':
                keys.push_back({TerminalKey::Code::kRight});
                break;
            case 'D':
                keys.push_back({TerminalKey::Code::kLeft});
                break;
            default:
                break;
            }
            i += 2;
            continue;
        }
        if (bytes[i] >= 0x20 && bytes[i] < 0x7F)
            keys.push_back({TerminalKey::Code::kCharacter, static_cast<char>(bytes[i])});
    }
    return keys;
}

} // namespace velt
