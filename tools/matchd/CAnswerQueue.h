#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace velt
{

// The answers of one connection on its way out: new answers are appended while a write is in
// flight and leave together in the next one, so there is never more than one write at a time
// and the order stays. The written buffer takes the next answers, so that a busy connection
// allocates nothing; a large one (a list) is given back, so that the many viewers idle between
// chunks hold little.
class CAnswerQueue
{
public:
    // Where the next answers are appended.
    std::vector<std::uint8_t>& Tail() { return m_queued; }
    // Bytes not yet taken by the system: those in flight and those waiting.
    std::size_t Size() const { return m_queued.size() + m_writing.size(); }
    bool WriteInFlight() const { return m_inFlight; }
    bool Empty() const { return !m_inFlight && m_queued.empty(); }

    // The bytes of the next write, now in flight; empty while one is in flight or none wait.
    std::span<const std::uint8_t> StartWrite()
    {
        if (m_inFlight || m_queued.empty())
            return {};
        m_writing.swap(m_queued);
        m_queued.clear();
        m_inFlight = true;
        return m_writing;
    }

    // The write in flight has ended, whether or not it went through.
    void WriteEnded()
    {
        m_inFlight = false;
        m_writing.clear();
        if (m_queued.empty() && m_writing.capacity() <= kKeptBufferBytes)
            m_queued.swap(m_writing);
        std::vector<std::uint8_t>().swap(m_writing);
    }

private:
    // Room for two answers of a full chunk.
    static constexpr std::size_t kKeptBufferBytes = 4096;

    std::vector<std::uint8_t> m_queued;  // waiting for the write in flight to end
    std::vector<std::uint8_t> m_writing; // the write in flight
    bool m_inFlight = false;
};

} // namespace velt
