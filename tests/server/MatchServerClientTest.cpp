#include "server/CMatchServerClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <thread>

#include "FrameBytes.h"
#include "platform/Socket.h"
#include "server/Framing.h"
#include "server/MatchServerMessages.h"
#include "tests/PollUntil.h"
#include "tests/doubles/CScriptedMatchServer.h"
#include "tests/doubles/ClientTestAccess.h"

namespace velt
{
namespace
{

using test::Bytes;
using test::Concat;
using test::LengthField;
using Plan = CScriptedMatchServer::SendPlan;

// Generous, for a loaded machine; only reached when something is wrong.
constexpr std::uint32_t kDeadlineMs = 10000;

bool WaitUntil(const std::function<bool()>& condition, std::uint32_t timeoutMs = kDeadlineMs)
{
    return test::PollUntil(condition, timeoutMs, 1);
}

CMatchInfo Match(std::uint32_t id, std::string name = "match", std::uint32_t length = 60)
{
    CMatchInfo info;
    info.m_matchId = id;
    info.m_matchName = std::move(name);
    info.m_streamer = "streamer";
    info.m_playersInfo = "A vs B";
    info.m_mapPath = "Maps\\(2)EchoIsles.w3x";
    info.m_length = length;
    info.m_status = 0;
    info.m_startTime = "2009-05-01 20:15";
    return info;
}

MatchStats Stats(std::uint32_t id, std::uint32_t visits, std::uint32_t count, std::uint32_t sum)
{
    return MatchStats{visits, count, sum, id, 0};
}

Bytes RawFrame(std::uint8_t code, const Bytes& payload)
{
    return BuildFrame({code, payload});
}

Bytes PayloadOf(const Bytes& frame)
{
    return Bytes(frame.begin() + 5, frame.end());
}

class MatchServerClientTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SocketLayerStart();
        ASSERT_TRUE(m_server.Start());
    }

    void ConnectClient(std::size_t expectedClients = 1)
    {
        ASSERT_TRUE(m_client.Connect("127.0.0.1", m_server.Port()));
        ASSERT_TRUE(m_client.IsConnected());
        ASSERT_TRUE(m_server.WaitForClients(expectedClients, kDeadlineMs));
    }

    void
    SetList(std::vector<Bytes> frames,
            CScriptedMatchServer::ListEnding ending = CScriptedMatchServer::ListEnding::kListEnd)
    {
        CScriptedMatchServer::ListScript script;
        script.m_frames = std::move(frames);
        script.m_ending = ending;
        m_server.SetListScript(std::move(script));
    }

    // Sends bytes and then MSG_LIST_END, and waits until the client has handled the end: every
    // frame before it has been dispatched by then.
    void SendAndSettle(const Bytes& bytes, const Plan& plan = Plan::Whole())
    {
        ASSERT_TRUE(m_server.Send(m_latestClient, bytes, plan));
        ASSERT_TRUE(m_server.Send(m_latestClient, RawFrame(0x49, {})));
        ASSERT_TRUE(m_client.ListEndEvent().Wait(kDeadlineMs));
    }

    std::vector<std::uint32_t> CatalogueIds() const
    {
        std::vector<std::uint32_t> ids;
        for (const CatalogueEntry& entry : m_client.CatalogueSnapshot())
            ids.push_back(entry.m_info.m_matchId);
        std::sort(ids.begin(), ids.end());
        return ids;
    }

    CMatchServerConnection& Connection() { return ClientTestAccess::Connection(m_client); }

    CRecordingNotice m_notices;
    CScriptedMatchServer m_server;
    CMatchServerClient m_client{m_notices};
    std::size_t m_latestClient = 0;
};

// --- Framing over the wire ------------------------------------------------------------------

struct FramingRow
{
    const char* m_name;
    std::function<Bytes()> m_stream;
    Plan m_plan;
    std::vector<std::uint32_t> m_ids; // records the client must hold afterwards
    std::uint64_t m_dispatched;       // frames dispatched before the closing MSG_LIST_END
};

