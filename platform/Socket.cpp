// Sockets on BSD sockets: blocking calls block in the system, and shutdown wakes them.
#include "platform/Socket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/SocketSystem.h"

namespace velt
{

// Waits until a datagram can be read: false on time-out or failure.
bool WaitForDatagram(int fd, int timeoutMs)
{
    pollfd entry{fd, POLLIN, 0};
    int rc;
    do
        rc = ::poll(&entry, 1, timeoutMs);
    while (rc < 0 && errno == EINTR);
    return rc > 0;
}

bool SocketLayerStart()
{
    // Writes to a peer that has gone must fail with EPIPE rather than end the process.
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

void SocketLayerStop() {}

CTcpSocket::CTcpSocket(int fd) : m_fd(fd) {}

CTcpSocket CTcpSocket::Connect(const std::string& dottedIp, std::uint16_t port,
                               std::uint32_t timeoutMs, const std::function<bool()>& cancelled)
{
    sockaddr_in address{};
    if (!MakeAddress(dottedIp, port, address))
        return CTcpSocket();
    // Non-blocking while connecting, so that a server whose backlog is full (the handshake is
    // retried for minutes) or an address that swallows the handshake costs at most the limit.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return CTcpSocket();
    const auto fail = [fd]
    {
        ::close(fd);
        return CTcpSocket();
    };
    int rc;
    do
        rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    while (rc != 0 && errno == EINTR);
    if (rc != 0 && errno != EINPROGRESS)
        return fail();
    const auto start = std::chrono::steady_clock::now();
    while (rc != 0)
    {
        const auto slice = ConnectSlice(start, timeoutMs, cancelled);
        if (!slice)
            return fail();
        pollfd entry{fd, POLLOUT, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(*slice));
        if (ready < 0 && errno != EINTR)
            return fail();
        if (ready <= 0)
            continue;
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0)
            return fail();
        rc = 0;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        return fail();
    return CTcpSocket(fd);
}

int CTcpSocket::Send(const void* data, std::size_t size)
{
    const int fd = m_fd.load(std::memory_order_acquire);
    if (fd < 0)
        return -1;
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t sent = 0;
    while (sent < size)
    {
        const ssize_t n = ::send(fd, bytes + sent, size - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        sent += static_cast<std::size_t>(n);
    }
    return static_cast<int>(sent);
}

int CTcpSocket::Recv(void* data, std::size_t size)
{
    const int fd = m_fd.load(std::memory_order_acquire);
    if (fd < 0)
        return -1;
    ssize_t n;
    do
        n = ::recv(fd, data, size, 0);
    while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

bool CTcpSocket::WaitReadable(int timeoutMs)
{
    const int fd = m_fd.load(std::memory_order_acquire);
    if (fd < 0)
        return true;
    pollfd entry{fd, POLLIN, 0};
    int rc;
    do
        rc = ::poll(&entry, 1, timeoutMs);
    while (rc < 0 && errno == EINTR);
    return rc != 0;
}

void CTcpSocket::SetSendTimeout(int timeoutMs)
{
    const int fd = m_fd.load(std::memory_order_acquire);
    if (fd < 0 || timeoutMs < 0)
        return;
    timeval value{};
    value.tv_sec = timeoutMs / 1000;
    value.tv_usec = (timeoutMs % 1000) * 1000;
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &value, sizeof value);
}

void CTcpSocket::Shutdown()
{
    ShutdownFd(m_fd, m_closeMutex);
}

void CTcpSocket::Close()
{
    CloseFd(m_fd, m_closeMutex);
}

CTcpListener::Error CTcpListener::Open(const std::string& dottedIp, std::uint16_t port, int backlog)
{
    Close();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Error::kCreate;
    const int reuse = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0)
    {
        ::close(fd);
        return Error::kConfigure;
    }
    sockaddr_in address{};
    if (!MakeAddress(dottedIp, port, address) ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    {
        ::close(fd);
        return Error::kBind;
    }
    if (::listen(fd, backlog) != 0)
    {
        ::close(fd);
        return Error::kListen;
    }
    m_fd.store(fd, std::memory_order_release);
    return Error::kNone;
}

CTcpSocket CTcpListener::Accept()
{
    const int fd = m_fd.load(std::memory_order_acquire);
    if (fd < 0)
        return CTcpSocket();
    int client;
    do
        client = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    while (client < 0 && (errno == EINTR || errno == ECONNABORTED));
    return client < 0 ? CTcpSocket() : CTcpSocket(client);
}

void CTcpListener::Shutdown()
{
    ShutdownFd(m_fd, m_closeMutex);
}

void CTcpListener::Close()
{
    CloseFd(m_fd, m_closeMutex);
}

bool CUdpSocket::Open()
{
    Close();
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    m_fd.store(fd, std::memory_order_release);
    return true;
}

std::vector<LocalInterfaceAddress> LocalIPv4Addresses()
{
    std::vector<LocalInterfaceAddress> addresses;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0)
        return addresses;
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next)
    {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
            (entry->ifa_flags & IFF_UP) == 0)
            continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (inet_ntop(AF_INET, &address->sin_addr, text, sizeof text) == nullptr)
            continue;
        addresses.push_back({text, (entry->ifa_flags & IFF_LOOPBACK) != 0,
                             (entry->ifa_flags & IFF_MULTICAST) != 0});
    }
    ::freeifaddrs(list);
    return addresses;
}

