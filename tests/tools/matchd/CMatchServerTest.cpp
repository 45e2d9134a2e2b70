#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "platform/Thread.h"
#include "platform/UserNotice.h"
#include "server/CMatchServerClient.h"
#include "server/MatchServerMessages.h"
#include "server/MessageCode.h"
#include "tests/doubles/CManualClock.h"
#if !defined(_WIN32)
#include "tests/tools/matchd/CStateLockHolder.h"
#endif
#include "tests/tools/matchd/MatchdTestSupport.h"
#include "tools/matchd/CMatchArchive.h"
#include "tools/matchd/CMatchServer.h"
#include "tools/matchd/CRawMatchClient.h"
#include "tools/matchd/CStatsStore.h"
#include "tools/matchd/MatchdOptions.h"
#include "tools/matchd/SyntheticMatchGenerator.h"
#include "tests/PollUntil.h"
#include "tests/doubles/ClientTestAccess.h"

using namespace velt;
using velt::CManualClock;
using velt::test::kAnswerTimeoutMs;

namespace
{

using Bytes = std::vector<std::uint8_t>;

// Polls a condition that another thread makes true, up to a generous deadline.
bool WaitUntil(const std::function<bool()>& condition)
{
    return velt::test::PollUntil(condition, kAnswerTimeoutMs, 5);
}

Bytes RawFrame(std::uint32_t length, std::uint8_t code, const Bytes& payload)
{
    Bytes bytes = {static_cast<std::uint8_t>(length), static_cast<std::uint8_t>(length >> 8),
                   static_cast<std::uint8_t>(length >> 16), static_cast<std::uint8_t>(length >> 24),
                   code};
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

std::string TempStatePath()
{
    return (std::filesystem::temp_directory_path() /
            ("velt-matchd-state-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name()))
        .string();
}

class MatchServerTest : public ::testing::Test
{
protected:
    void StartServer(std::uint32_t count, std::uint32_t live,
                     std::vector<std::uint32_t> channels = {1}, const std::string& statePath = "",
                     std::size_t maxClients = 256,
                     const std::function<void(MatchServerSettings&)>& adjust = {})
    {
        SyntheticSettings synthetic;
        synthetic.m_seed = 5;
        synthetic.m_count = count;
        synthetic.m_liveCount = live;
        synthetic.m_minSeconds = 200;
        synthetic.m_maxSeconds = 300;
        m_stats = std::make_unique<CStatsStore>();
        m_stats->SetWriteTimings(m_writeTimings);
        ASSERT_TRUE(m_stats->Open(statePath));
        m_archive = std::make_unique<CMatchArchive>(GenerateSyntheticMatches(synthetic), m_clock);
        MatchServerSettings settings;
        settings.m_listenPort = 0;
        settings.m_channels = std::move(channels);
        settings.m_maxClients = maxClients;
        if (adjust)
            adjust(settings);
        m_server = std::make_unique<CMatchServer>(*m_archive, *m_stats, settings);
        ASSERT_TRUE(m_server->Start());
    }

    void StopServer()
    {
        m_server.reset();
        m_archive.reset();
        m_stats.reset();
    }

    // A real client of the program, connected to the stand-in.
    std::unique_ptr<CMatchServerClient> ConnectClient(std::uint32_t channel = 1)
    {
        auto client = std::make_unique<CMatchServerClient>(m_notices);
        client->SetChannelId(channel);
        EXPECT_TRUE(client->Connect("127.0.0.1", m_server->Port()));
        return client;
    }

    CRawMatchClient RawClient()
    {
        CRawMatchClient raw;
        EXPECT_TRUE(raw.Connect("127.0.0.1", m_server->Port()));
        return raw;
    }

    static std::optional<GameDataChunk> AskChunk(CRawMatchClient& raw, std::uint32_t matchId,
                                                 std::uint32_t offset, Bytes& body)
    {
        return raw.RequestChunk(matchId, offset, body, kAnswerTimeoutMs);
    }

    CManualClock m_clock;
    CRecordingNotice m_notices;
    CStatsStore::WriteTimings m_writeTimings;
    std::unique_ptr<CStatsStore> m_stats;
    std::unique_ptr<CMatchArchive> m_archive;
    std::unique_ptr<CMatchServer> m_server;
};

} // namespace

TEST_F(MatchServerTest, ListGivesEveryMatchWithItsStatisticsToTheRealClient)
{
    StartServer(5, 2);
    m_clock.Advance(42000);
    auto client = ConnectClient();
    ASSERT_EQ(client->FetchMatchList(kAnswerTimeoutMs), CMatchServerClient::ListOutcome::kListEnd);
    const auto records = m_archive->Records();
    const auto catalogue = client->CatalogueSnapshot();
    ASSERT_EQ(catalogue.size(), records.size());
    for (const CMatchInfo& want : records)
    {
        const auto got = client->FindMatch(want.m_matchId);
        ASSERT_TRUE(got) << want.m_matchId;
        EXPECT_EQ(got->m_matchName, want.m_matchName);
        EXPECT_EQ(got->m_streamer, want.m_streamer);
        EXPECT_EQ(got->m_playersInfo, want.m_playersInfo);
        EXPECT_EQ(got->m_mapPath, want.m_mapPath);
        EXPECT_EQ(got->m_startTime, want.m_startTime);
        EXPECT_EQ(got->m_length, want.m_length);
        EXPECT_EQ(got->m_status, want.m_status);
        const auto stats = client->FindStats(want.m_matchId);
        ASSERT_TRUE(stats);
        EXPECT_EQ(stats->m_visits, 0u);
    }
    EXPECT_EQ(client->FindMatch(1)->m_status, 0); // live, 42 s in
    EXPECT_EQ(client->FindMatch(1)->m_length, 42u);
    EXPECT_EQ(client->FindMatch(3)->m_status, 1);
    EXPECT_TRUE(m_notices.Texts().empty());
}

TEST_F(MatchServerTest, ChannelsNotServedAreRefused)
{
    const struct
    {
        std::vector<std::uint32_t> m_served;
        std::uint32_t m_asked;
        CMatchServerClient::ListOutcome m_outcome;
    } rows[] = {
        {{1}, 1, CMatchServerClient::ListOutcome::kListEnd},
        {{1}, 2, CMatchServerClient::ListOutcome::kChannelInvalid},
        {{1}, 0, CMatchServerClient::ListOutcome::kChannelInvalid},
        {{1, 7}, 7, CMatchServerClient::ListOutcome::kListEnd},
        {{7}, 1, CMatchServerClient::ListOutcome::kChannelInvalid},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.m_asked);
        StartServer(2, 0, row.m_served);
        auto client = ConnectClient(row.m_asked);
        EXPECT_EQ(client->FetchMatchList(kAnswerTimeoutMs), row.m_outcome);
        const bool refused = row.m_outcome == CMatchServerClient::ListOutcome::kChannelInvalid;
        EXPECT_EQ(client->IsConnected(), !refused);
        EXPECT_EQ(client->CatalogueSnapshot().size(), refused ? 0u : 2u);
        client.reset();
        StopServer();
    }
}

TEST_F(MatchServerTest, HeaderRequestsCountVisitsAndOnlyValidRatingsCount)
{
    StartServer(3, 0, {1, 4});
    auto client = ConnectClient();
    ASSERT_TRUE(client->RequestReplayHeader(2));
    ASSERT_TRUE(client->RequestReplayHeader(2));
    ASSERT_TRUE(client->RequestReplayHeader(3));
    ASSERT_TRUE(client->RequestReplayHeader(99)); // unknown: no header, no visit
    const Bytes goodFive = BuildRateMessage({1, 2, 5});
    const Bytes goodThree = BuildRateMessage({4, 2, 3}); // another served channel
    const Bytes zero = RawFrame(10, 0x4C, {1, 0, 0, 0, 2, 0, 0, 0, 0});
    const Bytes six = RawFrame(10, 0x4C, {1, 0, 0, 0, 2, 0, 0, 0, 6});
    const Bytes otherChannel = BuildRateMessage({9, 2, 5});
    const Bytes unknownMatch = BuildRateMessage({1, 99, 5});
    for (const Bytes* rate : {&goodFive, &goodThree, &zero, &six, &otherChannel, &unknownMatch})
        EXPECT_EQ(ClientTestAccess::Connection(*client).SendRaw(rate->data(), rate->size()), static_cast<int>(rate->size()));
    ASSERT_EQ(client->FetchMatchList(kAnswerTimeoutMs), CMatchServerClient::ListOutcome::kListEnd);
    const struct
    {
        std::uint32_t m_match, m_visits, m_count, m_sum;
    } rows[] = {{1, 0, 0, 0}, {2, 2, 2, 8}, {3, 1, 0, 0}};
    for (const auto& row : rows)
    {
        const auto stats = client->FindStats(row.m_match);
        ASSERT_TRUE(stats) << row.m_match;
        EXPECT_EQ(stats->m_visits, row.m_visits) << row.m_match;
        EXPECT_EQ(stats->m_ratingCount, row.m_count) << row.m_match;
        EXPECT_EQ(stats->m_ratingSum, row.m_sum) << row.m_match;
    }
    EXPECT_FALSE(client->FindStats(99));
    EXPECT_TRUE(client->IsConnected());
}

TEST_F(MatchServerTest, VisitsAndRatingsSurviveARestartWithAStateFile)
{
    if (!CStatsStore::kKeepsFiles)
        GTEST_SKIP() << CStatsStore::kMemoryOnlyMessage;
    const std::string path = TempStatePath();
    StartServer(2, 0, {1}, path);
    {
        auto client = ConnectClient();
        ASSERT_TRUE(client->RequestReplayHeader(1));
        const Bytes rate = BuildRateMessage({1, 1, 4});
        ClientTestAccess::Connection(*client).SendRaw(rate.data(), rate.size());
        ASSERT_EQ(client->FetchMatchList(kAnswerTimeoutMs),
                  CMatchServerClient::ListOutcome::kListEnd);
        EXPECT_EQ(client->FindStats(1)->m_visits, 1u);
    }
    StopServer();
    StartServer(2, 0, {1}, path);
    auto client = ConnectClient();
    ASSERT_TRUE(client->RequestReplayHeader(1));
    ASSERT_EQ(client->FetchMatchList(kAnswerTimeoutMs), CMatchServerClient::ListOutcome::kListEnd);
    EXPECT_EQ(client->FindStats(1)->m_visits, 2u);
    EXPECT_EQ(client->FindStats(1)->m_ratingCount, 1u);
    EXPECT_EQ(client->FindStats(1)->m_ratingSum, 4u);
    client.reset();
    StopServer();
    for (const char* suffix : {"", "-wal", "-shm"})
        std::filesystem::remove(path + suffix);
}

TEST_F(MatchServerTest, HeaderFrameCarriesTheMatchAndUnknownMatchesGetNone)
{
    StartServer(2, 1);
    m_clock.Advance(65000);
    CRawMatchClient raw = RawClient();
    // The unknown match's request goes first; the known one's header is the first answer.
    ASSERT_TRUE(raw.Send(BuildReplayHeaderRequest({77})));
    ASSERT_TRUE(raw.Send(BuildReplayHeaderRequest({1})));
    const auto frame = raw.ReadFrame(kAnswerTimeoutMs);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->at(0), CodeByte(MessageCode::MSG_REPLAY_HEADER));
    EXPECT_EQ(frame->size(), 1757u);
    const auto reply = ParseReplayHeaderReply(std::span(*frame).subspan(1));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->m_matchId, 1u);
    EXPECT_EQ(Bytes(reply->m_header.begin(), reply->m_header.end()), m_archive->Header(1));
    EXPECT_EQ(reply->m_header[52], 0);  // live
    EXPECT_EQ(reply->m_header[50], 65); // 65 s so far
    Bytes body;
    const auto unknown = AskChunk(raw, 77, 0, body);
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->m_count, 0u);
    EXPECT_EQ(body.size(), 15u);
}

