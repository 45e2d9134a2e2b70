#pragma once

#include <atomic>
#include <functional>
#include <thread>
#include <utility>

namespace velt
{

// A thread with an owner: the owner starts it, can ask whether it has finished, and joins it
// at the latest in the destructor, so the thread never outlives what it uses.
class CThread
{
public:
    CThread() = default;
    ~CThread() { Join(); }
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // Starts the body; returns false if a thread is already running or could not be created.
    bool Start(std::function<void()> body)
    {
        if (m_thread.joinable())
            return false;
        m_finished.store(false, std::memory_order_release);
        try
        {
            m_thread = std::thread([this, body = std::move(body)] {
                body();
                m_finished.store(true, std::memory_order_release);
            });
        }
        catch (const std::system_error&)
        {
            m_finished.store(true, std::memory_order_release);
            return false;
        }
        return true;
    }

    bool IsRunning() const { return m_thread.joinable() && !Finished(); }
    bool Finished() const { return m_finished.load(std::memory_order_acquire); }
    bool IsCurrent() const { return m_thread.get_id() == std::this_thread::get_id(); }

    void Join()
    {
        if (m_thread.joinable() && !IsCurrent())
            m_thread.join();
    }

private:
    std::thread m_thread;
    // Set by the thread as its body ends; read by the owner.
    std::atomic<bool> m_finished{true};
};

} // namespace velt
