#pragma once

#include <atomic>
#include <string_view>

#include "cli/CStatusLine.h"
#include "cli/TerminalText.h"
#include "platform/UserNotice.h"

namespace velt
{

// The command line's message box: one line on stderr, safe for the terminal whatever a server
// put into it. It also remembers that the user was told something, so that a command can end
// with a failure status when it was a failure.
class CCliNotice final : public IUserNotice
{
public:
    // With a status line, each notice is printed around it.
    explicit CCliNotice(CStatusLine* statusLine = nullptr) : m_statusLine(statusLine) {}

    void Notify(std::string_view text) override
    {
        m_count.fetch_add(1, std::memory_order_relaxed);
        Inform(text);
    }
    // Printed the same way, but not counted: the command does not fail for it.
    void Inform(std::string_view text) override
    {
        const std::string line = TerminalText(text);
        if (m_statusLine == nullptr)
            CStderrNotice::Instance().Notify(line);
        else
            m_statusLine->PrintAround([&] { CStderrNotice::Instance().Notify(line); });
    }
    // Printed the same way; counted apart, as a failure that let the session go on.
    void Report(std::string_view text) override
    {
        m_reported.fetch_add(1, std::memory_order_relaxed);
        Inform(text);
    }
    unsigned Count() const { return m_count.load(std::memory_order_relaxed); }
    unsigned Reported() const { return m_reported.load(std::memory_order_relaxed); }

private:
    CStatusLine* const m_statusLine;
    std::atomic<unsigned> m_count{0};
    std::atomic<unsigned> m_reported{0};
};

} // namespace velt