TEST_F(MatchServerTest, ChunksAtEveryOffsetAndTheEndMarkerOverTheWire)
{
    StartServer(2, 0);
    const SyntheticMatch& match = *m_archive->Find(2);
    const auto size = static_cast<std::uint32_t>(match.m_stream.size());
    CRawMatchClient raw = RawClient();
    const struct
    {
        std::uint32_t m_offset, m_count;
    } rows[] = {{0, 2000},
                {1, 2000},
                {4000, 2000},
                {size - 2000, 2000},
                {size - 1999, 1999},
                {size - 1, 1},
                {size, kEndOfStreamCount},
                {size + 2000, kEndOfStreamCount}};
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.m_offset);
        Bytes body;
        const auto chunk = AskChunk(raw, 2, row.m_offset, body);
        ASSERT_TRUE(chunk);
        EXPECT_EQ(chunk->m_offset, row.m_offset);
        EXPECT_EQ(chunk->m_count, row.m_count);
        EXPECT_EQ(chunk->m_matchSeconds, match.m_durationMs / 1000);
        const std::size_t dataBytes = row.m_count <= 2000 ? row.m_count : 0;
        EXPECT_EQ(body.size(), 15 + dataBytes); // L = count + 15, the end marker L = 15
        if (dataBytes > 0)
        {
            EXPECT_TRUE(std::equal(chunk->m_data.begin(), chunk->m_data.end(),
                                   match.m_stream.begin() + row.m_offset));
        }
    }
}

