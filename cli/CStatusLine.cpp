#include "cli/CStatusLine.h"

#include "cli/TerminalText.h"

namespace velt
{

CStatusLine::CStatusLine(ITerminal& terminal, IClock& clock, bool wanted)
    : m_terminal(terminal), m_clock(clock), m_enabled(wanted && terminal.IsTerminal())
{
}

CStatusLine::~CStatusLine()
{
    Clear();
}

void CStatusLine::Show(const std::function<std::string(std::size_t)>& compose)
{
    if (!m_enabled || !Due())
        return;
    Draw(compose(m_terminal.Columns()));
}

bool CStatusLine::Due()
{
    std::lock_guard lock(m_mutex);
    return !m_drawnOnce || m_clock.NowMs() - m_lastDrawMs >= kStatusRedrawMs;
}

void CStatusLine::Draw(std::string text)
{
    std::lock_guard lock(m_mutex);
    m_lastDrawMs = m_clock.NowMs();
    m_drawnOnce = true;
    if (text == m_text && m_drawnWidth == TerminalWidth(text))
        return; // already on the line
    const std::size_t width = TerminalWidth(text);
    std::string bytes = std::string("\r").append(text);
    // Spaces over the end of a longer previous text, then back to where the text ends.
    if (m_drawnWidth > width)
        bytes.append(m_drawnWidth - width, ' ').append("\r").append(text);
    m_terminal.Write(bytes);
    m_text = std::move(text);
    m_drawnWidth = width;
}

void CStatusLine::Clear()
{
    if (!m_enabled)
        return;
    std::lock_guard lock(m_mutex);
    EraseLocked();
    m_text.clear();
    m_drawnOnce = false;
}

void CStatusLine::PrintAround(const std::function<void()>& print)
{
    std::lock_guard lock(m_mutex);
    if (!m_enabled || m_text.empty())
    {
        print();
        return;
    }
    EraseLocked();
    print();
    m_terminal.Write(std::string("\r").append(m_text));
    m_drawnWidth = TerminalWidth(m_text);
}

void CStatusLine::EraseLocked()
{
    if (m_drawnWidth == 0)
        return;
    m_terminal.Write(std::string("\r").append(m_drawnWidth, ' ').append("\r"));
    m_drawnWidth = 0;
}

} // namespace velt
