#pragma once

#include <condition_variable>
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <span>
#include <vector>

namespace velt
{

class CEventWaiter;

// A kernel-style event: auto-reset (one wait consumes one signal) or manual-reset (stays set
// until Reset). Waits have time-outs in milliseconds; kInfinite waits for ever. On Windows it is
// the kernel's event object.
class CEvent
{
public:
    enum class Kind
    {
        kAutoReset,
        kManualReset,
    };

    static constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;

    explicit CEvent(Kind kind = Kind::kAutoReset, bool initiallySet = false);
    ~CEvent();
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    void Set();
    void Reset();
    // Waits until set; an auto-reset event is consumed by the wait that sees it.
    bool Wait(std::uint32_t timeoutMs);
    // Non-blocking check; consumes the signal of an auto-reset event.
    bool TryConsume();
    bool IsSet() const;

private:
    friend int WaitAny(std::span<CEvent* const> events, std::uint32_t timeoutMs);

    const Kind m_kind;
#ifdef _WIN32
    void* m_handle; // HANDLE
#else
    void AddWaiter(CEventWaiter* waiter);
    void RemoveWaiter(CEventWaiter* waiter);

    // Any thread sets, resets and waits; waiters of WaitAny register under it.
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_set;
    std::vector<CEventWaiter*> m_waiters;
#endif
};

constexpr int kWaitTimeout = -1;

// Waits until any of the events is set, for at most timeoutMs. Returns the index of the event
// that ended the wait, or kWaitTimeout. When several are set, the first in the list wins, and
// only that one is consumed.
int WaitAny(std::span<CEvent* const> events, std::uint32_t timeoutMs);
inline int WaitAny(std::initializer_list<CEvent*> events, std::uint32_t timeoutMs)
{
    return WaitAny(std::span<CEvent* const>(events.begin(), events.size()), timeoutMs);
}

} // namespace velt