TEST_F(MatchServerTest, LiveMatchGrowsOverTheWireUntilItsEndMarker)
{
    StartServer(1, 1);
    const SyntheticMatch& live = *m_archive->Find(1);
    CRawMatchClient raw = RawClient();
    Bytes received;
    std::uint16_t lastSeconds = 0;
    bool ended = false;
    std::size_t emptyAnswers = 0;
    // Whatever the client asks at the live edge, it gets at most what has been played.
    while (!ended)
    {
        Bytes body;
        const auto chunk = AskChunk(raw, 1, static_cast<std::uint32_t>(received.size()), body);
        ASSERT_TRUE(chunk);
        ASSERT_GE(chunk->m_matchSeconds, lastSeconds);
        lastSeconds = chunk->m_matchSeconds;
        if (chunk->m_count > 2000)
            ended = true;
        else
        {
            received.insert(received.end(), chunk->m_data.begin(), chunk->m_data.end());
            ASSERT_LE(received.size(), live.StreamEndAt(m_clock.NowMs() - 1000));
            if (chunk->m_count < 2000)
            {
                emptyAnswers += chunk->m_count == 0;
                m_clock.Advance(20000);
            }
        }
    }
    EXPECT_EQ(received, live.m_stream);
    EXPECT_EQ(lastSeconds, live.m_durationMs / 1000);
    EXPECT_GE(emptyAnswers, 1u);
    EXPECT_GE(m_clock.NowMs() - 1000, live.m_durationMs);
}

