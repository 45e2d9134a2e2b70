// Sockets on Winsock 2. Blocking calls are built from non-blocking ones and a wait on two kernel
// events, the socket's own readiness and a wake-up, because Winsock's shutdown wakes neither a
// blocked recv nor a blocked accept in another thread, and closing a socket under a thread that
// still uses it would let the handle be reused for another socket.
#include "platform/Socket.h"

#include "platform/SocketSystem.h"
// After Winsock's headers, which it needs.
#include <iphlpapi.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <utility>
#include <vector>

#ifndef SIO_UDP_CONNRESET
#define SIO_UDP_CONNRESET _WSAIOW(IOC_VENDOR, 12)
#endif

namespace velt
{

namespace
{

// How long a send that the system cannot take yet waits before it looks for a shutdown again.
constexpr long kSendRetryUs = 50 * 1000;
// A blocked receive or accept also tries again after this long without a signal, so that a
// readiness signal that the system did not give (seen under Wine) costs this much, not a hang.
constexpr DWORD kBlockedRetryMs = 100;

// Winsock for the whole process: started by the first socket, cleaned up when the process ends.
class CWinsockSession
{
public:
    CWinsockSession()
    {
        WSADATA data;
        m_ok = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~CWinsockSession()
    {
        if (m_ok)
            ::WSACleanup();
    }
    bool Ok() const { return m_ok; }

private:
    bool m_ok = false;
};

} // namespace

bool EnsureWinsock()
{
    static CWinsockSession session;
    return session.Ok();
}

namespace
{

// Kernel handles carry 32 significant bits, so a SOCKET fits an int.
int FromSocket(SOCKET s)
{
    return s == INVALID_SOCKET ? -1 : static_cast<int>(s);
}

SOCKET NewSocket(int type, int protocol)
{
    if (!EnsureWinsock())
        return INVALID_SOCKET;
    // Not inherited by programs that the client starts, such as the game; systems before
    // Windows 7 SP1 do not know the flag, and get an inheritable socket.
    const SOCKET s = ::WSASocketW(AF_INET, type, protocol, nullptr, 0,
                                  WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s != INVALID_SOCKET)
        return s;
    return ::WSASocketW(AF_INET, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED);
}

// A datagram that found no receiver must not fail the next receive on the socket.
void IgnoreUnreachablePeers(SOCKET s)
{
    BOOL report = FALSE;
    DWORD returned = 0;
    ::WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &returned, nullptr,
               nullptr);
}

// Ties the socket's network events to a new readiness event (which makes the socket
// non-blocking) and creates the wake-up event. False, with nothing left open, on failure.
bool AttachEvents(SOCKET s, long networkEvents, void*& ready, void*& wake)
{
    WSAEVENT readyEvent = ::WSACreateEvent();
    HANDLE wakeEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (readyEvent == WSA_INVALID_EVENT || wakeEvent == nullptr ||
        ::WSAEventSelect(s, readyEvent, networkEvents) != 0)
    {
        if (readyEvent != WSA_INVALID_EVENT)
            ::WSACloseEvent(readyEvent);
        if (wakeEvent != nullptr)
            ::CloseHandle(wakeEvent);
        return false;
    }
    ready = readyEvent;
    wake = wakeEvent;
    return true;
}

void DetachEvents(void*& ready, void*& wake)
{
    if (ready != nullptr)
        ::WSACloseEvent(static_cast<WSAEVENT>(ready));
    if (wake != nullptr)
        ::CloseHandle(static_cast<HANDLE>(wake));
    ready = nullptr;
    wake = nullptr;
}

enum class WaitResult
{
    kReady,
    kWoken,
    kTimedOut,
};

// The wake-up comes first, so that a shut-down socket never looks ready.
WaitResult WaitForEvents(void* ready, void* wake, DWORD timeoutMs)
{
    const HANDLE handles[2] = {static_cast<HANDLE>(wake), static_cast<HANDLE>(ready)};
    switch (::WaitForMultipleObjects(2, handles, FALSE, timeoutMs))
    {
    case WAIT_OBJECT_0 + 1:
        return WaitResult::kReady;
    case WAIT_TIMEOUT:
        return WaitResult::kTimedOut;
    default:
        return WaitResult::kWoken;
    }
}

bool IsWoken(void* wake)
{
    return wake == nullptr || ::WaitForSingleObject(static_cast<HANDLE>(wake), 0) == WAIT_OBJECT_0;
}

// Readable now, or closed by the peer, without waiting.
bool ReadableNow(SOCKET s)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval none{0, 0};
    return ::select(0, &readable, nullptr, nullptr, &none) != 0;
}

void CloseSocket(std::atomic<int>& fd, std::mutex& closeMutex, void*& ready, void*& wake)
{
    std::lock_guard lock(closeMutex);
    const int old = fd.exchange(-1, std::memory_order_acq_rel);
    if (old >= 0)
        ::closesocket(ToNative(old));
    DetachEvents(ready, wake);
}

void ShutdownSocket(const std::atomic<int>& fd, std::mutex& closeMutex, void* wake, bool stream)
{
    std::lock_guard lock(closeMutex);
    const int current = fd.load(std::memory_order_acquire);
    if (current < 0)
        return;
    if (stream)
        ::shutdown(ToNative(current), SD_BOTH);
    if (wake != nullptr)
        ::SetEvent(static_cast<HANDLE>(wake));
}

} // namespace