class FramingOverLoopbackTest : public MatchServerClientTest,
                                public ::testing::WithParamInterface<FramingRow>
{
};

TEST_P(FramingOverLoopbackTest, ReassemblesAndDropsExactly)
{
    const FramingRow& row = GetParam();
    ConnectClient();
    SendAndSettle(row.m_stream(), row.m_plan);
    EXPECT_EQ(CatalogueIds(), row.m_ids);
    // The list end's event is set inside its handler, just before the frame is counted.
    EXPECT_TRUE(WaitUntil([&] { return Connection().FramesDispatched() >= row.m_dispatched + 1; }));
    EXPECT_EQ(Connection().FramesDispatched(), row.m_dispatched + 1);
    EXPECT_TRUE(m_client.IsConnected());
    EXPECT_TRUE(m_notices.Texts().empty());
}

// Junk of a dropped frame: copies of a record that must never be dispatched.
Bytes Junk(std::size_t size)
{
    const Bytes decoy = BuildMatchRecord(Match(666));
    Bytes junk;
    while (junk.size() < size)
        junk.insert(junk.end(), decoy.begin(), decoy.end());
    junk.resize(size);
    return junk;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FramingOverLoopbackTest,
    ::testing::Values(
        FramingRow{"SplitLengthField",
                   [] { return BuildMatchRecord(Match(1)); },
                   Plan::AtCuts({1, 2, 3}),
                   {1},
                   1},
        FramingRow{"SplitBody",
                   [] { return BuildMatchRecord(Match(1)); },
                   Plan::AtCuts({4, 5, 20, 40}),
                   {1},
                   1},
        FramingRow{
            "ByteByByte",
            [] {
                return Concat({BuildMatchRecord(Match(1)), BuildMatchStats(Stats(1, 3, 1, 5))});
            },
            Plan::ByteByByte(0),
            {1},
            2},
        FramingRow{"TwoFramesInOneSegment",
                   [] {
                       return Concat({BuildMatchRecord(Match(1)), BuildMatchRecord(Match(2))});
                   },
                   Plan::Whole(),
                   {1, 2},
                   2},
        FramingRow{"ZeroLengthDropped",
                   [] {
                       return Concat({LengthField(0), BuildMatchRecord(Match(3))});
                   },
                   Plan::Whole(),
                   {3},
                   1},
        FramingRow{"JustOversizeDiscarded",
                   []
                   {
                       return Concat({LengthField(kMaxFrameLength + 1), Junk(kMaxFrameLength + 1),
                                      BuildMatchRecord(Match(4))});
                   },
                   Plan::Whole(),
                   {4},
                   1},
        FramingRow{"LargestDiscardedInPieces",
                   []
                   {
                       return Concat({BuildMatchRecord(Match(5)), LengthField(kMaxDiscardLength),
                                      Junk(kMaxDiscardLength), BuildMatchRecord(Match(6))});
                   },
                   Plan::AtCuts({70, 3000, 40000, 65600}),
                   {5, 6},
                   2}),
    [](const auto& info) { return std::string(info.param.m_name); });

TEST_F(MatchServerClientTest, FrameBeyondTheSkipLimitBreaksTheConnectionSilently)
{
    ConnectClient();
    ASSERT_TRUE(
        m_server.Send(0, Concat({LengthField(kMaxDiscardLength + 1), BuildMatchRecord(Match(1))})));
    EXPECT_TRUE(WaitUntil([&] { return !m_client.IsConnected(); }));
    EXPECT_TRUE(m_server.WaitClientClosed(0, kDeadlineMs));
    EXPECT_TRUE(CatalogueIds().empty());
    EXPECT_TRUE(m_notices.Texts().empty());
}

// --- Dispatch of every code ------------------------------------------------------------------

