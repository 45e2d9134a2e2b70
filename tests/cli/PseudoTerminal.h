#pragma once

// Linux only: a pseudo-terminal for tests of what a program draws on a terminal.

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <initializer_list>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace velt::test
{

// A pseudo-terminal pair: the program gets the follower side as a stream, the test reads what
// it wrote from the leader side. The follower is raw (no "\n" to "\r\n"), so the bytes read are
// the bytes written, and has the given width.
class CPseudoTerminal
{
public:
    explicit CPseudoTerminal(std::uint16_t columns)
    {
        m_leader = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (m_leader < 0 || ::grantpt(m_leader) != 0 || ::unlockpt(m_leader) != 0)
            return;
        const char* name = ::ptsname(m_leader);
        if (name == nullptr)
            return;
        m_follower = ::open(name, O_RDWR | O_NOCTTY);
        if (m_follower < 0)
            return;
        termios modes{};
        ::tcgetattr(m_follower, &modes);
        ::cfmakeraw(&modes);
        ::tcsetattr(m_follower, TCSANOW, &modes);
        winsize size{};
        size.ws_col = columns;
        size.ws_row = 24;
        ::ioctl(m_leader, TIOCSWINSZ, &size);
    }
    ~CPseudoTerminal()
    {
        CloseFollower();
        if (m_leader >= 0)
            ::close(m_leader);
    }
    CPseudoTerminal(const CPseudoTerminal&) = delete;
    CPseudoTerminal& operator=(const CPseudoTerminal&) = delete;

    bool IsOpen() const { return m_leader >= 0 && m_follower >= 0; }
    int Follower() const { return m_follower; }
    // Once the program holds its own copy: the leader then sees the end when the program ends.
    void CloseFollower()
    {
        if (m_follower >= 0)
            ::close(m_follower);
        m_follower = -1;
    }
    int Leader() const { return m_leader; }

private:
    int m_leader = -1;
    int m_follower = -1;
};

// Starts program with args, its streams `streams` (of 0, 1, 2) on fd; -1 when it cannot start.
inline pid_t SpawnOn(const std::string& program, std::vector<std::string> args, int fd,
                     std::initializer_list<int> streams)
{
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& word : args)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const int stream : streams)
        posix_spawn_file_actions_adddup2(&actions, fd, stream);
    pid_t child = -1;
    const int error =
        ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? child : -1;
}

// Everything readable on fd until its writers are gone (end of file, or EIO on a leader whose
// follower has closed), or until timeoutMs pass without a byte.
inline std::string ReadUntilClosed(int fd, int timeoutMs)
{
    std::string bytes;
    for (;;)
    {
        pollfd wanted{fd, POLLIN, 0};
        const int ready = ::poll(&wanted, 1, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return bytes;
        char chunk[4096];
        const ssize_t size = ::read(fd, chunk, sizeof chunk);
        if (size < 0 && errno == EINTR)
            continue;
        if (size <= 0)
            return bytes;
        bytes.append(chunk, static_cast<std::size_t>(size));
    }
}

} // namespace velt::test