CMulticastSocket::Error CMulticastSocket::Open(std::uint16_t port, int multicastTtl)
{
    Close();
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Error::kCreate;
    // Port reuse lets a responder that set it too (Avahi does) keep the port beside us.
    SetOption(fd, SOL_SOCKET, SO_REUSEPORT, 1);
    if (!SetOption(fd, SOL_SOCKET, SO_REUSEADDR, 1) ||
        !SetOption(fd, IPPROTO_IP, IP_MULTICAST_LOOP, MulticastByteOption{1}) ||
        !SetOption(fd, IPPROTO_IP, IP_MULTICAST_TTL,
                   static_cast<MulticastByteOption>(multicastTtl)))
    {
        ::close(fd);
        return Error::kConfigure;
    }
    sockaddr_in address{};
    if (!MakeAddress("0.0.0.0", port, address) ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    {
        ::close(fd);
        return Error::kBind;
    }
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
    {
        ::close(fd);
        return Error::kCreate;
    }
    m_wakeRead.store(wake[0], std::memory_order_release);
    m_wakeWrite.store(wake[1], std::memory_order_release);
    m_fd.store(fd, std::memory_order_release);
    return Error::kNone;
}

void CMulticastSocket::Wake()
{
    const int fd = m_wakeWrite.load(std::memory_order_acquire);
    const char byte = 1;
    if (fd >= 0)
        (void)!::write(fd, &byte, 1); // a full pipe has a wake pending already
}

int CMulticastSocket::RecvFrom(void* data, std::size_t size, int timeoutMs, DatagramSource& source)
{
    const int fd = m_fd.load(std::memory_order_acquire);
    if (fd < 0 || size > INT_MAX)
        return -1;
    pollfd entries[2] = {{fd, POLLIN, 0}, {m_wakeRead.load(std::memory_order_acquire), POLLIN, 0}};
    int rc;
    do
        rc = ::poll(entries, entries[1].fd >= 0 ? 2 : 1, timeoutMs);
    while (rc < 0 && errno == EINTR);
    if (rc > 0 && (entries[1].revents & POLLIN) != 0)
    {
        char drained[64];
        while (::read(entries[1].fd, drained, sizeof drained) > 0)
        {
        }
        return -1;
    }
    if (rc <= 0 || (entries[0].revents & POLLIN) == 0)
        return -1;
    return ReceiveDatagram(fd, data, size, source);
}

void CMulticastSocket::Close()
{
    CloseFd(m_fd, m_closeMutex);
    CloseFd(m_wakeRead, m_closeMutex);
    CloseFd(m_wakeWrite, m_closeMutex);
}

} // namespace velt