// A payload that is a well-formed record (match id 0x0A0B0C0D) and, read as statistics,
// names match 0x03040000 (two empty strings, then the low half of the length).
Bytes DualPayload()
{
    CMatchInfo info;
    info.m_matchId = 0x0A0B0C0D;
    info.m_matchName = "ab";
    info.m_length = 0x01020304;
    const Bytes payload = PayloadOf(BuildMatchRecord(info));
    EXPECT_EQ(payload.size(), 20u);
    return payload;
}

constexpr std::uint32_t kDualRecordId = 0x0A0B0C0D;
constexpr std::uint32_t kDualStatsId = 0x03040000;

struct DispatchRow
{
    std::uint8_t m_code;
    bool m_record;
    bool m_stats;
    bool m_listEnd;
    bool m_refused;
    const char* m_notice = nullptr; // the chunk and header handlers' reports of this payload
};

class DispatchTest : public MatchServerClientTest, public ::testing::WithParamInterface<DispatchRow>
{
};

TEST_P(DispatchTest, EachCodeHasOnlyItsEffect)
{
    const DispatchRow& row = GetParam();
    ConnectClient();
    ASSERT_TRUE(m_server.Send(0, RawFrame(row.m_code, DualPayload())));
    ASSERT_TRUE(WaitUntil([&] { return Connection().FramesDispatched() >= 1; }));

    EXPECT_EQ(m_client.FindMatch(kDualRecordId).has_value(), row.m_record);
    EXPECT_EQ(m_client.CatalogueSnapshot().size(), row.m_record ? 1u : 0u);
    EXPECT_EQ(m_client.FindStats(kDualStatsId).has_value(), row.m_stats);
    EXPECT_EQ(m_client.ListEndEvent().IsSet(), row.m_listEnd);
    EXPECT_EQ(m_client.ChannelInvalidEvent().IsSet(), row.m_refused);
    EXPECT_EQ(m_client.IsConnected(), !row.m_refused);
    EXPECT_EQ(m_notices.Texts(),
              row.m_notice ? std::vector<std::string>{row.m_notice} : std::vector<std::string>{});

    // The receive thread goes on after every code, the refusal included.
    m_client.ListEndEvent().Reset();
    SendAndSettle(BuildMatchRecord(Match(77)));
    EXPECT_TRUE(m_client.FindMatch(77).has_value());
    EXPECT_EQ(m_client.IsConnected(), !row.m_refused);
}

INSTANTIATE_TEST_SUITE_P(Codes, DispatchTest,
                         ::testing::Values(DispatchRow{0x00, false, false, false, false},
                                           DispatchRow{0x3D, false, false, false, false},
                                           // An end marker for a match without a host.
                                           DispatchRow{0x3E, false, false, false, false,
                                                       "Invalid replay!"},
                                           DispatchRow{0x3F, true, false, false, false},
                                           DispatchRow{0x40, false, false, false, false,
                                                       "Erro Getting replay header, please "
                                                       "update to latest version of VELT"},
                                           DispatchRow{0x41, false, false, false, false},
                                           DispatchRow{0x43, false, false, false, false},
                                           DispatchRow{0x46, false, false, false, false},
                                           DispatchRow{0x47, false, false, false, true},
                                           DispatchRow{0x48, false, false, false, true},
                                           DispatchRow{0x49, false, false, true, false},
                                           DispatchRow{0x4A, false, false, false, true},
                                           DispatchRow{0x4B, false, true, false, false},
                                           DispatchRow{0x4C, false, false, false, false},
                                           DispatchRow{0x80, false, false, false, false},
                                           DispatchRow{0xFF, false, false, false, false}),
                         [](const auto& info)
                         {
                             char name[8];
                             std::snprintf(name, sizeof name, "Code%02X", info.param.m_code);
                             return std::string(name);
                         });

// --- The list exchange -----------------------------------------------------------------------

