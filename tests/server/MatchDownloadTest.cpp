#include "server/CMatchServerClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <thread>

#include "FrameBytes.h"
#include "host/CLocalGameHost.h"
#include "host/packets/GameToHostPackets.h"
#include "platform/Socket.h"
#include "server/Framing.h"
#include "server/MatchServerMessages.h"
#include "tests/PollUntil.h"
#include "tests/doubles/CScriptedMatchServer.h"
#include "tests/doubles/HostRig.h"

namespace velt
{
namespace
{

using test::Bytes;
using ScriptedMatch = CScriptedMatchServer::ScriptedMatch;

// Generous, for a loaded machine; only reached when something is wrong.
constexpr std::uint32_t kDeadlineMs = 10000;
constexpr std::uint32_t kMatch = 5;
constexpr std::uint32_t kOtherMatch = 6;
constexpr std::uint32_t kCapacity = CLocalGameHost::kStreamCapacity;

bool WaitUntil(const std::function<bool()>& condition, std::uint32_t timeoutMs = kDeadlineMs)
{
    return test::PollUntil(condition, timeoutMs, 1);
}

HostTimings ShortTimings()
{
    HostTimings timings;
    timings.m_announceIntervalMs = 50;
    timings.m_emptyChunkHoldMs = 20;
    timings.m_stopWaitMs = 100;
    return timings;
}

// A header that can be hosted, whose map path is the only thing that matters here.
Bytes Header(const std::string& mapPath = "Maps\\(2)EchoIsles.w3x")
{
    test::HeaderOptions options;
    options.m_mapPath = mapPath;
    return test::BuildTestHeader(options);
}

Bytes HeaderFrame(std::uint32_t matchId, const Bytes& header)
{
    return BuildReplayHeaderReply({matchId, header});
}

Bytes Stream(std::size_t size)
{
    Bytes stream(size);
    for (std::size_t i = 0; i < size; ++i)
        stream[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    return stream;
}

Bytes ChunkFrame(std::uint32_t matchId, std::uint32_t offset, const Bytes& data,
                 std::uint16_t seconds, std::optional<std::uint32_t> count = std::nullopt)
{
    return BuildGameDataChunk(
        {matchId, offset, count.value_or(static_cast<std::uint32_t>(data.size())), data, seconds});
}

// A completed match of that many stream bytes, all available.
ScriptedMatch Served(std::size_t streamSize, std::uint16_t seconds)
{
    ScriptedMatch match;
    match.m_matchId = kMatch;
    match.m_header = Header();
    match.m_stream = Stream(streamSize);
    match.m_available = static_cast<std::uint32_t>(streamSize);
    match.m_matchSeconds = seconds;
    return match;
}

CMatchInfo Record(std::uint32_t matchId, std::uint32_t length)
{
    CMatchInfo info;
    info.m_matchId = matchId;
    info.m_matchName = "match";
    info.m_length = length;
    return info;
}

class MatchDownloadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SocketLayerStart();
        // Announcements go to a port of our own, so that no game of a parallel test sees them.
        ASSERT_TRUE(m_announceSink.Open());
        ASSERT_TRUE(m_announceSink.Bind("127.0.0.1", 0));
        ASSERT_TRUE(m_server.Start());
        MakeClient(0);
    }

    void MakeClient(std::uint16_t firstGamePort)
    {
        m_client = std::make_unique<CMatchServerClient>(
            m_notices, LocalPortSettings{m_announceSink.LocalPort(), firstGamePort});
        m_client->SetHostTimings(ShortTimings());
        ASSERT_TRUE(m_client->Connect("127.0.0.1", m_server.Port()));
        ASSERT_TRUE(m_server.WaitForClients(++m_clients, kDeadlineMs));
    }

    // Sends the frames, then MSG_LIST_END, and waits until the client has handled the end: every
    // frame before it has been dispatched by then. The client asks first for each header that
    // it is sent, because it takes no header it has not asked for.
    void Deliver(const std::vector<Bytes>& frames)
    {
        for (const Bytes& frame : frames)
            if (frame.size() >= 9 && frame[4] == CodeByte(MessageCode::MSG_REPLAY_HEADER))
                m_client->RequestReplayHeader(static_cast<std::uint32_t>(
                    frame[5] | frame[6] << 8 | frame[7] << 16 | frame[8] << 24));
        std::vector<Bytes> all = frames;
        all.push_back(BuildFrame({CodeByte(MessageCode::MSG_LIST_END), {}}));
        ASSERT_TRUE(m_server.SendFrames(m_clients - 1, all, true));
        ASSERT_TRUE(m_client->ListEndEvent().Wait(kDeadlineMs));
    }