TEST_F(MatchServerTest, BadFramesCostOnlyTheirOwnConnection)
{
    StartServer(2, 0);
    auto bystander = ConnectClient();
    ASSERT_EQ(bystander->FetchMatchList(kAnswerTimeoutMs),
              CMatchServerClient::ListOutcome::kListEnd);
    const struct
    {
        const char* m_what;
        Bytes m_bytes;
    } rows[] = {
        {"zero length", RawFrame(0, 0x3F, {})},
        {"oversized length", RawFrame(2049, 0x3E, Bytes(64, 0))},
        {"length of 4 GiB", RawFrame(0xFFFFFFFF, 0x3E, {})},
        {"unknown code 0x00", RawFrame(5, 0x00, {1, 0, 0, 0})},
        {"reply-only code 0x4B", RawFrame(5, 0x4B, {1, 0, 0, 0})},
        {"header request with 3 bytes", RawFrame(4, 0x40, {1, 0, 0})},
        {"data request with 9 bytes", RawFrame(10, 0x3E, Bytes(9, 0))},
        {"a good request, then garbage",
         []
         {
             Bytes bytes = BuildMatchListRequest({1});
             const Bytes garbage = RawFrame(0, 0, {});
             bytes.insert(bytes.end(), garbage.begin(), garbage.end());
             return bytes;
         }()},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.m_what);
        CRawMatchClient raw = RawClient();
        ASSERT_TRUE(raw.Send(row.m_bytes));
        EXPECT_TRUE(raw.ClosedByServer(kAnswerTimeoutMs));
        ASSERT_EQ(bystander->FetchMatchList(kAnswerTimeoutMs),
                  CMatchServerClient::ListOutcome::kListEnd);
        EXPECT_TRUE(bystander->IsConnected());
    }
    EXPECT_TRUE(WaitUntil([&] { return m_server->ActiveClients() == 1; }));
    EXPECT_TRUE(m_notices.Texts().empty());
}