TEST_F(MatchServerClientTest, ListEndDeliversRecordsAndStatistics)
{
    SetList({BuildMatchRecord(Match(1, "one", 3930)), BuildMatchStats(Stats(1, 12, 2, 9)),
             BuildMatchRecord(Match(2, "two"))});
    ConnectClient();
    m_client.SetChannelId(7);
    ASSERT_EQ(m_client.FetchMatchList(kDeadlineMs), CMatchServerClient::ListOutcome::kListEnd);

    const auto request = m_server.WaitForFrame(MessageCode::MSG_MATCH_INFO, kDeadlineMs);
    ASSERT_TRUE(request);
    EXPECT_EQ(request->m_payload, (Bytes{7, 0, 0, 0}));

    EXPECT_EQ(CatalogueIds(), (std::vector<std::uint32_t>{1, 2}));
    const auto one = m_client.FindMatch(1);
    ASSERT_TRUE(one);
    EXPECT_EQ(one->m_matchName, "one");
    EXPECT_EQ(one->m_lengthText, "1 hr :5 min:30 sec");
    for (const CatalogueEntry& entry : m_client.CatalogueSnapshot())
    {
        const bool isOne = entry.m_info.m_matchId == 1;
        EXPECT_EQ(VisitsText(entry.m_stats), isOne ? "12" : "Unknown");
        EXPECT_EQ(RatingText(entry.m_stats).m_text, isOne ? "4.5(Hot!)" : "Unrated");
    }

    // An answer with nothing but the end leaves the catalogue as it was.
    SetList({});
    ASSERT_EQ(m_client.FetchMatchList(kDeadlineMs), CMatchServerClient::ListOutcome::kListEnd);
    EXPECT_EQ(CatalogueIds(), (std::vector<std::uint32_t>{1, 2}));
}

class RefusalCodeTest : public MatchServerClientTest,
                        public ::testing::WithParamInterface<std::uint8_t>
{
};

TEST_P(RefusalCodeTest, RefusalEndsTheWaitAndClearsConnectedButKeepsTheSocket)
{
    CScriptedMatchServer::ListScript script;
    script.m_frames = {BuildMatchRecord(Match(1))};
    script.m_ending = CScriptedMatchServer::ListEnding::kChannelInvalid;
    script.m_refusalCode = GetParam();
    m_server.SetListScript(script);
    ConnectClient();
    EXPECT_EQ(m_client.FetchMatchList(kDeadlineMs),
              CMatchServerClient::ListOutcome::kChannelInvalid);
    EXPECT_FALSE(m_client.IsConnected());
    EXPECT_EQ(Connection().ReceiveThreadsRunning(), 1u);
    EXPECT_FALSE(m_server.WaitClientClosed(0, 100));
    EXPECT_TRUE(m_notices.Texts().empty());
}

INSTANTIATE_TEST_SUITE_P(Codes, RefusalCodeTest, ::testing::Values(0x47, 0x48, 0x4A));

TEST_F(MatchServerClientTest, RefusalSignalledBeforeTheWaitWinsOverTheListEnd)
{
    SetList({BuildMatchRecord(Match(1))});
    ConnectClient();
    // Nobody waits when the refusal comes.
    ASSERT_TRUE(m_server.Send(0, RawFrame(0x4A, {})));
    ASSERT_TRUE(WaitUntil([&] { return !m_client.IsConnected(); }));

    EXPECT_EQ(m_client.FetchMatchList(kDeadlineMs),
              CMatchServerClient::ListOutcome::kChannelInvalid);
    // The list end of that request arrives afterwards; the next exchange starts afresh.
    ASSERT_TRUE(m_server.WaitForFrame(MessageCode::MSG_MATCH_INFO, kDeadlineMs, 0));
    EXPECT_EQ(m_client.FetchMatchList(kDeadlineMs), CMatchServerClient::ListOutcome::kListEnd);
    EXPECT_EQ(CatalogueIds(), (std::vector<std::uint32_t>{1}));
}