    std::shared_ptr<CLocalGameHost> MakeHost(std::uint32_t matchId = kMatch)
    {
        Deliver({HeaderFrame(matchId, Header())});
        return m_client->FindHost(matchId);
    }

    // A stand-in for the game: a connection to the host's listener starts a session.
    CTcpSocket JoinHost(std::uint32_t matchId = kMatch)
    {
        const auto port = m_client->HostPort(matchId);
        EXPECT_TRUE(port);
        return CTcpSocket::Connect("127.0.0.1", port.value_or(0));
    }

    CUdpSocket m_announceSink;
    CRecordingNotice m_notices;
    CScriptedMatchServer m_server;
    std::unique_ptr<CMatchServerClient> m_client;
    std::size_t m_clients = 0;
};

// --- Replay headers --------------------------------------------------------------------------

struct HeaderRow
{
    const char* m_name;
    std::size_t m_payloadSize; // match id included
    bool m_accepted;
    bool m_zeros = false; // a header of the size but no packets: it cannot be hosted
};

class HeaderSizeTest : public MatchDownloadTest, public ::testing::WithParamInterface<HeaderRow>
{
};

TEST_P(HeaderSizeTest, OnlyTheExactSizeReplacesTheHost)
{
    const HeaderRow& row = GetParam();
    const auto first = MakeHost();
    ASSERT_TRUE(first);

    Bytes payload{kMatch, 0, 0, 0};
    const Bytes header = row.m_zeros ? Bytes(kReplayHeaderSize, 0) : Header();
    payload.insert(payload.end(), header.begin(), header.end());
    payload.resize(row.m_payloadSize, 0);
    Deliver({BuildFrame({CodeByte(MessageCode::MSG_REPLAY_HEADER), payload})});

    ASSERT_TRUE(m_client->HasHost(kMatch));
    EXPECT_EQ(m_client->FindHost(kMatch) == first, !row.m_accepted);
    EXPECT_EQ(m_client->HostsStarted(), row.m_accepted ? 2u : 1u);
    EXPECT_EQ(m_notices.Texts(),
              row.m_accepted ? std::vector<std::string>{}
                             : std::vector<std::string>{"Erro Getting replay header, please "
                                                        "update to latest version of VELT"});
    // A replaced host has left the table (this test holds the last reference) and the new one
    // takes games.
    EXPECT_EQ(first.use_count(), row.m_accepted ? 1 : 2);
    // A refused header that holds a match id names it, whatever was wrong with it.
    EXPECT_EQ(m_client->HeaderProblem(kMatch).has_value(),
              !row.m_accepted && row.m_payloadSize >= 4);
    EXPECT_TRUE(JoinHost().IsValid());
}

INSTANTIATE_TEST_SUITE_P(Sizes, HeaderSizeTest,
                         ::testing::Values(HeaderRow{"Exact", 1756, true},
                                           HeaderRow{"OneShort", 1755, false},
                                           HeaderRow{"OneLong", 1757, false},
                                           HeaderRow{"MatchIdOnly", 4, false},
                                           HeaderRow{"Truncated", 2, false},
                                           HeaderRow{"ExactButNoPackets", 1756, false, true}),
                         [](const auto& info) { return std::string(info.param.m_name); });

TEST_F(MatchDownloadTest, HeaderSetsUpTheHost)
{
    Bytes header = Header("Maps\\FrozenThrone\\(4)TwistedMeadows.w3x");
    header[ReplayHeader::kMatchSecondsOffset] = 65;
    m_client->SetLiveDelay(20); // the viewer's --live-delay or "livedelay" setting
    Deliver({HeaderFrame(kMatch, header), HeaderFrame(kOtherMatch, Header())});

    const auto host = m_client->FindHost(kMatch);
    ASSERT_TRUE(host);
    EXPECT_EQ(host->MatchId(), kMatch);
    EXPECT_EQ(host->LiveDelay(), 20u);
    EXPECT_EQ(m_client->FindHost(kOtherMatch)->Status().m_liveDelaySeconds, 20u);
    EXPECT_EQ(host->MapPath(), "Maps\\FrozenThrone\\(4)TwistedMeadows.w3x");
    EXPECT_EQ(host->MatchSeconds(), 65);
    EXPECT_EQ(m_client->HostsStarted(), 2u);
    // First port 0: each host listens on a free port of its own.
    ASSERT_TRUE(m_client->HostPort(kMatch) && m_client->HostPort(kOtherMatch));
    EXPECT_NE(*m_client->HostPort(kMatch), 0);
    EXPECT_NE(*m_client->HostPort(kMatch), *m_client->HostPort(kOtherMatch));
    EXPECT_TRUE(m_notices.Texts().empty());

    m_client->CloseHost(kMatch);
    EXPECT_FALSE(m_client->HasHost(kMatch));
    EXPECT_TRUE(m_client->HasHost(kOtherMatch));
    EXPECT_FALSE(m_client->HostPort(kMatch));
}

TEST_F(MatchDownloadTest, PortsCountFromTheFirstPortWhetherOrNotTheListenerStarts)
{
    // Hold the first port so that the first host cannot bind it.
    CTcpListener holder;
    ASSERT_EQ(holder.Open("127.0.0.1", 0), CTcpListener::Error::kNone);
    const std::uint16_t base = holder.Port();
    MakeClient(base);

    Deliver({HeaderFrame(kMatch, Header())});
    EXPECT_EQ(m_notices.Texts(), std::vector<std::string>{"Stream socket bind error"});
    EXPECT_EQ(m_client->HostPort(kMatch), base);
    // The same match again: the next port, the old one is not given back.
    Deliver({HeaderFrame(kMatch, Header())});
    EXPECT_EQ(m_client->HostPort(kMatch), static_cast<std::uint16_t>(base + 1));
    EXPECT_EQ(m_client->HostsStarted(), 2u);
}

// --- Data chunks ------------------------------------------------------------------------------

struct ChunkRow
{
    const char* m_name;
    std::function<Bytes()> m_frame;
    std::uint32_t m_streamSize;
    bool m_endOfStream;
    const char* m_lengthText; // the catalogue's, which starts at 10 seconds
    std::vector<std::string> m_notices;
};

Bytes Payload(const Bytes& frame)
{
    return Bytes(frame.begin() + kFrameLengthBytes + 1, frame.end());
}

Bytes Reframed(Bytes payload)
{
    return BuildFrame({CodeByte(MessageCode::MSG_GAME_DATA), payload});
}

class ChunkRoutingTest : public MatchDownloadTest, public ::testing::WithParamInterface<ChunkRow>
{
};

TEST_P(ChunkRoutingTest, ChunkReachesTheHostAndTheCatalogue)
{
    const ChunkRow& row = GetParam();
    Deliver({BuildMatchRecord(Record(kMatch, 10))});
    const auto host = MakeHost();
    ASSERT_TRUE(host);

    Deliver({row.m_frame()});

    EXPECT_EQ(host->StreamSize(), row.m_streamSize);
    EXPECT_EQ(host->StreamEnded(), row.m_endOfStream);
    EXPECT_EQ(m_client->FindMatch(kMatch)->m_lengthText, row.m_lengthText);
    EXPECT_EQ(m_notices.Texts(), row.m_notices);
    // No game has joined, so no chunk asks for the next one.
    EXPECT_TRUE(m_server.DataRequests().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Chunks, ChunkRoutingTest,
    ::testing::Values(
        ChunkRow{"Full",
                 [] { return ChunkFrame(kMatch, 0, Stream(2000), 65); },
                 2000,
                 false,
                 "1 min:5 sec",
                 {}},
        ChunkRow{"Short",
                 [] { return ChunkFrame(kMatch, 0, Stream(1999), 3930); },
                 1999,
                 false,
                 "1 hr :5 min:30 sec",
                 {}},
        ChunkRow{
            "One", [] { return ChunkFrame(kMatch, 0, Stream(1), 0); }, 1, false, "0 min:0 sec", {}},
        ChunkRow{
            "Empty", [] { return ChunkFrame(kMatch, 0, {}, 65); }, 0, false, "0 min:10 sec", {}},
        ChunkRow{"EndMarker",
                 [] { return ChunkFrame(kMatch, 0, {}, 65, 2001); },
                 0,
                 true,
                 "0 min:10 sec",
                 {}},
        ChunkRow{"EndMarkerWithoutSeconds",
                 [] {
                     return Reframed(Bytes{kMatch, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
                 },
                 0,
                 true,
                 "0 min:10 sec",
                 {}},
        // The host takes only the next bytes of its stream (here, from 0); the length is news
        // all the same.
        ChunkRow{"NotTheNextBytes",
                 [] { return ChunkFrame(kMatch, 4000, Stream(1), 0); },
                 0,
                 false,
                 "0 min:0 sec",
                 {}},
        ChunkRow{"PastTheBuffer",
                 [] { return ChunkFrame(kMatch, kCapacity - 1000, Stream(2000), 65); },
                 0,
                 false,
                 "1 min:5 sec",
                 {}},
        // Frames whose count does not fit them are dropped unread.
        ChunkRow{"DataBeyondTheFrame",
                 [] { return ChunkFrame(kMatch, 0, Stream(1000), 65, 2000); },
                 0,
                 false,
                 "0 min:10 sec",
                 {}},
        ChunkRow{"SecondsMissing",
                 []
                 {
                     Bytes payload = Payload(ChunkFrame(kMatch, 0, Stream(100), 65));
                     payload.resize(payload.size() - 2);
                     return Reframed(payload);
                 },
                 0,
                 false,
                 "0 min:10 sec",
                 {}},
        ChunkRow{"HeadOnly",
                 [] {
                     return Reframed(Bytes{kMatch, 0, 0, 0, 0, 0, 0});
                 },
                 0,
                 false,
                 "0 min:10 sec",
                 {}},
        ChunkRow{"NoHost",
                 [] { return ChunkFrame(kOtherMatch, 0, Stream(2000), 65); },
                 0,
                 false,
                 "0 min:10 sec",
                 {"Invalid replay!"}},
        ChunkRow{"EndMarkerWithoutHost",
                 [] { return ChunkFrame(kOtherMatch, 0, {}, 65, 2001); },
                 0,
                 false,
                 "0 min:10 sec",
                 {"Invalid replay!"}}),
    [](const auto& info) { return std::string(info.param.m_name); });

// An empty chunk never holds the receive thread: other matches' frames on the connection go
// on at once; only the host's next request waits out the hold.
TEST_F(MatchDownloadTest, EmptyChunkNeverHoldsTheReceiveThread)
{
    HostTimings timings = ShortTimings();
    timings.m_emptyChunkHoldMs = 60000;
    m_client->SetHostTimings(timings);
    MakeHost();
    const std::shared_ptr<CLocalGameHost> host = m_client->FindHost(kMatch);
    ASSERT_TRUE(host);

    ASSERT_TRUE(m_server.SendFrames(
        0, {ChunkFrame(kMatch, 0, {}, 0), BuildFrame({CodeByte(MessageCode::MSG_LIST_END), {}})},
        true));
    // Well inside the hold.
    EXPECT_TRUE(m_client->ListEndEvent().Wait(kDeadlineMs));
    EXPECT_TRUE(m_client->HasHost(kMatch));
    EXPECT_FALSE(m_client->ResumeHost(kMatch));
    m_client->CloseHost(kMatch);
    EXPECT_FALSE(m_client->HasHost(kMatch));
}

// --- Streaming while a game watches -----------------------------------------------------------

TEST_F(MatchDownloadTest, FullChunksChainWhileAGameIsConnected)
{
    m_server.AddMatch(Served(7999, 120));
    MakeHost();
    CTcpSocket game = JoinHost();
    ASSERT_TRUE(game.IsValid());

    // 0 from the game's arrival, then one request per full chunk; the 1999-byte chunk asks
    // for nothing.
    const auto host = m_client->FindHost(kMatch);
    ASSERT_TRUE(WaitUntil([&] { return host->StreamSize() == 7999; }));
    Deliver({});
    EXPECT_EQ(m_server.DataRequestOffsets(kMatch),
              (std::vector<std::uint32_t>{0, 2000, 4000, 6000}));
    EXPECT_TRUE(m_notices.Texts().empty());
}

// 64 MiB over loopback, chunk by chunk.
TEST_F(MatchDownloadTest, StreamPastTheBufferEndsAtTheLastChunkThatFits)
{
    m_server.AddMatch(Served(kCapacity + 3000, 60));
    MakeHost();
    CTcpSocket game = JoinHost();
    ASSERT_TRUE(game.IsValid());
    // Kept in the lobby, so that the session streams for as long as the download takes.
    for (const Bytes& packet : {BuildJoinRequest({}), BuildMapReport({})})
        ASSERT_EQ(game.Send(packet.data(), packet.size()), static_cast<int>(packet.size()));

    const std::uint32_t lastFitting = kCapacity / 2000 * 2000;
    const auto host = m_client->FindHost(kMatch);
    ASSERT_TRUE(WaitUntil([&] { return host->StreamEnded(); }, kDeadlineMs * 30));
    Deliver({});

    const auto offsets = m_server.DataRequestOffsets(kMatch);
    ASSERT_EQ(offsets.size(), lastFitting / 2000 + 1);
    EXPECT_EQ(offsets.back(), lastFitting);
    EXPECT_EQ(host->StreamSize(), lastFitting);
}

struct ResumeRow
{
    const char* m_name;
    bool m_joinFirst;  // a game joined
    bool m_gameLeaves; // and left again
    bool m_resumed;
};

class ResumeHostTest : public MatchDownloadTest, public ::testing::WithParamInterface<ResumeRow>
{
};

TEST_P(ResumeHostTest, OnlyAHostWhoseGameHasEndedResumes)
{
    const ResumeRow& row = GetParam();
    m_server.AddMatch(Served(3000, 60));
    EXPECT_FALSE(m_client->ResumeHost(kMatch));
    MakeHost();
    const std::uint16_t port = m_client->HostPort(kMatch).value();

    CTcpSocket game;
    if (row.m_joinFirst)
    {
        game = JoinHost();
        ASSERT_TRUE(m_server.WaitForDataRequest(kMatch, 2000, kDeadlineMs));
        ASSERT_TRUE(WaitUntil([&] { return m_client->FindHost(kMatch)->SessionActive(); }));
    }
    if (row.m_gameLeaves)
    {
        game.Close();
        ASSERT_TRUE(m_client->WaitSessionEnded(kMatch, kDeadlineMs));
    }
    const std::size_t requests = m_server.DataRequests().size();

    EXPECT_EQ(m_client->ResumeHost(kMatch), row.m_resumed);
    EXPECT_EQ(m_client->HostPort(kMatch), port);
    EXPECT_EQ(m_client->HostsStarted(), 1u);
    if (!row.m_resumed)
        return;
    // The next game replays what the host holds: no data request.
    EXPECT_FALSE(m_client->WaitSessionEnded(kMatch, 0));
    CTcpSocket again = JoinHost();
    ASSERT_TRUE(again.IsValid());
    ASSERT_TRUE(WaitUntil([&] { return m_client->FindHost(kMatch)->SessionRan(); }));
    Deliver({});
    EXPECT_EQ(m_server.DataRequests().size(), requests);
    EXPECT_FALSE(m_client->ResumeHost(kMatch));
}

INSTANTIATE_TEST_SUITE_P(States, ResumeHostTest,
                         ::testing::Values(ResumeRow{"NoGameYet", false, false, false},
                                           ResumeRow{"GameRunning", true, false, false},
                                           ResumeRow{"GameEnded", true, true, true}),
                         [](const auto& info) { return std::string(info.param.m_name); });

// The first listener of a new host cannot open (a second copy of the program holds the port):
// the next Watch! opens it, rather than finding a host that neither runs nor has run.
TEST_F(MatchDownloadTest, AHostWhoseFirstListenerFailedListensOnTheNextWatch)
{
    CTcpListener squatter;
    ASSERT_EQ(squatter.Open("127.0.0.1", 0), CTcpListener::Error::kNone);
    const std::uint16_t port = squatter.Port();
    MakeClient(port);
    m_server.AddMatch(Served(3000, 60));
    MakeHost();
    EXPECT_EQ(m_notices.Texts(), std::vector<std::string>{"Stream socket bind error"});
    ASSERT_TRUE(m_client->HasHost(kMatch));
    EXPECT_FALSE(m_client->ResumeHost(kMatch)) << "the port is still taken";
    squatter.Close();
    EXPECT_TRUE(m_client->ResumeHost(kMatch));
    EXPECT_EQ(m_client->HostPort(kMatch), port);
    EXPECT_FALSE(m_client->ResumeHost(kMatch)) << "listening now: nothing to resume";
    CTcpSocket game = JoinHost();
    ASSERT_TRUE(game.IsValid());
    EXPECT_TRUE(WaitUntil([&] { return m_client->FindHost(kMatch)->SessionActive(); }));
}

TEST_F(MatchDownloadTest, ResumeThatCannotListenCanBeTriedAgain)
{
    m_server.AddMatch(Served(3000, 60));
    MakeHost();
    const std::uint16_t port = m_client->HostPort(kMatch).value();
    {
        CTcpSocket game = JoinHost();
        ASSERT_TRUE(WaitUntil([&] { return m_client->FindHost(kMatch)->SessionRan(); }));
    }
    ASSERT_TRUE(m_client->WaitSessionEnded(kMatch, kDeadlineMs));

    // Another program takes the port once the host's listener has let it go.
    CTcpListener squatter;
    ASSERT_TRUE(
        WaitUntil([&] { return squatter.Open("127.0.0.1", port) == CTcpListener::Error::kNone; }));
    EXPECT_FALSE(m_client->ResumeHost(kMatch));
    EXPECT_EQ(m_notices.Texts(), std::vector<std::string>{"Stream socket bind error"});
    squatter.Close();
    EXPECT_TRUE(m_client->ResumeHost(kMatch));
    EXPECT_EQ(m_client->HostPort(kMatch), port);
    EXPECT_TRUE(JoinHost().IsValid());
}

// --- Data requests and the connection ---------------------------------------------------------

struct LossRow
{
    const char* m_name;
    std::function<void(CScriptedMatchServer&, CMatchServerClient&)> m_before;
    std::vector<std::string> m_notices; // after two data requests
};

class ConnectionLossTest : public MatchDownloadTest, public ::testing::WithParamInterface<LossRow>
{
};

TEST_P(ConnectionLossTest, OnlyALostConnectionIsToldOnce)
{
    const LossRow& row = GetParam();
    row.m_before(m_server, *m_client);
    const std::size_t frames = m_server.Frames().size();
    m_client->RequestGameData(kMatch, 0);
    m_client->RequestGameData(kMatch, 0);
    EXPECT_EQ(m_notices.Texts(), row.m_notices);
    EXPECT_EQ(m_server.Frames().size(), frames);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, ConnectionLossTest,
    ::testing::Values(LossRow{"ServerClosed",
                              [](CScriptedMatchServer& server, CMatchServerClient& client)
                              {
                                  server.CloseClient(0);
                                  ASSERT_TRUE(WaitUntil([&] { return !client.IsConnected(); }));
                              },
                              {"Disconnected from server!"}},
                      LossRow{"ChannelRefused",
                              [](CScriptedMatchServer& server, CMatchServerClient& client)
                              {
                                  ASSERT_TRUE(server.Send(0, BuildFrame({0x4A, {}})));
                                  ASSERT_TRUE(client.ChannelInvalidEvent().Wait(kDeadlineMs));
                              },
                              {}},
                      LossRow{"ClosedThenReconnectedAndRefused",
                              [](CScriptedMatchServer& server, CMatchServerClient& client)
                              {
                                  server.CloseClient(0);
                                  ASSERT_TRUE(WaitUntil([&] { return !client.IsConnected(); }));
                                  ASSERT_TRUE(client.Connect("127.0.0.1", server.Port()));
                                  ASSERT_TRUE(server.WaitForClients(2, kDeadlineMs));
                                  ASSERT_TRUE(server.Send(1, BuildFrame({0x4A, {}})));
                                  ASSERT_TRUE(client.ChannelInvalidEvent().Wait(kDeadlineMs));
                              },
                              {}}),
    [](const auto& info) { return std::string(info.param.m_name); });

// --- The Warcraft III folder from Wine's registry ---------------------------------------------
// (On Windows the folder comes from the real registry: tests/platform/WindowsRegistryTest.cpp.)
#ifndef _WIN32

class ScopedWinePrefix
{
public:
    ScopedWinePrefix()
        : m_root(std::filesystem::temp_directory_path() /
                 ("velt-wine-" + std::to_string(std::random_device{}())))
    {
        std::filesystem::create_directories(m_root / "drive_c" / "Games" / "Warcraft III");
        std::filesystem::create_directories(m_root / "dosdevices");
        std::filesystem::create_directories(m_root / "elsewhere" / "War3");
        std::filesystem::create_symlink(m_root / "drive_c", m_root / "dosdevices" / "c:");
        std::filesystem::create_symlink(m_root / "elsewhere", m_root / "dosdevices" / "d:");
        const char* previous = std::getenv("WINEPREFIX");
        m_previous = previous ? std::optional<std::string>(previous) : std::nullopt;
        ::setenv("WINEPREFIX", m_root.c_str(), 1);
    }
    ~ScopedWinePrefix()
    {
        if (m_previous)
            ::setenv("WINEPREFIX", m_previous->c_str(), 1);
        else
            ::unsetenv("WINEPREFIX");
        std::error_code error;
        std::filesystem::remove_all(m_root, error);
    }

    void WriteUserRegistry(const std::string& body)
    {
        std::ofstream(m_root / "user.reg") << "WINE REGISTRY Version 2\n;; All keys relative to "
                                              "\\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
                                           << body;
    }
    std::string Path(const std::string& relative) const { return (m_root / relative).string(); }

private:
    std::filesystem::path m_root;
    std::optional<std::string> m_previous;
};

struct InstallPathRow
{
    const char* m_name;
    std::optional<std::string> m_registry; // user.reg body; none: no file
    std::string m_expected;                // relative to the prefix; empty: no result
};

class InstallPathTest : public ::testing::TestWithParam<InstallPathRow>
{
};

constexpr const char* kKey = "[Software\\\\Blizzard Entertainment\\\\Warcraft III] 1700000000\n";

TEST_P(InstallPathTest, ReadsTheFolderThroughThePrefix)
{
    const InstallPathRow& row = GetParam();
    ScopedWinePrefix prefix;
    if (row.m_registry)
        prefix.WriteUserRegistry(*row.m_registry);
    CMatchServerClient client;
    client.SetWarcraftPath("/before/");

    const std::string result = client.QueryWarcraftInstallPath();
    if (row.m_expected.empty())
    {
        EXPECT_EQ(result, "");
        EXPECT_EQ(client.GetWarcraftPath(), "/before/");
        return;
    }
    EXPECT_EQ(result, prefix.Path(row.m_expected));
    EXPECT_EQ(client.GetWarcraftPath(), result);
}

INSTANTIATE_TEST_SUITE_P(
    Registries, InstallPathTest,
    ::testing::Values(
        InstallPathRow{"NoRegistry", std::nullopt, ""},
        InstallPathRow{"NoKey",
                       std::string("[Software\\\\Other] 1\n\"InstallPathX\"=\"C:\\\\x\"\n"), ""},
        InstallPathRow{"NoValue", std::string(kKey) + "\"InstallPath\"=\"C:\\\\Games\"\n", ""},
        InstallPathRow{"EmptyValue", std::string(kKey) + "\"InstallPathX\"=\"\"\n", ""},
        InstallPathRow{
            "TooLong",
            std::string(kKey) + "\"InstallPathX\"=\"C:\\\\" + std::string(260, 'a') + "\"\n", ""},
        InstallPathRow{"DriveC",
                       std::string(kKey) + "\"InstallPathX\"=\"C:\\\\Games\\\\Warcraft III\"\n",
                       "dosdevices/c:/Games/Warcraft III/"},
        InstallPathRow{"TrailingBackslashAndOtherCase",
                       std::string(kKey) + "\"InstallPathX\"=\"c:\\\\games\\\\WARCRAFT III\\\\\"\n",
                       "dosdevices/c:/Games/Warcraft III/"},
        InstallPathRow{"DriveD", std::string(kKey) + "\"InstallPathX\"=\"D:\\\\War3\"\n",
                       "dosdevices/d:/War3/"}),
    [](const auto& info) { return std::string(info.param.m_name); });
#endif

} // namespace
} // namespace velt
