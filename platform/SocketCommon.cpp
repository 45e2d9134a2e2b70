// What the sockets do the same way on every system; the differences in spelling are in
// SocketSystem.h, and each side's file (Socket.cpp, SocketWindows.cpp) keeps what differs in
// substance: how a blocked call waits and wakes, how a socket is opened, and the interfaces.
#include "platform/Socket.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/SocketSystem.h"

namespace velt
{

bool MakeAddress(const std::string& dottedIp, std::uint16_t port, sockaddr_in& out)
{
    std::memset(&out, 0, sizeof out);
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    return ::inet_pton(AF_INET, dottedIp.c_str(), &out.sin_addr) == 1;
}

std::uint16_t BoundPort(int fd)
{
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(ToNative(fd), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

void CloseFd(std::atomic<int>& fd, std::mutex& closeMutex)
{
    std::lock_guard lock(closeMutex);
    const int old = fd.exchange(-1, std::memory_order_acq_rel);
    if (old >= 0)
        CloseNative(ToNative(old));
}

void ShutdownFd(const std::atomic<int>& fd, std::mutex& closeMutex)
{
    std::lock_guard lock(closeMutex);
    const int current = fd.load(std::memory_order_acquire);
    if (current >= 0)
        ::shutdown(ToNative(current), kShutdownBoth);
}

int SendDatagram(int fd, const std::string& dottedIp, std::uint16_t port, const void* data,
                 std::size_t size)
{
    sockaddr_in address{};
    if (fd < 0 || !MakeAddress(dottedIp, port, address) || size > INT_MAX)
        return -1;
    return static_cast<int>(::sendto(ToNative(fd), static_cast<const char*>(data),
                                     static_cast<int>(size), 0,
                                     reinterpret_cast<const sockaddr*>(&address), sizeof address));
}

int ReceiveDatagram(int fd, void* data, std::size_t size, DatagramSource& source)
{
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const auto n = ::recvfrom(ToNative(fd), static_cast<char*>(data), static_cast<int>(size), 0,
                              reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0)
        return -1;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    source.m_address = text;
    source.m_port = ntohs(from.sin_port);
    return static_cast<int>(n);
}

bool ChangeMembership(int fd, int option, const std::string& group,
                      const std::string& interfaceAddress)
{
    ip_mreq request{};
    return fd >= 0 && ::inet_pton(AF_INET, group.c_str(), &request.imr_multiaddr) == 1 &&
           ::inet_pton(AF_INET, interfaceAddress.c_str(), &request.imr_interface) == 1 &&
           SetOption(fd, IPPROTO_IP, option, request);
}

std::optional<std::string> ResolveHostIPv4(const std::string& host)
{
    if (!SocketsReady())
        return std::nullopt;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || result == nullptr)
        return std::nullopt;
    char text[INET_ADDRSTRLEN] = {};
    const auto* address = reinterpret_cast<const sockaddr_in*>(result->ai_addr);
    const bool ok = ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) != nullptr;
    ::freeaddrinfo(result);
    if (!ok)
        return std::nullopt;
    return std::string(text);
}

// ---- CTcpSocket ------------------------------------------------------------------------------

CTcpSocket::CTcpSocket(CTcpSocket&& other) noexcept
{
    std::lock_guard lock(other.m_closeMutex);
    m_fd.store(other.m_fd.exchange(-1));
    m_waits = std::exchange(other.m_waits, SocketWaits{});
}

CTcpSocket& CTcpSocket::operator=(CTcpSocket&& other) noexcept
{
    if (this != &other)
    {
        Close();
        std::lock_guard lock(other.m_closeMutex);
        m_fd.store(other.m_fd.exchange(-1), std::memory_order_release);
        m_waits = std::exchange(other.m_waits, SocketWaits{});
    }
    return *this;
}

std::optional<std::uint32_t> CTcpSocket::ConnectSlice(std::chrono::steady_clock::time_point start,
                                                      std::uint32_t timeoutMs,
                                                      const std::function<bool()>& cancelled)
{
    const auto waited =
        static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now() - start)
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

void CTcpSocket::SetNoDelay(bool on)
{
    const int fd = m_fd.load(std::memory_order_acquire);
    if (fd < 0)
        return;
    const int value = on ? 1 : 0;
    SetOption(fd, IPPROTO_TCP, TCP_NODELAY, value);
}

std::uint16_t CTcpSocket::LocalPort() const
{
    return BoundPort(m_fd.load());
}

std::uint16_t CTcpListener::Port() const
{
    return BoundPort(m_fd.load());
}

// ---- CUdpSocket ------------------------------------------------------------------------------

bool CUdpSocket::Bind(const std::string& dottedIp, std::uint16_t port)
{
    if (!IsValid() && !Open())
        return false;
    sockaddr_in address{};
    if (!MakeAddress(dottedIp, port, address))
        return false;
    const int fd = m_fd.load();
    // Address reuse lets a fixed port be shared (the game's own 6112 beside a running game) and
    // a port be handed on to the next socket of a test. A socket that asks the system for a
    // port asks without it: with reuse on both, the system may give it a port that another
    // socket holds, and that socket's datagrams then go to this one. It takes reuse once bound.
    const int reuse = 1;
    if (port != 0)
        SetOption(fd, SOL_SOCKET, SO_REUSEADDR, reuse);
    if (::bind(ToNative(fd), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return false;
    if (port == 0)
        SetOption(fd, SOL_SOCKET, SO_REUSEADDR, reuse);
    return true;
}

std::uint16_t CUdpSocket::LocalPort() const
{
    return BoundPort(m_fd.load());
}

int CUdpSocket::SendTo(const std::string& dottedIp, std::uint16_t port, const void* data,
                       std::size_t size)
{
    return SendDatagram(m_fd.load(std::memory_order_acquire), dottedIp, port, data, size);
}

int CUdpSocket::RecvFrom(void* data, std::size_t size, int timeoutMs)
{
    const int fd = m_fd.load(std::memory_order_acquire);
    if (fd < 0 || size > INT_MAX || !WaitForDatagram(fd, timeoutMs))
        return -1;
    return static_cast<int>(::recvfrom(ToNative(fd), static_cast<char*>(data),
                                       static_cast<int>(size), 0, nullptr, nullptr));
}

void CUdpSocket::Shutdown()
{
    ShutdownFd(m_fd, m_closeMutex);
}

void CUdpSocket::Close()
{
    CloseFd(m_fd, m_closeMutex);
}

// ---- CMulticastSocket ------------------------------------------------------------------------

std::uint16_t CMulticastSocket::LocalPort() const
{
    return BoundPort(m_fd.load());
}

bool CMulticastSocket::JoinGroup(const std::string& group, const std::string& interfaceAddress)
{
    return ChangeMembership(m_fd.load(std::memory_order_acquire), IP_ADD_MEMBERSHIP, group,
                            interfaceAddress);
}

bool CMulticastSocket::LeaveGroup(const std::string& group, const std::string& interfaceAddress)
{
    return ChangeMembership(m_fd.load(std::memory_order_acquire), IP_DROP_MEMBERSHIP, group,
                            interfaceAddress);
}

bool CMulticastSocket::SetMulticastTtl(int ttl)
{
    const int fd = m_fd.load(std::memory_order_acquire);
    return fd >= 0 &&
           SetOption(fd, IPPROTO_IP, IP_MULTICAST_TTL, static_cast<MulticastByteOption>(ttl));
}

bool CMulticastSocket::SetMulticastInterface(const std::string& interfaceAddress)
{
    in_addr address{};
    const int fd = m_fd.load(std::memory_order_acquire);
    return fd >= 0 && ::inet_pton(AF_INET, interfaceAddress.c_str(), &address) == 1 &&
           SetOption(fd, IPPROTO_IP, IP_MULTICAST_IF, address);
}

int CMulticastSocket::SendTo(const std::string& dottedIp, std::uint16_t port, const void* data,
                             std::size_t size)
{
    return SendDatagram(m_fd.load(std::memory_order_acquire), dottedIp, port, data, size);
}

} // namespace velt