TEST_F(MatchServerClientTest, SilentServerTimesOut)
{
    SetList({BuildMatchRecord(Match(1))}, CScriptedMatchServer::ListEnding::kSilence);
    ConnectClient();
    EXPECT_EQ(m_client.FetchMatchList(200), CMatchServerClient::ListOutcome::kTimeOut);
    EXPECT_TRUE(m_server.WaitForFrame(MessageCode::MSG_MATCH_INFO, kDeadlineMs));
    EXPECT_TRUE(m_client.IsConnected());
}

// --- Records and statistics ------------------------------------------------------------------

TEST_F(MatchServerClientTest, RecordLengthRuleReportsAndDrops)
{
    ConnectClient();
    const Bytes eighteen = PayloadOf(BuildMatchRecord(CMatchInfo{}));
    ASSERT_EQ(eighteen.size(), 18u);
    Bytes nineteen = eighteen;
    nineteen.push_back(0);
    nineteen[0] = 9; // another match id, so that the rejected one cannot hide behind the first
    const Bytes seventeen(eighteen.begin(), eighteen.end() - 1);

    SendAndSettle(
        Concat({RawFrame(0x3F, eighteen), RawFrame(0x3F, nineteen), RawFrame(0x3F, seventeen)}));
    EXPECT_EQ(CatalogueIds(), (std::vector<std::uint32_t>{0}));
    EXPECT_EQ(m_notices.Texts(),
              (std::vector<std::string>{"error information 18 19", "error information 18 17"}));
}

TEST_F(MatchServerClientTest, NewerFramesReplaceByMatchId)
{
    ConnectClient();
    SendAndSettle(
        Concat({BuildMatchRecord(Match(5, "first", 10)), BuildMatchStats(Stats(5, 1, 1, 1)),
                BuildMatchRecord(Match(5, "second", 3600)), BuildMatchStats(Stats(5, 2, 2, 8))}));
    const auto entries = m_client.CatalogueSnapshot();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].m_info.m_matchName, "second");
    EXPECT_EQ(entries[0].m_info.m_lengthText, "1 hr :0 min:0 sec");
    ASSERT_TRUE(entries[0].m_stats);
    EXPECT_EQ(entries[0].m_stats->m_visits, 2u);
    EXPECT_EQ(RatingText(entries[0].m_stats).m_text, "4.0");
}

TEST_F(MatchServerClientTest, ShortStatisticsAreDropped)
{
    ConnectClient();
    const Bytes full = PayloadOf(BuildMatchStats(Stats(8, 4, 1, 5)));
    SendAndSettle(RawFrame(0x4B, Bytes(full.begin(), full.end() - 1)));
    EXPECT_FALSE(m_client.FindStats(8));
    Bytes longer = full;
    longer.push_back(0xFF);
    SendAndSettle(RawFrame(0x4B, longer));
    const auto stats = m_client.FindStats(8);
    ASSERT_TRUE(stats);
    EXPECT_EQ(stats->m_visits, 4u);
    EXPECT_TRUE(m_notices.Texts().empty());
}

// Readers take snapshots while the receive thread writes; every entry must be whole.
TEST_F(MatchServerClientTest, SnapshotsStayConsistentWhileRecordsArrive)
{
    constexpr std::uint32_t kMatches = 400;
    std::vector<Bytes> frames;
    for (std::uint32_t id = 0; id < kMatches; ++id)
    {
        frames.push_back(BuildMatchRecord(Match(id, "match " + std::to_string(id), id * 61)));
        frames.push_back(BuildMatchStats(Stats(id, id, 1, 5)));
    }
    ConnectClient();
    std::atomic<bool> done{false};
    std::thread writer(
        [&]
        {
            m_server.SendFrames(0, frames, true, Plan::AtCuts({1000, 5000, 9000, 15000}));
            m_server.Send(0, RawFrame(0x49, {}));
            done = true;
        });
    bool whole = true;
    while (!m_client.ListEndEvent().Wait(0))
    {
        for (const CatalogueEntry& entry : m_client.CatalogueSnapshot())
        {
            whole = whole &&
                    entry.m_info.m_matchName == "match " + std::to_string(entry.m_info.m_matchId);
            whole = whole && entry.m_info.m_lengthText == LengthText(entry.m_info.m_length);
            whole = whole && (!entry.m_stats || entry.m_stats->m_matchId == entry.m_info.m_matchId);
        }
    }
    writer.join();
    EXPECT_TRUE(done);
    EXPECT_TRUE(whole);
    EXPECT_EQ(m_client.CatalogueSnapshot().size(), kMatches);
}

