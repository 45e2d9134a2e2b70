#include "host/CFeedGate.h"

namespace velt
{

void CFeedGate::Acquire()
{
    m_sessionLock.lock();
    m_holder.store(std::this_thread::get_id());
}

void CFeedGate::Release()
{
    if (!m_sessionLock.owns_lock())
        return;
    m_holder.store(std::thread::id());
    m_sessionLock.unlock();
}

void CFeedGate::Park()
{
    if (!m_sessionLock.owns_lock())
        return;
    m_holder.store(std::thread::id());
    m_parkedRead.fetch_add(1);
    m_parked.store(true);
    m_sessionLock.unlock();
}

void CFeedGate::Unpark()
{
    if (!m_parked.load())
        return;
    // Cleared before the lock is taken: a watch thread that gets the lock afterwards sees that
    // the read is over and leaves the feed alone.
    m_parked.store(false);
    m_sessionLock.lock();
    m_holder.store(std::this_thread::get_id());
}

std::optional<std::uint64_t> CFeedGate::ParkedRead() const
{
    const std::uint64_t read = m_parkedRead.load();
    if (!m_parked.load())
        return std::nullopt;
    return read;
}

bool CFeedGate::RunWhileParked(std::uint64_t read, const std::function<void()>& step)
{
    std::lock_guard lock(m_mutex);
    if (!m_parked.load() || m_parkedRead.load() != read)
        return false;
    m_holder.store(std::this_thread::get_id());
    step();
    m_holder.store(std::thread::id());
    return true;
}

void CFeedGate::NoteStep()
{
    if (m_holder.load() != std::this_thread::get_id())
        m_overlaps.fetch_add(1, std::memory_order_relaxed);
}

} // namespace velt