TEST_F(MatchServerTest, FramesSplitAnywhereAreReassembledAndTruncatedOnesCostNothing)
{
    StartServer(1, 0);
    CRawMatchClient raw = RawClient();
    Bytes two = BuildReplayHeaderRequest({1});
    const Bytes data = BuildGameDataRequest({1, 0});
    two.insert(two.end(), data.begin(), data.end());
    for (std::size_t split = 1; split < two.size(); ++split)
    {
        SCOPED_TRACE(split);
        ASSERT_TRUE(raw.Send(std::span(two).first(split)));
        ASSERT_TRUE(raw.Send(std::span(two).subspan(split)));
        const auto header = raw.ReadFrame(kAnswerTimeoutMs);
        const auto chunk = raw.ReadFrame(kAnswerTimeoutMs);
        ASSERT_TRUE(header && chunk);
        EXPECT_EQ(header->at(0), 0x40);
        EXPECT_EQ(chunk->at(0), 0x3E);
    }
    // A body that never completes, then a client that goes away: its thread ends.
    {
        CRawMatchClient truncated = RawClient();
        ASSERT_TRUE(truncated.Send(std::span(data).first(7)));
        EXPECT_TRUE(WaitUntil([&] { return m_server->ActiveClients() == 2; }));
    }
    EXPECT_TRUE(WaitUntil([&] { return m_server->ActiveClients() == 1; }));
}

TEST_F(MatchServerTest, ClientThatVanishesMidStreamCostsNothing)
{
    StartServer(1, 0);
    {
        CRawMatchClient vanishing = RawClient();
        // Asks for the whole stream at once and reads none of it.
        Bytes requests;
        for (std::uint32_t offset = 0; offset < 200000; offset += 2000)
        {
            const Bytes request = BuildGameDataRequest({1, offset});
            requests.insert(requests.end(), request.begin(), request.end());
        }
        ASSERT_TRUE(vanishing.Send(requests));
    }
    CRawMatchClient next = RawClient();
    Bytes body;
    const auto chunk = AskChunk(next, 1, 0, body);
    ASSERT_TRUE(chunk);
    EXPECT_EQ(chunk->m_count, 2000u);
    EXPECT_TRUE(WaitUntil([&] { return m_server->ActiveClients() == 1; }));
}

TEST_F(MatchServerTest, ConnectionsBeyondTheLimitAreClosedAndTold)
{
    std::mutex reportMutex;
    std::vector<std::string> reports;
    StartServer(1, 0, {1}, "", 2,
                [&](MatchServerSettings& settings)
                {
                    settings.m_report = [&](const std::string& line)
                    {
                        std::lock_guard lock(reportMutex);
                        reports.push_back(line);
                    };
                });
    CRawMatchClient first = RawClient();
    CRawMatchClient second = RawClient();
    Bytes body;
    ASSERT_TRUE(AskChunk(first, 1, 0, body));
    ASSERT_TRUE(AskChunk(second, 1, 0, body));
    CRawMatchClient third = RawClient();
    EXPECT_TRUE(third.ClosedByServer(kAnswerTimeoutMs));
    {
        std::lock_guard lock(reportMutex);
        EXPECT_EQ(reports, std::vector<std::string>{
                               "refused 1 connection: the server is full (--max-clients 2)"});
    }
    first.Close();
    ASSERT_TRUE(WaitUntil([&] { return m_server->ActiveClients() == 1; }));
    CRawMatchClient fourth = RawClient();
    EXPECT_TRUE(AskChunk(fourth, 1, 0, body));
}

