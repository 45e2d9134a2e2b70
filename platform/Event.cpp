#include "platform/Event.h"

#include <algorithm>
#include <chrono>

namespace velt
{

// A wait-any registers one of these with every event it waits on; Set() wakes it.
class CEventWaiter
{
public:
    void Notify()
    {
        {
            std::lock_guard lock(m_mutex);
            m_notified = true;
        }
        m_cv.notify_one();
    }

    template <typename Deadline> bool WaitUntil(const Deadline& deadline, bool infinite)
    {
        std::unique_lock lock(m_mutex);
        if (infinite)
            m_cv.wait(lock, [this] { return m_notified; });
        else
            m_cv.wait_until(lock, deadline, [this] { return m_notified; });
        const bool notified = m_notified;
        m_notified = false;
        return notified;
    }

private:
    // The waiting thread, and any thread that sets one of its events.
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_notified = false;
};

CEvent::CEvent(Kind kind, bool initiallySet) : m_kind(kind), m_set(initiallySet) {}

CEvent::~CEvent() = default;

void CEvent::Set()
{
    std::lock_guard lock(m_mutex);
    m_set = true;
    if (m_kind == Kind::kAutoReset)
        m_changed.notify_one();
    else
        m_changed.notify_all();
    for (CEventWaiter* waiter : m_waiters)
        waiter->Notify();
}

void CEvent::Reset()
{
    std::lock_guard lock(m_mutex);
    m_set = false;
}

bool CEvent::Wait(std::uint32_t timeoutMs)
{
    std::unique_lock lock(m_mutex);
    const auto ready = [this] { return m_set; };
    if (timeoutMs == kInfinite)
        m_changed.wait(lock, ready);
    else if (!m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready))
        return false;
    if (m_kind == Kind::kAutoReset)
        m_set = false;
    return true;
}

bool CEvent::TryConsume()
{
    std::lock_guard lock(m_mutex);
    if (!m_set)
        return false;
    if (m_kind == Kind::kAutoReset)
        m_set = false;
    return true;
}

bool CEvent::IsSet() const
{
    std::lock_guard lock(m_mutex);
    return m_set;
}

void CEvent::AddWaiter(CEventWaiter* waiter)
{
    std::lock_guard lock(m_mutex);
    m_waiters.push_back(waiter);
}

void CEvent::RemoveWaiter(CEventWaiter* waiter)
{
    std::lock_guard lock(m_mutex);
    m_waiters.erase(std::remove(m_waiters.begin(), m_waiters.end(), waiter), m_waiters.end());
}

int WaitAny(std::span<CEvent* const> events, std::uint32_t timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const bool infinite = timeoutMs == CEvent::kInfinite;
    CEventWaiter waiter;
    for (CEvent* event : events)
        event->AddWaiter(&waiter);
    int result = kWaitTimeout;
    for (;;)
    {
        // Check in list order after registering, so that a Set() between the check and the
        // wait still notifies the waiter.
        for (std::size_t i = 0; i < events.size(); ++i)
        {
            if (events[i]->TryConsume())
            {
                result = static_cast<int>(i);
                break;
            }
        }
        if (result != kWaitTimeout)
            break;
        if (!waiter.WaitUntil(deadline, infinite))
        {
            // Timed out; one last look, since a signal may have raced the deadline.
            for (std::size_t i = 0; i < events.size() && result == kWaitTimeout; ++i)
                if (events[i]->TryConsume())
                    result = static_cast<int>(i);
            break;
        }
    }
    for (CEvent* event : events)
        event->RemoveWaiter(&waiter);
    return result;
}

} // namespace velt