// --- Reconnecting ----------------------------------------------------------------------------

TEST_F(MatchServerClientTest, ReconnectsAfterTheServerCloses)
{
    ConnectClient();
    m_server.CloseClient(0);
    ASSERT_TRUE(WaitUntil([&] { return !m_client.IsConnected(); }));
    ASSERT_TRUE(WaitUntil([&] { return Connection().ReceiveThreadsRunning() == 0; }));
    EXPECT_TRUE(m_notices.Texts().empty());

    SetList({BuildMatchRecord(Match(3))});
    m_latestClient = 1;
    ConnectClient(2);
    EXPECT_EQ(m_client.FetchMatchList(kDeadlineMs), CMatchServerClient::ListOutcome::kListEnd);
    EXPECT_EQ(CatalogueIds(), (std::vector<std::uint32_t>{3}));
}

TEST_F(MatchServerClientTest, ReconnectsAfterARefusalAndClosesTheOldSocket)
{
    SetList({}, CScriptedMatchServer::ListEnding::kChannelInvalid);
    ConnectClient();
    ASSERT_EQ(m_client.FetchMatchList(kDeadlineMs),
              CMatchServerClient::ListOutcome::kChannelInvalid);

    SetList({BuildMatchRecord(Match(4))});
    ConnectClient(2);
    EXPECT_TRUE(m_server.WaitClientClosed(0, kDeadlineMs));
    EXPECT_EQ(m_client.FetchMatchList(kDeadlineMs), CMatchServerClient::ListOutcome::kListEnd);
    EXPECT_EQ(CatalogueIds(), (std::vector<std::uint32_t>{4}));
    EXPECT_EQ(m_server.Frames().back().m_client, 1u);
}

class StaleThreadTest : public MatchServerClientTest, public ::testing::WithParamInterface<bool>
{
};

// The replaced connection's receive thread ends after the new connection is up; it must not
// clear the new connection's flag.
TEST_P(StaleThreadTest, EndingOldThreadLeavesTheNewConnectionUp)
{
    const bool refusedFirst = GetParam();
    ConnectClient();
    if (refusedFirst)
    {
        ASSERT_TRUE(m_server.Send(0, RawFrame(0x4A, {})));
        ASSERT_TRUE(WaitUntil([&] { return !m_client.IsConnected(); }));
    }
    ASSERT_EQ(Connection().ReceiveThreadsRunning(), 1u);
    ConnectClient(2);
    ASSERT_TRUE(m_server.WaitClientClosed(0, kDeadlineMs));
    ASSERT_TRUE(WaitUntil([&] { return Connection().ReceiveThreadsRunning() == 1; }));
    EXPECT_TRUE(m_client.IsConnected());

    // Frames from the old server side no longer reach the client.
    m_server.Send(0, RawFrame(0x4A, {}));
    m_latestClient = 1;
    SendAndSettle(BuildMatchRecord(Match(6)));
    EXPECT_TRUE(m_client.IsConnected());
    EXPECT_EQ(m_client.ChannelInvalidEvent().IsSet(), refusedFirst);
    EXPECT_TRUE(m_client.FindMatch(6));
}

