#pragma once

#include <cstddef>
#include <cstdint>

namespace velt
{

// The byte stream between the host and the game. The host runs over a TCP connection
// (CTcpGameLink); harnesses that drive a session without sockets bring their own.
class IGameLink
{
public:
    virtual ~IGameLink() = default;

    // Sends all bytes; false on failure.
    virtual bool Send(const std::uint8_t* data, std::size_t size) = 0;
    // One receive: >0 bytes read, 0 when the game closed, <0 on failure.
    virtual int Recv(std::uint8_t* data, std::size_t size) = 0;
    // Whether a Recv would return at once (data, close or failure) within the time-out.
    virtual bool WaitReadable(int timeoutMs) = 0;
    // Wakes blocked calls and makes later ones fail. Any thread.
    virtual void Shutdown() = 0;
};

} // namespace velt
