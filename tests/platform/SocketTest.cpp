#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>
#include <vector>

#include "platform/Socket.h"
#include "platform/Thread.h"

using namespace velt;
using namespace std::chrono_literals;

TEST(SocketTest, ConnectSendAndReceiveOverLoopback)
{
    CTcpListener listener;
    ASSERT_EQ(listener.Open("127.0.0.1", 0), CTcpListener::Error::kNone);
    ASSERT_NE(listener.Port(), 0);
    CTcpSocket client = CTcpSocket::Connect("127.0.0.1", listener.Port());
    ASSERT_TRUE(client.IsValid());
    CTcpSocket server = listener.Accept();
    ASSERT_TRUE(server.IsValid());
    EXPECT_EQ(client.Send("hello", 5), 5);
    char buffer[5];
    ASSERT_TRUE(server.RecvExact(buffer, 5));
    EXPECT_EQ(std::string(buffer, 5), "hello");
    client.Close();
    EXPECT_EQ(server.Recv(buffer, 5), 0);
}

TEST(SocketTest, ConnectFailsForRefusedPortAndBadAddress)
{
    CTcpListener listener;
    ASSERT_EQ(listener.Open("127.0.0.1", 0), CTcpListener::Error::kNone);
    const auto port = listener.Port();
    listener.Close();
    EXPECT_FALSE(CTcpSocket::Connect("127.0.0.1", port).IsValid());
    EXPECT_FALSE(CTcpSocket::Connect("not.an.address", 999).IsValid());
}

TEST(SocketTest, ShutdownFromAnotherThreadWakesBlockedRecv)
{
    CTcpListener listener;
    ASSERT_EQ(listener.Open("127.0.0.1", 0), CTcpListener::Error::kNone);
    CTcpSocket client = CTcpSocket::Connect("127.0.0.1", listener.Port());
    CTcpSocket server = listener.Accept();
    std::atomic<int> result{1};
    CThread reader;
    reader.Start([&] {
        char byte;
        result = client.Recv(&byte, 1);
    });
    std::this_thread::sleep_for(30ms);
    client.Shutdown();
    reader.Join();
    EXPECT_LE(result.load(), 0);
}

TEST(SocketTest, ShutdownWakesBlockedAccept)
{
    CTcpListener listener;
    ASSERT_EQ(listener.Open("127.0.0.1", 0), CTcpListener::Error::kNone);
    std::atomic<bool> valid{true};
    CThread acceptor;
    acceptor.Start([&] { valid = listener.Accept().IsValid(); });
    std::this_thread::sleep_for(30ms);
    listener.Shutdown();
    acceptor.Join();
    EXPECT_FALSE(valid.load());
}

TEST(SocketTest, BindToTakenPortReportsBind)
{
    CTcpListener first, second;
    ASSERT_EQ(first.Open("127.0.0.1", 0), CTcpListener::Error::kNone);
    EXPECT_EQ(second.Open("127.0.0.1", first.Port()), CTcpListener::Error::kBind);
    EXPECT_EQ(second.Open("999.0.0.1", 0), CTcpListener::Error::kBind);
}

TEST(SocketTest, UdpDatagramReachesBoundReceiver)
{
    CUdpSocket receiver, sender;
    ASSERT_TRUE(receiver.Bind("127.0.0.1", 0));
    ASSERT_TRUE(sender.Open());
    EXPECT_EQ(sender.SendTo("127.0.0.1", receiver.LocalPort(), "ping", 4), 4);
    char buffer[16];
    EXPECT_EQ(receiver.RecvFrom(buffer, sizeof buffer, 5000), 4);
    EXPECT_EQ(receiver.RecvFrom(buffer, sizeof buffer, 10), -1);
    // A port the system picks is held by no other socket (two tests' simulated games once heard
    // each other's announcements so), and can still be handed on to the next socket bound to it.
    std::vector<CUdpSocket> many(600);
    std::set<std::uint16_t> ports;
    for (CUdpSocket& socket : many)
    {
        ASSERT_TRUE(socket.Bind("127.0.0.1", 0));
        ports.insert(socket.LocalPort());
    }
    EXPECT_EQ(ports.size(), many.size());
    CUdpSocket successor;
    EXPECT_TRUE(successor.Bind("127.0.0.1", receiver.LocalPort()));
}

TEST(SocketTest, ResolvesLocalhostToDottedText)
{
    EXPECT_EQ(ResolveHostIPv4("127.0.0.1").value_or(""), "127.0.0.1");
    EXPECT_EQ(ResolveHostIPv4("localhost").value_or(""), "127.0.0.1");
    EXPECT_FALSE(ResolveHostIPv4("no-such-host.invalid").has_value());
}

// A listener whose backlog is full and that never accepts: the handshake is retried for minutes
// unless the connect gives up by itself, on its limit or when the caller cancels it.
TEST(SocketTest, ConnectToAFullBacklogGivesUpOnItsLimitOrWhenCancelled)
{
    CTcpListener listener;
    ASSERT_EQ(listener.Open("127.0.0.1", 0, 1), CTcpListener::Error::kNone);
    std::vector<CTcpSocket> queued;
    for (int i = 0; i < 64; ++i)
    {
        CTcpSocket socket = CTcpSocket::Connect("127.0.0.1", listener.Port(), 500);
        if (!socket.IsValid())
            break;
        queued.push_back(std::move(socket));
    }
    ASSERT_LT(queued.size(), 64u) << "the backlog never filled";

    struct Row
    {
        std::uint32_t m_timeoutMs;
        bool m_cancel;
    };
    for (const Row row : {Row{300, false}, Row{CTcpSocket::kNoTimeout, true}})
    {
        const CTcpSocket socket = CTcpSocket::Connect("127.0.0.1", listener.Port(), row.m_timeoutMs,
                                                      [&] { return row.m_cancel; });
        EXPECT_FALSE(socket.IsValid());
    }
}