INSTANTIATE_TEST_SUITE_P(Ways, StaleThreadTest, ::testing::Values(false, true),
                         [](const auto& info)
                         { return std::string(info.param ? "AfterRefusal" : "WhileConnected"); });

TEST_F(MatchServerClientTest, ConnectFailuresLeaveTheClientDisconnected)
{
    CTcpListener closed;
    ASSERT_EQ(closed.Open("127.0.0.1", 0), CTcpListener::Error::kNone);
    const std::uint16_t deadPort = closed.Port();
    closed.Close();
    ConnectClient();
    EXPECT_FALSE(m_client.Connect("127.0.0.1", deadPort));
    EXPECT_FALSE(m_client.IsConnected());
    EXPECT_TRUE(m_server.WaitClientClosed(0, kDeadlineMs));
    EXPECT_FALSE(m_client.Connect("stream.example", m_server.Port()));
    EXPECT_FALSE(m_client.IsConnected());
    EXPECT_TRUE(m_notices.Texts().empty());
}

// --- The send path ---------------------------------------------------------------------------

TEST_F(MatchServerClientTest, RequestsCarryTheirFields)
{
    ConnectClient();
    m_client.SetChannelId(3);
    EXPECT_TRUE(m_client.RequestReplayHeader(99));
    m_client.RequestGameData(99, 4000);
    const Bytes rate = BuildRateMessage({m_client.GetChannelId(), 99, 0});
    EXPECT_EQ(Connection().SendRaw(rate.data(), rate.size()), 14);

    const auto header = m_server.WaitForFrame(MessageCode::MSG_REPLAY_HEADER, kDeadlineMs);
    const auto data = m_server.WaitForFrame(MessageCode::MSG_GAME_DATA, kDeadlineMs);
    const auto rating = m_server.WaitForFrame(MessageCode::MSG_RATE, kDeadlineMs);
    ASSERT_TRUE(header && data && rating);
    EXPECT_EQ(header->m_payload, (Bytes{99, 0, 0, 0}));
    EXPECT_EQ(data->m_payload, (Bytes{99, 0, 0, 0, 0xA0, 0x0F, 0, 0}));
    EXPECT_EQ(rating->m_payload, (Bytes{3, 0, 0, 0, 99, 0, 0, 0, 1}));
    EXPECT_TRUE(m_notices.Texts().empty());
}

TEST_F(MatchServerClientTest, GameDataRequestWhileNotConnectedSendsAndShowsNothing)
{
    ConnectClient();
    ASSERT_TRUE(m_server.Send(0, RawFrame(0x4A, {})));
    ASSERT_TRUE(WaitUntil([&] { return !m_client.IsConnected(); }));
    m_client.RequestGameData(1, 0);
    // The socket is still open: a list request, which does not look at the flag, goes out
    // behind where a data request would have been.
    EXPECT_TRUE(m_client.RequestMatchList());
    ASSERT_TRUE(m_server.WaitForFrame(MessageCode::MSG_MATCH_INFO, kDeadlineMs));
    EXPECT_EQ(m_server.FrameCount(MessageCode::MSG_GAME_DATA), 0u);
    EXPECT_EQ(m_server.Frames().size(), 1u);
    EXPECT_TRUE(m_notices.Texts().empty());
}

TEST_F(MatchServerClientTest, RequestsWithoutAConnectionFailQuietly)
{
    EXPECT_FALSE(m_client.RequestMatchList());
    EXPECT_FALSE(m_client.RequestReplayHeader(1));
    m_client.RequestGameData(1, 0);
    const Bytes rate = BuildRateMessage({1, 1, 5});
    EXPECT_EQ(Connection().SendRaw(rate.data(), rate.size()), -1);
    EXPECT_FALSE(m_client.IsConnected());
    // Without a connection there is nothing to wait for.
    EXPECT_EQ(m_client.FetchMatchList(60000), CMatchServerClient::ListOutcome::kConnectionLost);
    EXPECT_TRUE(m_notices.Texts().empty());
}

