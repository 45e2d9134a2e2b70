#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "platform/Clock.h"
#include "platform/Terminal.h"

namespace velt
{

// How often the status line is redrawn at most: about twice a second.
inline constexpr std::uint32_t kStatusRedrawMs = 500;

// One line at the bottom of a terminal, redrawn in place ("\r", the text, spaces over what the
// previous text left), that keeps out of the way of the command's normal lines: PrintAround
// clears it, lets the caller print, and draws it again. On something that is not a terminal,
// or when not wanted (--quiet), nothing is ever drawn and lines print as they would without it.
// Any thread may print; drawing and printing are serialised.
class CStatusLine
{
public:
    CStatusLine(ITerminal& terminal, IClock& clock, bool wanted);
    // Leaves the terminal with the line cleared.
    ~CStatusLine();
    CStatusLine(const CStatusLine&) = delete;
    CStatusLine& operator=(const CStatusLine&) = delete;

    bool Enabled() const { return m_enabled; }
    // Redraws with compose(columns) when a redraw is due (never more often than
    // kStatusRedrawMs). compose runs without the line's lock held, so it may take other locks.
    void Show(const std::function<std::string(std::size_t columns)>& compose);
    // Removes the line; nothing is drawn again until the next Show.
    void Clear();
    // Runs print (which writes whole lines to stdout or stderr) with the line cleared, then
    // draws the line again.
    void PrintAround(const std::function<void()>& print);

private:
    bool Due();
    void Draw(std::string text);
    void EraseLocked();

    ITerminal& m_terminal;
    IClock& m_clock;
    const bool m_enabled;

    std::mutex m_mutex;           // guards what follows and every write to the terminal
    std::string m_text;           // the text on the line now; empty when cleared
    std::size_t m_drawnWidth = 0; // columns the line's characters cover
    std::uint64_t m_lastDrawMs = 0;
    bool m_drawnOnce = false;
};

} // namespace velt
