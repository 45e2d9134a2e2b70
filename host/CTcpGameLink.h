#pragma once

#include "host/IGameLink.h"
#include "platform/Socket.h"

namespace velt
{

// The game link over the game's accepted TCP connection.
class CTcpGameLink final : public IGameLink
{
public:
    explicit CTcpGameLink(CTcpSocket socket) : m_socket(std::move(socket)) {}

    bool Send(const std::uint8_t* data, std::size_t size) override;
    int Recv(std::uint8_t* data, std::size_t size) override;
    bool WaitReadable(int timeoutMs) override;
    void Shutdown() override;

private:
    CTcpSocket m_socket;
};

} // namespace velt