// --- The Warcraft III folder -----------------------------------------------------------------

#ifndef _WIN32
// Wine's drive mapping, and so the Windows-form rows, exist only on the Linux side.
TEST(WarcraftFolderTest, MapPathsAreFoundBelowTheFolder)
{
    namespace fs = std::filesystem;
    // Unique per run, so that parallel runs of the suite do not share the folder.
    const fs::path root =
        fs::temp_directory_path() / ("velt-folder-" + std::to_string(std::random_device{}()));
    const fs::path maps = fs::path("Maps") / "FrozenThrone";
    fs::create_directories(root / "War3" / maps);
    std::ofstream(root / "War3" / maps / "(2)EchoIsles.w3x") << "map";
    const std::string war3 = (root / "War3").string();
    // The same install seen through Wine's drive C: of a prefix without dosdevices links.
    const fs::path prefix = root / "prefix";
    fs::create_directories(prefix / "drive_c" / "Games" / "Warcraft III" / maps);
    std::ofstream(prefix / "drive_c" / "Games" / "Warcraft III" / maps / "(2)EchoIsles.w3x")
        << "map";
    const char* oldPrefix = std::getenv("WINEPREFIX");
    const std::string savedPrefix = oldPrefix != nullptr ? oldPrefix : "";
    ::setenv("WINEPREFIX", prefix.c_str(), 1);

    struct Row
    {
        std::string m_folder;
        std::string m_path;
        bool m_exists;
    };
    const Row rows[] = {
        {war3 + "/", "Maps\\FrozenThrone\\(2)EchoIsles.w3x", true},
        {war3 + "/", "maps/frozenthrone/(2)echoisles.W3X", true},
        {war3, "\\Maps\\FrozenThrone\\(2)EchoIsles.w3x", true},
        // A typed folder without its closing separator still meets the map path at one.
        {war3, "Maps\\FrozenThrone\\(2)EchoIsles.w3x", true},
        {war3 + "/", "Maps\\FrozenThrone\\(4)LostTemple.w3x", false},
        {war3 + "/", "Maps\\FrozenThrone", false},
        {war3 + "/", "", false},
        // Windows-form folders, as typed or as the registry gives them.
        {"C:\\Games\\Warcraft III", "Maps\\FrozenThrone\\(2)EchoIsles.w3x", true},
        {"c:\\games\\warcraft iii\\", "Maps\\FrozenThrone\\(2)EchoIsles.w3x", true},
        {"C:/Games/Warcraft III/", "maps/frozenthrone/(2)echoisles.w3x", true},
        {"C:\\Games\\Warcraft III", "Maps\\FrozenThrone\\(4)LostTemple.w3x", false},
        {"D:\\Games\\Warcraft III", "Maps\\FrozenThrone\\(2)EchoIsles.w3x", false},
    };
    CMatchServerClient client;
    for (const Row& row : rows)
    {
        client.SetWarcraftPath(row.m_folder);
        EXPECT_EQ(client.MapFileExists(row.m_path), row.m_exists) << row.m_folder << row.m_path;
    }
    if (oldPrefix != nullptr)
        ::setenv("WINEPREFIX", savedPrefix.c_str(), 1);
    else
        ::unsetenv("WINEPREFIX");
    fs::remove_all(root);
}
#endif

TEST(WarcraftFolderTest, FolderIsCutToTheFieldSize)
{
    CMatchServerClient client;
    client.SetWarcraftPath(std::string(400, 'x'));
    EXPECT_EQ(client.GetWarcraftPath().size(), CMatchServerClient::kMaxWarcraftPathLength);
    client.SetWarcraftPath("C:\\Games\\Warcraft III\\");
    EXPECT_EQ(client.GetWarcraftPath(), "C:\\Games\\Warcraft III\\");
}

} // namespace
} // namespace velt