bool WaitForDatagram(int fd, int timeoutMs)
{
    const SOCKET s = ToNative(fd);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return ::select(0, &readable, nullptr, nullptr, timeoutMs < 0 ? nullptr : &timeout) > 0;
}

bool SocketLayerStart()
{
    return EnsureWinsock();
}

void SocketLayerStop() {}

CTcpSocket::CTcpSocket(int fd) : m_fd(fd)
{
    if (fd >= 0 && !AttachEvents(ToNative(fd), FD_READ | FD_CLOSE, m_waits.m_ready, m_waits.m_wake))
    {
        ::closesocket(ToNative(fd));
        m_fd.store(-1);
    }
}

CTcpSocket CTcpSocket::Connect(const std::string& dottedIp, std::uint16_t port,
                               std::uint32_t timeoutMs, const std::function<bool()>& cancelled)
{
    sockaddr_in address{};
    if (!MakeAddress(dottedIp, port, address))
        return CTcpSocket();
    const SOCKET s = NewSocket(SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return CTcpSocket();
    const auto fail = [s]
    {
        ::closesocket(s);
        return CTcpSocket();
    };
    // Non-blocking while connecting, so that the limit and the caller's cancel hold.
    u_long nonBlocking = 1;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0)
        return fail();
    if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    {
        if (::WSAGetLastError() != WSAEWOULDBLOCK)
            return fail();
        const auto start = std::chrono::steady_clock::now();
        for (;;)
        {
            const auto slice = ConnectSlice(start, timeoutMs, cancelled);
            if (!slice)
                return fail();
            fd_set writable;
            fd_set failed;
            FD_ZERO(&writable);
            FD_ZERO(&failed);
            FD_SET(s, &writable);
            FD_SET(s, &failed);
            timeval wait{0, static_cast<long>(*slice) * 1000};
            const int ready = ::select(0, nullptr, &writable, &failed, &wait);
            if (ready == SOCKET_ERROR || FD_ISSET(s, &failed))
                return fail();
            if (ready > 0 && FD_ISSET(s, &writable))
                break;
        }
    }
    nonBlocking = 0;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0)
        return fail();
    return CTcpSocket(FromSocket(s));
}

int CTcpSocket::Send(const void* data, std::size_t size)
{
    const int fd = m_fd.load(std::memory_order_acquire);
    if (fd < 0)
        return -1;
    const SOCKET s = ToNative(fd);
    const auto* bytes = static_cast<const char*>(data);
    std::size_t sent = 0;
    // Waiting for room counts against the send time-out, if there is one.
    long waitedUs = 0;
    while (sent < size)
    {
        const int chunk = static_cast<int>(std::min<std::size_t>(size - sent, INT_MAX));
        const int n = ::send(s, bytes + sent, chunk, 0);
        if (n > 0)
        {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0 || ::WSAGetLastError() != WSAEWOULDBLOCK || IsWoken(m_waits.m_wake))
            return -1;
        if (m_waits.m_sendTimeoutMs > 0 &&
            waitedUs >= static_cast<long>(m_waits.m_sendTimeoutMs) * 1000)
            return -1;
        waitedUs += kSendRetryUs;
        // Full send buffer: wait for room in short steps, so that a shutdown is seen.
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(s, &writable);
        timeval step{0, kSendRetryUs};
        ::select(0, nullptr, &writable, nullptr, &step);
    }
    return static_cast<int>(sent);
}

int CTcpSocket::Recv(void* data, std::size_t size)
{
    const int fd = m_fd.load(std::memory_order_acquire);
    if (fd < 0)
        return -1;
    const SOCKET s = ToNative(fd);
    const int wanted = static_cast<int>(std::min<std::size_t>(size, INT_MAX));
    for (;;)
    {
        const int n = ::recv(s, static_cast<char*>(data), wanted, 0);
        if (n >= 0)
            return n;
        if (::WSAGetLastError() != WSAEWOULDBLOCK)
            return -1;
        if (WaitForEvents(m_waits.m_ready, m_waits.m_wake, kBlockedRetryMs) == WaitResult::kWoken)
            return -1;
        // Reset before the next try: data that arrives after it sets the event again, and a
        // signal left from earlier costs one more try at most.
        ::WSAResetEvent(static_cast<WSAEVENT>(m_waits.m_ready));
    }
}

