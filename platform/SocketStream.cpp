// What the stream socket does the same way on every system, over its Recv.
#include "platform/Socket.h"

#include <algorithm>

namespace velt
{

std::optional<std::uint32_t> CTcpSocket::ConnectSlice(std::chrono::steady_clock::time_point start,
                                                      std::uint32_t timeoutMs,
                                                      const std::function<bool()>& cancelled)
{
    const auto waited = static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
            .count());
    if ((timeoutMs != kNoTimeout && waited >= timeoutMs) || (cancelled && cancelled()))
        return std::nullopt;
    std::uint64_t slice = kConnectSliceMs;
    if (timeoutMs != kNoTimeout)
        slice = std::min<std::uint64_t>(slice, timeoutMs - waited);
    return static_cast<std::uint32_t>(slice);
}

bool CTcpSocket::RecvExact(void* data, std::size_t size)
{
    auto* bytes = static_cast<std::uint8_t*>(data);
    std::size_t got = 0;
    while (got < size)
    {
        const int n = Recv(bytes + got, size - got);
        if (n <= 0)
            return false;
        got += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace velt
