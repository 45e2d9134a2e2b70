#include "platform/RawKeyboard.h"

#include <atomic>
#include <windows.h>

#include "platform/RawKeyboardSystem.h"

namespace velt
{

namespace
{

DWORD g_savedMode = 0;
std::atomic<bool> g_saved{false};

} // namespace

bool SaveTerminalModes()
{
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    // A console answers GetConsoleMode; a pipe or a file does not.
    if (input == INVALID_HANDLE_VALUE || input == nullptr || !::GetConsoleMode(input, &g_savedMode))
        return false;
    g_saved.store(true);
    return true;
}

bool EnterRawModes()
{
    // ENABLE_PROCESSED_INPUT stays: Ctrl+C is still a stop request.
    const DWORD raw = g_savedMode & ~(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT);
    return ::SetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), raw) != 0;
}

void RestoreTerminalModes()
{
    if (g_saved.exchange(false))
        ::SetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), g_savedMode);
}

std::vector<TerminalKey> CRawKeyboard::Take()
{
    std::vector<TerminalKey> keys;
    if (!m_open)
        return keys;
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD waiting = 0;
    while (::GetNumberOfConsoleInputEvents(input, &waiting) && waiting > 0)
    {
        INPUT_RECORD records[16];
        DWORD read = 0;
        if (!::ReadConsoleInputW(input, records, 16, &read) || read == 0)
            break;
        for (DWORD i = 0; i < read; ++i)
        {
            if (records[i].EventType != KEY_EVENT || !records[i].Event.KeyEvent.bKeyDown)
                continue;
            const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
            switch (key.wVirtualKeyCode)
            {
            case VK_LEFT:
                keys.push_back({TerminalKey::Code::kLeft});
                continue;
            case VK_RIGHT:
                keys.push_back({TerminalKey::Code::kRight});
                continue;
            case VK_UP:
                keys.push_back({TerminalKey::Code::kUp});
                continue;
            case VK_DOWN:
                keys.push_back({TerminalKey::Code::kDown});
                continue;
            default:
                break;
            }
            const wchar_t c = key.uChar.UnicodeChar;
            if (c >= 0x20 && c < 0x7F)
                keys.push_back({TerminalKey::Code::kCharacter, static_cast<char>(c)});
        }
    }
    return keys;
}

} // namespace velt
