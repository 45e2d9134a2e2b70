// Events on the kernel's event objects: auto-reset and manual-reset as the system defines them,
// and a wait on several that ends on the first in the list and consumes only that one.
#include "platform/Event.h"

#include <windows.h>

#include <algorithm>

namespace velt
{

namespace
{

// The system waits on at most this many objects at once.
constexpr std::size_t kMaxWaitObjects = MAXIMUM_WAIT_OBJECTS;

DWORD Timeout(std::uint32_t timeoutMs)
{
    return timeoutMs == CEvent::kInfinite ? INFINITE : static_cast<DWORD>(timeoutMs);
}

} // namespace

CEvent::CEvent(Kind kind, bool initiallySet)
    : m_kind(kind),
      m_handle(::CreateEventW(nullptr, kind == Kind::kManualReset ? TRUE : FALSE,
                              initiallySet ? TRUE : FALSE, nullptr))
{
}

CEvent::~CEvent()
{
    if (m_handle != nullptr)
        ::CloseHandle(static_cast<HANDLE>(m_handle));
}

void CEvent::Set() { ::SetEvent(static_cast<HANDLE>(m_handle)); }

void CEvent::Reset() { ::ResetEvent(static_cast<HANDLE>(m_handle)); }

bool CEvent::Wait(std::uint32_t timeoutMs)
{
    return ::WaitForSingleObject(static_cast<HANDLE>(m_handle), Timeout(timeoutMs)) == WAIT_OBJECT_0;
}

bool CEvent::TryConsume() { return Wait(0); }

bool CEvent::IsSet() const
{
    const HANDLE handle = static_cast<HANDLE>(m_handle);
    if (::WaitForSingleObject(handle, 0) != WAIT_OBJECT_0)
        return false;
    // The system has no look without taking: an auto-reset signal that the look took is given
    // back.
    if (m_kind == Kind::kAutoReset)
        ::SetEvent(handle);
    return true;
}

int WaitAny(std::span<CEvent* const> events, std::uint32_t timeoutMs)
{
    HANDLE handles[kMaxWaitObjects];
    const std::size_t count = std::min(events.size(), kMaxWaitObjects);
    if (count == 0)
        return kWaitTimeout;
    for (std::size_t i = 0; i < count; ++i)
        handles[i] = static_cast<HANDLE>(events[i]->m_handle);
    const DWORD result =
        ::WaitForMultipleObjects(static_cast<DWORD>(count), handles, FALSE, Timeout(timeoutMs));
    if (result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + count)
        return static_cast<int>(result - WAIT_OBJECT_0);
    return kWaitTimeout;
}

} // namespace velt
