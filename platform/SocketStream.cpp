// What the stream socket does the same way on every system, over its Recv.
#include "platform/Socket.h"

namespace velt
{

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