bool CTcpSocket::WaitReadable(int timeoutMs)
{
    const int fd = m_fd.load(std::memory_order_acquire);
    if (fd < 0)
        return true;
    // The common looks (data waiting, or a poll without waiting) cost one call.
    if (ReadableNow(ToNative(fd)))
        return true;
    if (timeoutMs == 0)
        return false;
    // Reset, then look again: data that arrives after the look sets the event.
    ::WSAResetEvent(static_cast<WSAEVENT>(m_waits.m_ready));
    if (ReadableNow(ToNative(fd)))
        return true;
    const DWORD timeout = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
    return WaitForEvents(m_waits.m_ready, m_waits.m_wake, timeout) != WaitResult::kTimedOut;
}

void CTcpSocket::SetSendTimeout(int timeoutMs)
{
    m_waits.m_sendTimeoutMs = std::max(0, timeoutMs);
}

void CTcpSocket::Shutdown()
{
    ShutdownSocket(m_fd, m_closeMutex, m_waits.m_wake, true);
}

void CTcpSocket::Close()
{
    CloseSocket(m_fd, m_closeMutex, m_waits.m_ready, m_waits.m_wake);
}

CTcpListener::Error CTcpListener::Open(const std::string& dottedIp, std::uint16_t port, int backlog)
{
    Close();
    const SOCKET s = NewSocket(SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return Error::kCreate;
    // Windows' address reuse would let a second listener take a port that one already holds;
    // exclusive use keeps the meaning that the option has elsewhere: a port in use is refused.
    if (!SetOption(FromSocket(s), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, BOOL{TRUE}))
    {
        ::closesocket(s);
        return Error::kConfigure;
    }
    sockaddr_in address{};
    if (!MakeAddress(dottedIp, port, address) ||
        ::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    {
        ::closesocket(s);
        return Error::kBind;
    }
    if (::listen(s, backlog) != 0 || !AttachEvents(s, FD_ACCEPT, m_waits.m_ready, m_waits.m_wake))
    {
        ::closesocket(s);
        return Error::kListen;
    }
    m_fd.store(FromSocket(s), std::memory_order_release);
    return Error::kNone;
}

CTcpSocket CTcpListener::Accept()
{
    const int fd = m_fd.load(std::memory_order_acquire);
    if (fd < 0)
        return CTcpSocket();
    for (;;)
    {
        if (IsWoken(m_waits.m_wake))
            return CTcpSocket();
        const SOCKET client = ::accept(ToNative(fd), nullptr, nullptr);
        // The accepted socket shares the listener's events until the constructor gives it its own.
        if (client != INVALID_SOCKET)
            return CTcpSocket(FromSocket(client));
        const int error = ::WSAGetLastError();
        if (error == WSAECONNRESET)
            continue;
        if (error != WSAEWOULDBLOCK)
            return CTcpSocket();
        if (WaitForEvents(m_waits.m_ready, m_waits.m_wake, kBlockedRetryMs) == WaitResult::kWoken)
            return CTcpSocket();
        ::WSAResetEvent(static_cast<WSAEVENT>(m_waits.m_ready));
    }
}

void CTcpListener::Shutdown()
{
    ShutdownSocket(m_fd, m_closeMutex, m_waits.m_wake, false);
}

void CTcpListener::Close()
{
    CloseSocket(m_fd, m_closeMutex, m_waits.m_ready, m_waits.m_wake);
}

bool CUdpSocket::Open()
{
    Close();
    const SOCKET s = NewSocket(SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return false;
    IgnoreUnreachablePeers(s);
    m_fd.store(FromSocket(s), std::memory_order_release);
    return true;
}

std::vector<LocalInterfaceAddress> LocalIPv4Addresses()
{
    std::vector<LocalInterfaceAddress> addresses;
    if (!EnsureWinsock())
        return addresses;
    constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                             GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME;
    // The size asked for can grow between two calls when an adapter appears.
    ULONG size = 16 * 1024;
    std::vector<std::uint8_t> buffer;
    ULONG rc = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && rc == ERROR_BUFFER_OVERFLOW; ++attempt)
    {
        buffer.resize(size);
        rc = ::GetAdaptersAddresses(AF_INET, kFlags, nullptr,
                                    reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (rc != NO_ERROR)
        return addresses;
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data());
         adapter != nullptr; adapter = adapter->Next)
    {
        if (adapter->OperStatus != IfOperStatusUp)
            continue;
        for (auto* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
             unicast = unicast->Next)
        {
            const sockaddr* address = unicast->Address.lpSockaddr;
            if (address == nullptr || address->sa_family != AF_INET)
                continue;
            char text[INET_ADDRSTRLEN] = {};
            const auto* inet = reinterpret_cast<const sockaddr_in*>(address);
            if (::inet_ntop(AF_INET, &inet->sin_addr, text, sizeof text) == nullptr)
                continue;
            addresses.push_back({text, adapter->IfType == IF_TYPE_SOFTWARE_LOOPBACK,
                                 (adapter->Flags & IP_ADAPTER_NO_MULTICAST) == 0});
        }
    }
    return addresses;
}

CMulticastSocket::Error CMulticastSocket::Open(std::uint16_t port, int multicastTtl)
{
    Close();
    const SOCKET s = NewSocket(SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET)
        return Error::kCreate;
    IgnoreUnreachablePeers(s);
    // Windows' address reuse is what Bonjour and the system's own responder share 5353 with.
    const int fd = FromSocket(s);
    if (!SetOption(fd, SOL_SOCKET, SO_REUSEADDR, BOOL{TRUE}) ||
        !SetOption(fd, IPPROTO_IP, IP_MULTICAST_LOOP, MulticastByteOption{1}) ||
        !SetOption(fd, IPPROTO_IP, IP_MULTICAST_TTL,
                   static_cast<MulticastByteOption>(multicastTtl)))
    {
        ::closesocket(s);
        return Error::kConfigure;
    }
    sockaddr_in address{};
    if (!MakeAddress("0.0.0.0", port, address) ||
        ::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
    {
        ::closesocket(s);
        return Error::kBind;
    }
    // Wake sends a byte to this socket of 127.0.0.1 from itself; select waits on both.
    const SOCKET wake = NewSocket(SOCK_DGRAM, IPPROTO_UDP);
    sockaddr_in wakeAddress{};
    if (wake == INVALID_SOCKET || !MakeAddress("127.0.0.1", 0, wakeAddress) ||
        ::bind(wake, reinterpret_cast<const sockaddr*>(&wakeAddress), sizeof wakeAddress) != 0)
    {
        if (wake != INVALID_SOCKET)
            ::closesocket(wake);
        ::closesocket(s);
        return Error::kCreate;
    }
    IgnoreUnreachablePeers(wake);
    m_wakeRead.store(FromSocket(wake), std::memory_order_release);
    m_wakeWrite.store(FromSocket(wake), std::memory_order_release);
    m_fd.store(FromSocket(s), std::memory_order_release);
    return Error::kNone;
}

void CMulticastSocket::Wake()
{
    const SOCKET wake = ToNative(m_wakeWrite.load(std::memory_order_acquire));
    sockaddr_in address{};
    int length = sizeof address;
    if (wake == INVALID_SOCKET ||
        ::getsockname(wake, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return;
    const char byte = 1;
    ::sendto(wake, &byte, 1, 0, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

int CMulticastSocket::RecvFrom(void* data, std::size_t size, int timeoutMs, DatagramSource& source)
{
    const int fd = m_fd.load(std::memory_order_acquire);
    if (fd < 0 || size > INT_MAX)
        return -1;
    const SOCKET wake = ToNative(m_wakeRead.load(std::memory_order_acquire));
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(ToNative(fd), &readable);
    if (wake != INVALID_SOCKET)
        FD_SET(wake, &readable);
    timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (::select(0, &readable, nullptr, nullptr, timeoutMs < 0 ? nullptr : &timeout) <= 0)
        return -1;
    if (wake != INVALID_SOCKET && FD_ISSET(wake, &readable))
    {
        char drained[64];
        u_long pending = 0;
        do
            ::recvfrom(wake, drained, sizeof drained, 0, nullptr, nullptr);
        while (::ioctlsocket(wake, FIONREAD, &pending) == 0 && pending > 0);
        return -1;
    }
    if (!FD_ISSET(ToNative(fd), &readable))
        return -1;
    return ReceiveDatagram(fd, data, size, source);
}

void CMulticastSocket::Close()
{
    std::lock_guard lock(m_closeMutex);
    const int old = m_fd.exchange(-1, std::memory_order_acq_rel);
    if (old >= 0)
        ::closesocket(ToNative(old));
    m_wakeWrite.store(-1, std::memory_order_release);
    const int wake = m_wakeRead.exchange(-1, std::memory_order_acq_rel);
    if (wake >= 0)
        ::closesocket(ToNative(wake));
}

} // namespace velt