// One viewer after the other, each closing before the next connects (velt list run again and
// again): the one that left is not yet counted out when the next arrives, and the next must not
// be refused for it.
TEST_F(MatchServerTest, AClientThatFollowsOneThatLeftIsServedAtTheLimit)
{
    StartServer(1, 0, {1}, "", 1);
    std::size_t lists = 0;
    for (int i = 0; i < 200; ++i)
    {
        CMatchServerClient client(m_notices);
        if (client.Connect("127.0.0.1", m_server->Port()) &&
            client.FetchMatchList(kAnswerTimeoutMs) == CMatchServerClient::ListOutcome::kListEnd)
            ++lists;
    }
    EXPECT_EQ(lists, 200u);
    EXPECT_EQ(m_server->Tally().RefusedCount(), 0u);
}

TEST_F(MatchServerTest, FiftyClientsStreamAtOnceAndReceiveIdenticalBytes)
{
    constexpr std::size_t kClients = 50;
    StartServer(1, 0);
    const Bytes& stream = m_archive->Find(1)->m_stream;
    std::vector<Bytes> received(kClients);
    std::vector<std::unique_ptr<CThread>> threads;
    for (std::size_t i = 0; i < kClients; ++i)
    {
        threads.push_back(std::make_unique<CThread>());
        threads.back()->Start(
            [this, &received, i]
            {
                CRawMatchClient raw;
                if (!raw.Connect("127.0.0.1", m_server->Port()))
                    return;
                for (;;)
                {
                    Bytes body;
                    const auto chunk =
                        AskChunk(raw, 1, static_cast<std::uint32_t>(received[i].size()), body);
                    if (!chunk || chunk->m_count == 0 || chunk->m_count > 2000)
                        return;
                    received[i].insert(received[i].end(), chunk->m_data.begin(),
                                       chunk->m_data.end());
                }
            });
    }
    threads.clear(); // joins
    for (std::size_t i = 0; i < kClients; ++i)
        EXPECT_EQ(received[i], stream) << "client " << i;
}

namespace
{

// A viewer that downloads match 1 over and over, checking every byte, until told to stop; it
// never pauses long enough to count as idle.
class Bystander
{
public:
    Bystander(std::uint16_t port, const Bytes& stream) : m_port(port), m_stream(stream) {}
    ~Bystander() { Stop(); }

    void Start()
    {
        ASSERT_TRUE(m_raw.Connect("127.0.0.1", m_port));
        m_thread.Start([this] { Run(); });
    }
    void Stop()
    {
        m_stop.store(true);
        m_thread.Join();
    }
    std::size_t Rounds() const { return m_rounds.load(); }
    bool Failed() const { return m_failed.load(); }

private:
    void Run()
    {
        while (!m_stop.load() || m_rounds.load() == 0)
        {
            Bytes received;
            for (;;)
            {
                Bytes body;
                const auto chunk = m_raw.RequestChunk(
                    1, static_cast<std::uint32_t>(received.size()), body, kAnswerTimeoutMs);
                if (!chunk || chunk->m_count == 0)
                {
                    m_failed.store(true);
                    return;
                }
                if (chunk->m_count > 2000)
                    break;
                received.insert(received.end(), chunk->m_data.begin(), chunk->m_data.end());
            }
            if (received != m_stream)
            {
                m_failed.store(true);
                return;
            }
            ++m_rounds;
        }
    }

    const std::uint16_t m_port;
    const Bytes& m_stream;
    CRawMatchClient m_raw;
    CThread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<std::size_t> m_rounds{0};
    std::atomic<bool> m_failed{false};
};

Bytes RepeatedChunkRequests(std::size_t count)
{
    Bytes requests;
    for (std::size_t i = 0; i < count; ++i)
    {
        const Bytes request = BuildGameDataRequest({1, 0});
        requests.insert(requests.end(), request.begin(), request.end());
    }
    return requests;
}

} // namespace

