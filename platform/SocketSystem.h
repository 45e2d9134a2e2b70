#pragma once

// The few places where Winsock and BSD sockets differ in spelling, for the code that the two
// sides share (SocketCommon.cpp) and for each side's own file. Private to platform/.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

namespace velt
{

struct DatagramSource;

#ifdef _WIN32
using NativeSocket = SOCKET;
constexpr NativeSocket kNoNativeSocket = INVALID_SOCKET;
// IP_MULTICAST_TTL and IP_MULTICAST_LOOP take a DWORD on Windows, a byte elsewhere.
using MulticastByteOption = DWORD;
constexpr int kShutdownBoth = SD_BOTH;
// Winsock, started by the first socket of the process.
bool EnsureWinsock();
inline bool SocketsReady()
{
    return EnsureWinsock();
}
inline void CloseNative(NativeSocket s)
{
    ::closesocket(s);
}
#else
using NativeSocket = int;
constexpr NativeSocket kNoNativeSocket = -1;
using MulticastByteOption = unsigned char;
constexpr int kShutdownBoth = SHUT_RDWR;
inline bool SocketsReady()
{
    return true;
}
inline void CloseNative(NativeSocket s)
{
    ::close(s);
}
#endif

// The sockets keep their handle as an int: a POSIX descriptor, or a Windows SOCKET, which is
// a kernel handle of 32 significant bits.
inline NativeSocket ToNative(int fd)
{
    return fd < 0 ? kNoNativeSocket : static_cast<NativeSocket>(fd);
}

// setsockopt with the value's type as each side wants it.
template <typename Value> bool SetOption(int fd, int level, int name, const Value& value)
{
    return ::setsockopt(ToNative(fd), level, name, reinterpret_cast<const char*>(&value),
                        sizeof value) == 0;
}

bool MakeAddress(const std::string& dottedIp, std::uint16_t port, sockaddr_in& out);
// The port a socket is bound to; 0 without one.
std::uint16_t BoundPort(int fd);
// Closes the handle under the lock that Shutdown also takes.
void CloseFd(std::atomic<int>& fd, std::mutex& closeMutex);
void ShutdownFd(const std::atomic<int>& fd, std::mutex& closeMutex);
// Waits until a datagram can be read: false on time-out or failure.
bool WaitForDatagram(int fd, int timeoutMs);
int SendDatagram(int fd, const std::string& dottedIp, std::uint16_t port, const void* data,
                 std::size_t size);
// Receives one datagram that is known to be waiting and tells where it came from; -1 on failure.
int ReceiveDatagram(int fd, void* data, std::size_t size, DatagramSource& source);
// Joins (IP_ADD_MEMBERSHIP) or leaves (IP_DROP_MEMBERSHIP) a group on one interface.
bool ChangeMembership(int fd, int option, const std::string& group,
                      const std::string& interfaceAddress);

} // namespace velt
