#include "host/CTcpGameLink.h"

namespace velt
{

bool CTcpGameLink::Send(const std::uint8_t* data, std::size_t size)
{
    return m_socket.Send(data, size) == static_cast<int>(size);
}

int CTcpGameLink::Recv(std::uint8_t* data, std::size_t size) { return m_socket.Recv(data, size); }

bool CTcpGameLink::WaitReadable(int timeoutMs) { return m_socket.WaitReadable(timeoutMs); }

void CTcpGameLink::Shutdown() { m_socket.Shutdown(); }

} // namespace velt