TEST_F(MatchServerTest, IdleAndHostileClientsGoWhileANormalClientIsServed)
{
    enum class Outcome
    {
        kRefused,
        kTimedOut,
        kOverfilled,
        kGone, // the client went first; nothing to count
    };
    const struct
    {
        const char* m_what;
        std::function<void(MatchServerSettings&)> m_limits;
        // What the client does; it may leave a thread behind that ends by itself.
        std::function<void(CRawMatchClient&, CThread&)> m_act;
        Outcome m_outcome;
    } rows[] = {
        {"a connection past the maximum", [](MatchServerSettings& s) { s.m_maxClients = 1; },
         [](CRawMatchClient&, CThread&) {}, Outcome::kRefused},
        {"a request sent a byte at a time (slowloris)",
         [](MatchServerSettings& s)
         { s.m_limits.m_partialFrameTimeout = std::chrono::milliseconds(300); },
         [](CRawMatchClient& raw, CThread& thread)
         {
             // Each byte comes well within the idle time-out, the whole request far too late.
             thread.Start(
                 [&raw]
                 {
                     const Bytes request = BuildGameDataRequest({1, 0});
                     for (std::size_t i = 0; i + 1 < request.size(); ++i)
                     {
                         if (!raw.Send(std::span(request).subspan(i, 1)))
                             return;
                         std::this_thread::sleep_for(std::chrono::milliseconds(300));
                     }
                 });
         },
         Outcome::kTimedOut},
        {"a client that sends nothing",
         [](MatchServerSettings& s) { s.m_limits.m_idleTimeout = std::chrono::milliseconds(1500); },
         [](CRawMatchClient&, CThread&) {}, Outcome::kTimedOut},
        {"a client that asks and never reads",
         [](MatchServerSettings& s) { s.m_limits.m_maxQueuedBytes = 64 * 1024; },
         [](CRawMatchClient& raw, CThread&) { raw.Send(RepeatedChunkRequests(5000)); },
         Outcome::kOverfilled},
        {"a client that vanishes in the middle of its answers", [](MatchServerSettings&) {},
         [](CRawMatchClient& raw, CThread&)
         {
             raw.Send(RepeatedChunkRequests(1000));
             raw.Close();
         },
         Outcome::kGone},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.m_what);
        StartServer(1, 0, {1}, "", 256, row.m_limits);
        Bystander bystander(m_server->Port(), m_archive->Find(1)->m_stream);
        bystander.Start();
        ASSERT_TRUE(WaitUntil([&] { return m_server->ActiveClients() == 1; }));
        CRawMatchClient hostile;
        CThread hostileThread;
        ASSERT_TRUE(hostile.Connect("127.0.0.1", m_server->Port()));
        // The server takes the connection in its own time.
        if (row.m_outcome != Outcome::kRefused)
        {
            ASSERT_TRUE(WaitUntil([&] { return m_server->ActiveClients() == 2; }));
        }
        row.m_act(hostile, hostileThread);
        const CConnectionTally& tally = m_server->Tally();
        const auto count = [&](Outcome outcome) -> std::uint64_t
        {
            switch (outcome)
            {
            case Outcome::kRefused:
                return tally.RefusedCount();
            case Outcome::kTimedOut:
                return tally.TimedOutCount();
            case Outcome::kOverfilled:
                return tally.OverfilledCount();
            case Outcome::kGone:
                break;
            }
            return 0;
        };
        if (row.m_outcome != Outcome::kGone)
        {
            EXPECT_TRUE(WaitUntil([&] { return count(row.m_outcome) == 1; }));
            EXPECT_TRUE(hostile.ClosedByServer(kAnswerTimeoutMs));
        }
        EXPECT_TRUE(WaitUntil([&] { return m_server->ActiveClients() == 1; }));
        hostileThread.Join();
        bystander.Stop();
        EXPECT_FALSE(bystander.Failed());
        EXPECT_GE(bystander.Rounds(), 1u);
        // The bystander was never taken for one of them.
        for (Outcome other : {Outcome::kRefused, Outcome::kTimedOut, Outcome::kOverfilled})
            EXPECT_EQ(count(other), other == row.m_outcome ? 1u : 0u);
        EXPECT_EQ(m_server->ActiveClients(), 1u);
        StopServer();
    }
}

