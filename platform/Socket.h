#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace velt
{

// Starts and stops the socket layer for the process (on Windows Winsock 2, which every socket
// also starts on first use and which is cleaned up when the process ends; on POSIX it only makes
// sure that writes to a closed peer return an error instead of raising SIGPIPE).
bool SocketLayerStart();
void SocketLayerStop();

// Resolves a host name to the dotted-decimal text of its first IPv4 address.
std::optional<std::string> ResolveHostIPv4(const std::string& host);

// What a blocked call of a side's sockets waits on besides the socket, kept by the side that needs
// it: on Windows the socket's readiness event, the wake-up event that Shutdown sets (Winsock's
// shutdown alone wakes neither recv nor accept), and the send time-out that its non-blocking
// sockets count themselves. The POSIX side blocks in the socket calls and leaves it empty.
struct SocketWaits
{
    void* m_ready = nullptr;
    void* m_wake = nullptr;
    int m_sendTimeoutMs = 0;
};

// A connected TCP stream socket. Blocking. Move-only; closing happens in the destructor.
// Shutdown() may be called from another thread to make a blocked Recv/Send return; Close()
// must only be called once no other thread uses the socket any more.
class CTcpSocket
{
public:
    CTcpSocket() = default;
    // Takes a connected socket (on Windows a SOCKET, whose value fits 32 bits).
    explicit CTcpSocket(int fd);
    ~CTcpSocket() { Close(); }
    CTcpSocket(CTcpSocket&& other) noexcept;
    CTcpSocket& operator=(CTcpSocket&& other) noexcept;
    CTcpSocket(const CTcpSocket&) = delete;
    CTcpSocket& operator=(const CTcpSocket&) = delete;

    static constexpr std::uint32_t kNoTimeout = 0xFFFFFFFFu;
    // Connects to a dotted-decimal IPv4 address; an invalid socket on failure. Gives up after
    // timeoutMs, or soon after cancelled() turns true (looked at every kConnectSliceMs).
    static CTcpSocket Connect(const std::string& dottedIp, std::uint16_t port,
                              std::uint32_t timeoutMs = kNoTimeout,
                              const std::function<bool()>& cancelled = {});
    static constexpr std::uint32_t kConnectSliceMs = 50;

    bool IsValid() const { return m_fd.load(std::memory_order_acquire) >= 0; }

    // One send call's worth, looping over partial writes so that the bytes go out whole.
    // Returns the number of bytes sent, or -1 on failure.
    int Send(const void* data, std::size_t size);
    // One receive call: >0 bytes read, 0 when the peer closed, -1 on failure.
    int Recv(void* data, std::size_t size);
    // Receives exactly size bytes; false on close or failure.
    bool RecvExact(void* data, std::size_t size);
    // Waits until data can be read; true when readable (or closed), false on time-out.
    bool WaitReadable(int timeoutMs);

    void SetNoDelay(bool on);
    // A send that the peer does not take within the time fails (0: wait for ever).
    void SetSendTimeout(int timeoutMs);

    // Wakes any thread blocked on this socket; later calls fail. Safe from any thread.
    void Shutdown();
    void Close();

    std::uint16_t LocalPort() const;

private:
    // How long a connect in progress may wait next, or nothing once it is out of time or
    // cancelled.
    static std::optional<std::uint32_t> ConnectSlice(std::chrono::steady_clock::time_point start,
                                                     std::uint32_t timeoutMs,
                                                     const std::function<bool()>& cancelled);

    // Used by the thread that owns the socket; read by any thread that shuts it down.
    std::atomic<int> m_fd{-1};
    // Shutdown (any thread) and Close (the owner) take it, so that a shutdown never reaches a
    // descriptor that a close has already handed back to the system for reuse.
    std::mutex m_closeMutex;
    SocketWaits m_waits;
};

// A TCP listener bound to an IPv4 address.
class CTcpListener
{
public:
    enum class Error
    {
        kNone,
        kCreate,
        kConfigure,
        kBind,
        kListen,
    };

    CTcpListener() = default;
    ~CTcpListener() { Close(); }
    CTcpListener(const CTcpListener&) = delete;
    CTcpListener& operator=(const CTcpListener&) = delete;

    // Creates the socket, sets address reuse, binds and listens. Port 0 picks a free port.
    Error Open(const std::string& dottedIp, std::uint16_t port, int backlog = 5);
    bool IsValid() const { return m_fd.load(std::memory_order_acquire) >= 0; }
    std::uint16_t Port() const;

    // Blocks until a connection arrives; an invalid socket when the listener fails or is shut down.
    CTcpSocket Accept();
    // Wakes a blocked Accept. Safe from any thread.
    void Shutdown();
    void Close();

private:
    // Used by the thread that owns the socket; read by any thread that shuts it down.
    std::atomic<int> m_fd{-1};
    // Shutdown (any thread) and Close (the owner) take it, so that a shutdown never reaches a
    // descriptor that a close has already handed back to the system for reuse.
    std::mutex m_closeMutex;
    SocketWaits m_waits;
};

// A UDP socket for sending datagrams.
class CUdpSocket
{
public:
    CUdpSocket() = default;
    ~CUdpSocket() { Close(); }
    CUdpSocket(const CUdpSocket&) = delete;
    CUdpSocket& operator=(const CUdpSocket&) = delete;

    bool Open();
    // Binds for receiving (tests and the game simulator). Port 0 picks a free port.
    bool Bind(const std::string& dottedIp, std::uint16_t port);
    std::uint16_t LocalPort() const;
    bool IsValid() const { return m_fd.load(std::memory_order_acquire) >= 0; }

    int SendTo(const std::string& dottedIp, std::uint16_t port, const void* data, std::size_t size);
    // Receives one datagram, waiting at most timeoutMs; -1 on time-out or failure.
    int RecvFrom(void* data, std::size_t size, int timeoutMs);

    void Shutdown();
    void Close();

private:
    // Used by the thread that owns the socket; read by any thread that shuts it down.
    std::atomic<int> m_fd{-1};
    // Shutdown (any thread) and Close (the owner) take it, so that a shutdown never reaches a
    // descriptor that a close has already handed back to the system for reuse.
    std::mutex m_closeMutex;
};

// An IPv4 address of one of this machine's interfaces that is up.
struct LocalInterfaceAddress
{
    std::string m_address; // dotted decimal
    bool m_loopback = false;
    bool m_multicast = false; // the interface carries multicast
};

// Every IPv4 address of the interfaces that are up; empty when the system does not say.
std::vector<LocalInterfaceAddress> LocalIPv4Addresses();

// Where a datagram came from.
struct DatagramSource
{
    std::string m_address; // dotted decimal
    std::uint16_t m_port = 0;
};

// A UDP socket that shares its port with other programs and takes part in a multicast group,
// as multicast DNS responders do. Sends and receives may run on different threads; Close must
// wait until no other thread uses the socket.
class CMulticastSocket
{
public:
    enum class Error
    {
        kNone,
        kCreate,
        kConfigure, // address reuse, multicast loop or TTL refused
        kBind,
    };

    CMulticastSocket() = default;
    ~CMulticastSocket() { Close(); }
    CMulticastSocket(const CMulticastSocket&) = delete;
    CMulticastSocket& operator=(const CMulticastSocket&) = delete;

    // Binds 0.0.0.0 at the port with address reuse (and port reuse where the system has it, so
    // that a system responder keeps the port too), multicast loop on, so that programs on this
    // machine hear what is sent, and the multicast TTL given.
    Error Open(std::uint16_t port, int multicastTtl);
    bool IsValid() const { return m_fd.load(std::memory_order_acquire) >= 0; }
    std::uint16_t LocalPort() const;

    // Joins the group on the interface that has the address; false when the system refuses.
    bool JoinGroup(const std::string& group, const std::string& interfaceAddress);
    // Multicast goes out through the interface that has the address, which is also its source.
    bool SetMulticastInterface(const std::string& interfaceAddress);

    // Leaves the group on the interface that had the address (false when the system refuses,
    // as it does for an interface that has gone: the system has left it then).
    bool LeaveGroup(const std::string& group, const std::string& interfaceAddress);
    // The multicast TTL of what is sent from now on; 0 keeps it on this machine.
    bool SetMulticastTtl(int ttl);

    int SendTo(const std::string& dottedIp, std::uint16_t port, const void* data, std::size_t size);
    // Receives one datagram, waiting at most timeoutMs (without end when negative); -1 on
    // time-out, failure, or a Wake.
    int RecvFrom(void* data, std::size_t size, int timeoutMs, DatagramSource& source);
    // Ends the RecvFrom that waits now, or else the next one, at once; from any thread while
    // the socket is open.
    void Wake();

    void Close();

private:
    // The receiving thread sends and receives on it; Wake comes from any thread.
    std::atomic<int> m_fd{-1};
    // What Wake writes to and RecvFrom waits on besides the socket: a pipe's two ends on POSIX,
    // a UDP socket of 127.0.0.1 (twice the same) on Windows, whose select takes sockets alone.
    std::atomic<int> m_wakeRead{-1};
    std::atomic<int> m_wakeWrite{-1};
    // Close (the owner's thread) takes it around the descriptors it hands back.
    std::mutex m_closeMutex;
};

} // namespace velt
