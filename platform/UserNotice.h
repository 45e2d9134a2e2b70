#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace velt
{

// Where the texts go that the user must see as a message box. Callable from any thread: the
// desktop client marshals them to its UI thread, the command line prints one line to stderr.
class IUserNotice
{
public:
    virtual ~IUserNotice() = default;
    virtual void Notify(std::string_view text) = 0;
    // A notice that tells of no failure: what the user asked for goes on. Shown as Notify
    // shows it, unless a front end keeps failures apart (the command line counts them).
    virtual void Inform(std::string_view text) { Notify(text); }
    // A failure that needs no answer and must not stop what goes on (a match's data found
    // corrupt while it plays): counted as Notify counts, but a front end with a log writes it
    // there instead of opening a box.
    virtual void Report(std::string_view text) { Notify(text); }
};

// One line per notice on stderr.
class CStderrNotice final : public IUserNotice
{
public:
    void Notify(std::string_view text) override;
    static CStderrNotice& Instance();

private:
    // Notices come from any thread; one line is written whole before the next.
    std::mutex m_mutex;
};

// Keeps every notice, for tests and for callers that report them later.
class CRecordingNotice final : public IUserNotice
{
public:
    void Notify(std::string_view text) override
    {
        std::lock_guard lock(m_mutex);
        m_texts.emplace_back(text);
    }
    std::vector<std::string> Texts() const
    {
        std::lock_guard lock(m_mutex);
        return m_texts;
    }

private:
    // Any thread notifies; the test's or the caller's thread reads.
    mutable std::mutex m_mutex;
    std::vector<std::string> m_texts;
};

} // namespace velt
