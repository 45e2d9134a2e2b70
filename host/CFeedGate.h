#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace velt
{

// Makes sure that one thread at a time runs feed steps.
//
// The session thread holds the gate for the whole of play. It lends it out only while it is
// parked in a watched read of the game (an absorbing read of a speed change); the read-watch
// thread may run its nested step only then. When the read returns, the session thread takes
// the gate back, which waits for a step the watch thread is still running. A plain lock around
// a step would not do: the session thread is inside a step while it absorbs.
class CFeedGate
{
public:
    // Session thread: takes the gate at the start of play, gives it up at the end.
    void Acquire();
    void Release();
    bool HeldBySession() const { return m_sessionLock.owns_lock(); }

    // Session thread: lends the gate out around a watched read.
    void Park();
    void Unpark();

    // Which watched read the session thread is parked in (they are numbered), if any.
    std::optional<std::uint64_t> ParkedRead() const;
    // Watch thread: runs the step if the session thread is still parked in that read; false
    // when it is not.
    bool RunWhileParked(std::uint64_t read, const std::function<void()>& step);

    // Called at the start of every step: counts a step run by a thread that does not hold the
    // gate. Stays 0.
    void NoteStep();
    std::uint32_t Overlaps() const { return m_overlaps.load(std::memory_order_relaxed); }

private:
    std::mutex m_mutex;
    std::unique_lock<std::mutex> m_sessionLock{m_mutex, std::defer_lock};
    std::atomic<bool> m_parked{false};
    std::atomic<std::uint64_t> m_parkedRead{0};
    std::atomic<std::thread::id> m_holder{};
    std::atomic<std::uint32_t> m_overlaps{0};
};

} // namespace velt