#if !defined(_WIN32)
TEST_F(MatchServerTest, StateFileLockedByAnotherProcessHoldsUpNoAnswerAndLosesNoVisit)
{
    const std::string path = TempStatePath();
    {
        CStatsStore create;
        ASSERT_TRUE(create.Open(path));
    }
    test::CStateLockHolder holder;
    ASSERT_TRUE(holder.Hold(path));
    m_writeTimings.m_lockWaitMs = 20;
    m_writeTimings.m_retryMs = 20;
    StartServer(2, 0, {1}, path);
    auto client = ConnectClient();
    CRawMatchClient raw = RawClient();
    for (int visit = 0; visit < 3; ++visit)
    {
        ASSERT_TRUE(raw.Send(BuildReplayHeaderRequest({2})));
        const auto header = raw.ReadFrame(kAnswerTimeoutMs);
        ASSERT_TRUE(header);
        EXPECT_EQ(header->at(0), 0x40);
    }
    const Bytes rate = BuildRateMessage({1, 2, 4});
    ASSERT_TRUE(raw.Send(rate));
    ASSERT_TRUE(WaitUntil([&] { return m_stats->Stats(2).m_ratingCount == 1; }));
    ASSERT_EQ(client->FetchMatchList(kAnswerTimeoutMs), CMatchServerClient::ListOutcome::kListEnd);
    EXPECT_EQ(client->FindStats(2)->m_visits, 3u);
    EXPECT_EQ(client->FindStats(2)->m_ratingSum, 4u);
    EXPECT_GE(m_stats->PendingMatches(), 1u);
    holder.Release();
    ASSERT_TRUE(WaitUntil([&] { return m_stats->PendingMatches() == 0; }));
    client.reset();
    StopServer();
    CStatsStore reopened;
    ASSERT_TRUE(reopened.Open(path));
    EXPECT_EQ(reopened.Stats(2).m_visits, 3u);
    EXPECT_EQ(reopened.Stats(2).m_ratingSum, 4u);
    for (const char* suffix : {"", "-wal", "-shm"})
        std::filesystem::remove(path + suffix);
}
#endif

TEST(MatchdConnectionOptionsTest, LimitsAreTakenFromTheCommandLineWithinTheirBounds)
{
    const struct
    {
        std::vector<std::string> m_args;
        bool m_ok;
        unsigned m_threads = 0;
        std::size_t m_maxClients = 0;
        long long m_frameMs = 0, m_idleMs = 0;
        std::size_t m_queued = 0;
    } rows[] = {
        {{}, true, 0, 10000, 30000, 600000, 1 << 20},
        {{"--threads", "3", "--max-clients", "20000", "--frame-timeout", "5", "--idle-timeout",
          "60", "--max-queued", "64"},
         true,
         3,
         20000,
         5000,
         60000,
         64 * 1024},
        {{"--threads", "0"}, false},
        {{"--threads", "257"}, false},
        {{"--max-clients", "0"}, false},
        {{"--max-clients", "1000001"}, false},
        {{"--frame-timeout", "0"}, false},
        {{"--idle-timeout", "-1"}, false},
        {{"--max-queued", "15"}, false},
        {{"--max-queued"}, false},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.m_args.empty() ? "defaults" : row.m_args[0] + " " + row.m_args.back());
        std::string error;
        const auto options = ParseMatchdOptions(row.m_args, error);
        ASSERT_EQ(options.has_value(), row.m_ok) << error;
        if (!options)
            continue;
        const MatchServerSettings& server = options->m_server;
        EXPECT_EQ(server.m_threads, row.m_threads);
        EXPECT_EQ(server.m_maxClients, row.m_maxClients);
        EXPECT_EQ(server.m_limits.m_partialFrameTimeout.count(), row.m_frameMs);
        EXPECT_EQ(server.m_limits.m_idleTimeout.count(), row.m_idleMs);
        EXPECT_EQ(server.m_limits.m_maxQueuedBytes, row.m_queued);
    }
}

TEST_F(MatchServerTest, AListLargerThanTheBoundOnUnreadAnswersStillGoesOut)
{
    StartServer(150, 0, {1}, "", 256,
                [](MatchServerSettings& s) { s.m_limits.m_maxQueuedBytes = 16 * 1024; });
    auto client = ConnectClient();
    ASSERT_EQ(client->FetchMatchList(kAnswerTimeoutMs), CMatchServerClient::ListOutcome::kListEnd);
    EXPECT_EQ(client->CatalogueSnapshot().size(), 150u);
    EXPECT_EQ(m_server->Tally().OverfilledCount(), 0u);
}
