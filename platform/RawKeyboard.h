#pragma once

#include <vector>

namespace velt
{

// A key the viewer pressed on a terminal.
struct TerminalKey
{
    enum class Code
    {
        kCharacter, // m_character says which
        kLeft,
        kRight,
        kUp,
        kDown,
    };
    Code m_code = Code::kCharacter;
    char m_character = 0;

    bool operator==(const TerminalKey&) const = default;
};

// The keys pressed on the terminal that is standard input, one at a time, without echo and
// without waiting for Enter, while Open holds. Ctrl+C still interrupts. The terminal's modes
// come back when the object goes, and at once on a stop request (Ctrl+C, a termination
// request), so that a second one, which ends the process, leaves the terminal as it was.
// When standard input is no terminal (a pipe, a file), Open is false and nothing changes.
class CRawKeyboard
{
public:
    CRawKeyboard() = default;
    ~CRawKeyboard() { Close(); }
    CRawKeyboard(const CRawKeyboard&) = delete;
    CRawKeyboard& operator=(const CRawKeyboard&) = delete;

    bool Open();
    void Close();
    bool IsOpen() const { return m_open; }
    // The keys pressed since the last call; never waits.
    std::vector<TerminalKey> Take();

private:
    bool m_open = false;
};

} // namespace velt
