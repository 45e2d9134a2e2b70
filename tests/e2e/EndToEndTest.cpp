// A match watched from end to end over loopback: the scripted match server, the real client
// with its local game hosts, and the game simulator in Warcraft III's place.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <thread>

#include "host/CLocalGameHost.h"
#include "host/ReplayHeaderBuilder.h"
#include "host/packets/GamePacketFramer.h"
#include "host/packets/PlayPackets.h"
#include "platform/Socket.h"
#include "server/CMatchServerClient.h"
#include "server/MatchServerMessages.h"
#include "tests/PollUntil.h"
#include "tests/doubles/CScriptedMatchServer.h"
#include "tests/doubles/WatchRig.h"
#include "tools/gamesim/CGameSimulator.h"
#include "tools/matchd/SyntheticMatchGenerator.h"

namespace velt
{
namespace
{

using ScriptedMatch = CScriptedMatchServer::ScriptedMatch;

// Generous, for a loaded machine (and a sanitizer build); only reached when something is wrong.
constexpr std::uint32_t kDeadlineMs = 60000;
constexpr std::uint32_t kMatchSeconds = 60;

// The host's intervals, shortened so that a session takes a fraction of a second, except the
// waits whose expiry would end a session by mistake on a slow machine.
HostTimings E2eTimings()
{
    HostTimings timings;
    timings.m_announceIntervalMs = 50;
    timings.m_dataWaitMs = 10000;
    timings.m_emptyChunkHoldMs = 100;
    timings.m_haltPeriodMs = 50;
    timings.m_bufferingHaltMs = 100;
    timings.m_startPauseMs = 50;
    timings.m_stopWaitMs = 200;
    timings.m_requestRetryMs = 300;
    return timings;
}

bool WaitUntil(const std::function<bool()>& condition, std::uint32_t timeoutMs = kDeadlineMs)
{
    return test::PollUntil(condition, timeoutMs);
}

bool Contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The whole packets at the front of a stream, up to the first that is cut or malformed.
std::vector<std::vector<std::uint8_t>> SplitGamePackets(std::span<const std::uint8_t> stream)
{
    std::vector<std::vector<std::uint8_t>> packets;
    for (;;)
    {
        const GameFrame frame = FrameGamePacket(stream);
        if (frame.m_kind != GameFrame::Kind::kWhole)
            return packets;
        packets.emplace_back(stream.begin(),
                             stream.begin() + static_cast<std::ptrdiff_t>(frame.m_length));
        stream = stream.subspan(frame.m_length);
    }
}

// The time slots a stream carries and their game time.
struct SlotTally
{
    std::uint32_t m_slots = 0;
    std::uint64_t m_gameTimeMs = 0;
};

SlotTally TallySlots(const std::vector<std::uint8_t>& stream, std::size_t end)
{
    SlotTally tally;
    for (const auto& packet : SplitGamePackets(std::span(stream).first(end)))
    {
        if (HasGamePacketType(packet, GamePacketType::kIncomingAction))
        {
            ++tally.m_slots;
            tally.m_gameTimeMs += ReadTimeSlot(packet).m_intervalMs;
        }
    }
    return tally;
}

// A run of free TCP ports on 127.0.0.1, held only for the moment of the look.
std::uint16_t FreePortRun(std::uint16_t count)
{
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        CTcpListener first;
        if (first.Open("127.0.0.1", 0) != CTcpListener::Error::kNone)
            continue;
        const std::uint16_t base = first.Port();
        if (base > 65535 - count)
            continue;
        std::vector<std::unique_ptr<CTcpListener>> rest;
        bool free = true;
        for (std::uint16_t i = 1; i < count && free; ++i)
        {
            rest.push_back(std::make_unique<CTcpListener>());
            free = rest.back()->Open("127.0.0.1", static_cast<std::uint16_t>(base + i)) ==
                   CTcpListener::Error::kNone;
        }
        if (free)
            return base;
    }
    return 0;
}

// A Warcraft III folder that holds one map, so that the lobby lets the game start.
class ScopedWarcraftFolder
{
public:
    explicit ScopedWarcraftFolder(const std::string& mapPath)
        : m_root(std::filesystem::temp_directory_path() /
                 ("velt-e2e-" + std::to_string(std::random_device{}())))
    {
        std::string relative = mapPath;
        std::replace(relative.begin(), relative.end(), '\\', '/');
        const std::filesystem::path map = m_root / relative;
        std::filesystem::create_directories(map.parent_path());
        std::ofstream(map) << "map";
    }
    ~ScopedWarcraftFolder()
    {
        std::error_code error;
        std::filesystem::remove_all(m_root, error);
    }
    std::string Folder() const { return m_root.string() + "/"; }

private:
    std::filesystem::path m_root;
};

// A viewer who joins and leaves in the lobby.
GameSimScript LeavingInLobby(std::uint16_t announcePort = 0)
{
    GameSimScript script;
    script.m_announcePort = announcePort;
    script.m_leaveInLobby = true;
    return script;
}

SyntheticMatch MakeMatch(bool live)
{
    SyntheticSettings settings;
    settings.m_seed = 4;
    settings.m_count = 1;
    settings.m_liveCount = live ? 1 : 0;
    settings.m_minSeconds = kMatchSeconds;
    settings.m_maxSeconds = kMatchSeconds;
    return GenerateSyntheticMatch(settings, 0);
}

class EndToEndTest : public ::testing::Test, protected test::WatchRig
{
protected:
    void SetUp() override
    {
        SocketLayerStart();
        ASSERT_TRUE(m_server.Start());
        UseMatch(MakeMatch(false));
        ASSERT_GT(m_match.m_stream.size(), 4 * kFullChunkSize);
    }

    // The client's hosts and the game go before the server, the notices and the folder.
    void TearDown() override { StopViewer(); }

    // The match the server serves, and its map in the Warcraft III folder.
    void UseMatch(SyntheticMatch match)
    {
        m_match = std::move(match);
        m_matchId = m_match.m_info.m_matchId;
        m_folder = std::make_unique<ScopedWarcraftFolder>(m_match.m_info.m_mapPath);
        m_server.AddMatch(Served(m_match));
    }

    static ScriptedMatch Served(const SyntheticMatch& match)
    {
        ScriptedMatch served;
        served.m_matchId = match.m_info.m_matchId;
        served.m_header = match.m_header;
        served.m_stream = match.m_stream;
        served.m_available = static_cast<std::uint32_t>(match.m_stream.size());
        served.m_matchSeconds = static_cast<std::uint16_t>(match.m_durationMs / 1000);
        return served;
    }

    // The game first: its announcement port is the client's.
    CGameSimulator& StartGame(GameSimScript script = {})
    {
        script.m_keepPackets = false;
        EXPECT_TRUE(test::WatchRig::StartGame(std::move(script)));
        return *m_game;
    }

    // Announcing to the game's port unless another is given.
    CMatchServerClient& MakeClient(std::uint16_t firstGamePort = 0, std::uint16_t announcePort = 0)
    {
        CMatchServerClient& client = test::WatchRig::MakeClient(
            m_notices, E2eTimings(), LocalPortSettings{announcePort, firstGamePort});
        client.SetWarcraftPath(m_folder->Folder());
        EXPECT_TRUE(Connect(m_server.Port()));
        return client;
    }

    // Watch! on the match: the header when the client holds no host, else a resumed host.
    void Watch()
    {
        if (m_client->HasHost(m_matchId))
            ASSERT_TRUE(m_client->ResumeHost(m_matchId));
        else
            ASSERT_TRUE(m_client->RequestReplayHeader(m_matchId));
        ASSERT_TRUE(m_client->WaitForHost(m_matchId, kDeadlineMs));
    }

    // Plays the session to its end and checks that the game saw the whole stream.
    void ExpectWholeMatchPlayed()
    {
        ASSERT_TRUE(m_game->WaitFinished(kDeadlineMs));
        ASSERT_TRUE(m_client->WaitSessionEnded(m_matchId, kDeadlineMs));
        const GameSimRecord record = m_game->Record();
        const SlotTally stream = TallySlots(m_match.m_stream, m_match.m_stream.size());
        EXPECT_TRUE(record.m_gameStarted);
        EXPECT_EQ(record.m_timeSlots - record.m_emptyTimeSlots, stream.m_slots);
        EXPECT_EQ(record.m_gameTimeMs, stream.m_gameTimeMs);
        EXPECT_EQ(record.m_checksumErrors, 0u);
        EXPECT_EQ(record.m_malformedPackets, 0u);
        EXPECT_FALSE(record.m_streamCorrupt);
        // The stream ended and everything was fed: the host says goodbye.
        EXPECT_TRUE(record.m_leaveAckReceived);
    }

    SyntheticMatch m_match;
    std::unique_ptr<ScopedWarcraftFolder> m_folder;
    std::uint32_t m_matchId = 0;
    CRecordingNotice m_notices;
    CScriptedMatchServer m_server;
};

TEST_F(EndToEndTest, CompletedMatchStreamsChunkAfterChunkWhileItPlays)
{
    StartGame();
    MakeClient();
    CScriptedMatchServer::ListScript list;
    list.m_frames.push_back(BuildMatchRecord(m_match.m_info));
    m_server.SetListScript(list);
    ASSERT_EQ(m_client->FetchMatchList(kDeadlineMs), CMatchServerClient::ListOutcome::kListEnd);
    Watch();
    ExpectWholeMatchPlayed();

    // From the game's arrival at 0, full chunk after full chunk; the feed's own requests ask
    // for the same offsets or for the end.
    const std::uint32_t size = static_cast<std::uint32_t>(m_match.m_stream.size());
    std::vector<std::uint32_t> distinct;
    for (std::uint32_t offset : m_server.DataRequestOffsets(m_matchId))
        if (std::find(distinct.begin(), distinct.end(), offset) == distinct.end())
            distinct.push_back(offset);
    std::vector<std::uint32_t> expected;
    for (std::uint32_t offset = 0; offset <= size; offset += kFullChunkSize)
        expected.push_back(offset);
    if (size % kFullChunkSize != 0)
        expected.push_back(size);
    EXPECT_EQ(distinct, expected);

    const auto host = m_client->FindHost(m_matchId);
    EXPECT_EQ(host->StreamSize(), size);
    EXPECT_TRUE(host->StreamEnded());
    EXPECT_EQ(m_client->FindMatch(m_matchId)->m_lengthText,
              LengthText(m_match.m_durationMs / 1000));
    EXPECT_TRUE(m_notices.Texts().empty());
}

TEST_F(EndToEndTest, WatchAgainReplaysTheBufferWithoutAskingTheServer)
{
    const std::uint16_t announcePort = StartGame().AnnouncePort();
    MakeClient();
    Watch();
    ExpectWholeMatchPlayed();
    const std::uint16_t port = m_client->HostPort(m_matchId).value();
    const std::size_t requests = m_server.DataRequests().size();
    const std::size_t headerRequests = m_server.FrameCount(MessageCode::MSG_REPLAY_HEADER);

    m_game.reset();
    GameSimScript again;
    again.m_announcePort = announcePort;
    StartGame(again);
    Watch();
    ExpectWholeMatchPlayed();

    EXPECT_EQ(m_server.DataRequests().size(), requests);
    EXPECT_EQ(m_server.FrameCount(MessageCode::MSG_REPLAY_HEADER), headerRequests);
    EXPECT_EQ(m_client->HostPort(m_matchId), port);
    EXPECT_EQ(m_game->Record().m_joinedPort, port);
    EXPECT_EQ(m_client->HostsStarted(), 1u);
    EXPECT_TRUE(m_notices.Texts().empty());
}

TEST_F(EndToEndTest, LiveMatchCatchesUpThenHoldsNormalSpeed)
{
    UseMatch(MakeMatch(true));
    ASSERT_TRUE(m_match.m_live);
    // The match has been played for 20 s when the viewer arrives.
    constexpr std::uint32_t kJoinedAtMs = 20000;
    ScriptedMatch live = Served(m_match);
    live.m_available = m_match.StreamEndAt(kJoinedAtMs);
    live.m_ended = false;
    live.m_matchSeconds = kJoinedAtMs / 1000;
    PatchReplayHeaderProgress(live.m_header, live.m_matchSeconds, true);
    m_server.AddMatch(live);

    GameSimScript script;
    script.m_slotDelayMs = 5; // the game's pace, so that time slots in flight can be seen
    StartGame(script);
    MakeClient();
    Watch();

    const std::string caughtUp = "[VELT] Now play with normal speed";
    ASSERT_TRUE(m_game->WaitFor([&](const GameSimRecord& record)
                                { return Contains(record.m_gameLines, caughtUp); },
                                kDeadlineMs));
    const GameSimRecord atCatchUp = m_game->Record();
    EXPECT_TRUE(
        Contains(atCatchUp.m_gameLines, "[VELT]You are 0 min 20 sec behind, fast forward now"));
    // Fast forward kept several time slots in the game at once.
    EXPECT_GE(atCatchUp.m_maxSlotsInFlight, 2u);

    // The match goes on; from now on one time slot at a time.
    std::uint32_t inFlightAfter = 0;
    const std::uint32_t settled = atCatchUp.m_timeSlots + 10;
    for (std::uint32_t at = kJoinedAtMs + 2000; at <= m_match.m_durationMs; at += 2000)
    {
        m_server.ReleaseStream(m_matchId, m_match.StreamEndAt(at),
                               static_cast<std::uint16_t>(at / 1000));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        const GameSimRecord now = m_game->Record();
        if (now.m_timeSlots >= settled)
            inFlightAfter = std::max(inFlightAfter, now.m_slotsInFlight);
    }
    m_server.ReleaseStream(m_matchId, static_cast<std::uint32_t>(m_match.m_stream.size()),
                           static_cast<std::uint16_t>(m_match.m_durationMs / 1000));
    m_server.EndStream(m_matchId);
    ExpectWholeMatchPlayed();

    EXPECT_LE(inFlightAfter, 1u);
    const GameSimRecord record = m_game->Record();
    EXPECT_EQ(std::count(record.m_gameLines.begin(), record.m_gameLines.end(),
                         "[VELT]You are 0 min 20 sec behind, fast forward now"),
              1);
    EXPECT_EQ(m_client->FindHost(m_matchId)->Speed(), 1);
}

// /back from 3:00 to 1:00 with the real client and the simulated game: the game is ended, joins
// again by itself, and the new session's time slots are the match's own from its start, so the
// ones from 1:00 on come once and in order; play goes on at normal speed from 1:00. The client
// does not count the ended game as a session's end, so velt watch goes on.
TEST_F(EndToEndTest, BackFromThreeMinutesReplaysFromOneMinute)
{
    SyntheticSettings settings;
    settings.m_seed = 5;
    settings.m_count = 1;
    settings.m_liveCount = 0;
    settings.m_minSeconds = settings.m_maxSeconds = 240;
    UseMatch(GenerateSyntheticMatch(settings, 0));
    GameSimScript script;
    script.m_gameChat = {{1000, "/goto 3:00"}, {180000, "/back 1:00"}, {60200, "/time", 2}};
    script.m_rejoins = 1;
    m_game = std::make_unique<CGameSimulator>(script);
    ASSERT_TRUE(m_game->Start());
    MakeClient();
    Watch();
    ASSERT_TRUE(m_game->WaitFor([](const GameSimRecord& r) { return r.m_sessionsEnded >= 2; },
                                kDeadlineMs));
    ASSERT_TRUE(m_client->WaitSessionEnded(m_matchId, kDeadlineMs));
    const GameSimRecord record = m_game->Record();
    EXPECT_EQ(LinesStartingWith(record, "[VELT] Back to 1:00: join the game again"), 1u);
    // Two games, one session's end for the owner: the second game's, at the end of the match.
    EXPECT_EQ(m_client->FindHost(m_matchId)->SessionsEnded(), 1u);
    EXPECT_TRUE(record.m_leaveAckReceived);

    const auto isStreamSlot = [](const std::vector<std::uint8_t>& packet)
    {
        return HasGamePacketType(packet, GamePacketType::kIncomingAction) &&
               ReadTimeSlot(packet).m_intervalMs != 0;
    };
    std::vector<std::vector<std::uint8_t>> received;
    for (auto& packet : SessionPackets(record, 2))
        if (isStreamSlot(packet))
            received.push_back(std::move(packet));
    std::vector<std::vector<std::uint8_t>> expected;
    for (auto& packet : SplitGamePackets(m_match.m_stream))
        if (isStreamSlot(packet))
            expected.push_back(std::move(packet));
    // The whole match, its last time slot included.
    EXPECT_TRUE(received == expected)
        << received.size() << " of " << expected.size() << " slots in the second session";

    // Play goes on at normal speed from 1:00: the game time of the slots before that line.
    std::uint64_t resumedAt = 0;
    bool resumed = false;
    for (const auto& packet : SessionPackets(record, 2))
    {
        if (HasGamePacketType(packet, GamePacketType::kIncomingAction))
            resumedAt += ReadTimeSlot(packet).m_intervalMs;
        const auto chat = ParseChatFromHost(packet);
        if (chat && chat->m_text == "[VELT] Now play with normal speed")
        {
            resumed = true;
            break;
        }
    }
    ASSERT_TRUE(resumed);
    EXPECT_GE(resumedAt, 60000u);
    EXPECT_LE(resumedAt, 62000u);
}

TEST_F(EndToEndTest, HeadersGivePortsFromTheFirstPortOnward)
{
    // The game comes once both headers are in, so that it sees only the second host.
    CUdpSocket announcements;
    ASSERT_TRUE(announcements.Open() && announcements.Bind("127.0.0.1", 0));
    const std::uint16_t announcePort = announcements.LocalPort();
    const std::uint16_t base = FreePortRun(3);
    ASSERT_NE(base, 0);
    MakeClient(base, announcePort);
    constexpr std::uint32_t kOther = 900;
    ScriptedMatch other = Served(m_match);
    other.m_matchId = kOther;
    m_server.AddMatch(other);

    Watch();
    EXPECT_EQ(m_client->HostPort(m_matchId), base);
    // The same match again: its old host goes, and the new one takes the next port.
    const auto first = m_client->FindHost(m_matchId);
    ASSERT_TRUE(m_client->RequestReplayHeader(m_matchId));
    ASSERT_TRUE(WaitUntil(
        [&]
        {
            const auto now = m_client->FindHost(m_matchId);
            return now && now != first;
        }));
    EXPECT_EQ(m_client->HostPort(m_matchId), base + 1);
    EXPECT_FALSE(CTcpSocket::Connect("127.0.0.1", base).IsValid());

    announcements.Close();
    StartGame(LeavingInLobby(announcePort));
    // The game joins the host that is left, on the port its announcement gives.
    ASSERT_TRUE(m_game->WaitFinished(kDeadlineMs));
    EXPECT_EQ(m_game->Record().m_joinedPort, base + 1);
    ASSERT_TRUE(m_client->WaitSessionEnded(m_matchId, kDeadlineMs));

    ASSERT_TRUE(m_client->RequestReplayHeader(kOther));
    ASSERT_TRUE(m_client->WaitForHost(kOther, kDeadlineMs));
    EXPECT_EQ(m_client->HostPort(kOther), base + 2);
    EXPECT_EQ(m_client->HostsStarted(), 3u);
    EXPECT_TRUE(m_notices.Texts().empty());
}

TEST_F(EndToEndTest, ChunkForAMatchWithoutAHostIsAnInvalidReplay)
{
    StartGame();
    MakeClient();
    ASSERT_TRUE(m_server.WaitForClients(1, kDeadlineMs));
    ASSERT_TRUE(m_server.Send(0, CScriptedMatchServer::ChunkFor(Served(m_match), 0)));
    ASSERT_TRUE(WaitUntil([&] { return !m_notices.Texts().empty(); }));
    EXPECT_EQ(m_notices.Texts(), std::vector<std::string>{"Invalid replay!"});
    EXPECT_FALSE(m_client->HasHost(m_matchId));
    EXPECT_TRUE(m_client->IsConnected());
}

class HeaderVersionTest : public EndToEndTest, public ::testing::WithParamInterface<std::size_t>
{
};

TEST_P(HeaderVersionTest, WrongSizeShowsTheVersionMessageAndKeepsTheHost)
{
    StartGame(LeavingInLobby());
    MakeClient();
    const std::string version =
        "Erro Getting replay header, please update to latest version of VELT";
    ScriptedMatch wrong = Served(m_match);
    wrong.m_header.resize(GetParam() - 4);
    m_server.AddMatch(wrong);

    ASSERT_TRUE(m_client->RequestReplayHeader(m_matchId));
    ASSERT_TRUE(WaitUntil([&] { return Contains(m_notices.Texts(), version); }));
    EXPECT_FALSE(m_client->HasHost(m_matchId));
    EXPECT_EQ(m_client->HostsStarted(), 0u);

    m_server.AddMatch(Served(m_match));
    Watch();
    const auto host = m_client->FindHost(m_matchId);
    m_server.AddMatch(wrong);
    ASSERT_TRUE(m_client->RequestReplayHeader(m_matchId));
    ASSERT_TRUE(WaitUntil([&] { return m_notices.Texts().size() == 2; }));
    EXPECT_EQ(m_notices.Texts(), (std::vector<std::string>{version, version}));
    EXPECT_EQ(m_client->FindHost(m_matchId), host);
    // The host that stayed is still there for the game.
    ASSERT_TRUE(m_game->WaitFinished(kDeadlineMs));
    EXPECT_EQ(m_game->Record().m_joinedPort, m_client->HostPort(m_matchId));
}

INSTANTIATE_TEST_SUITE_P(PayloadSizes, HeaderVersionTest, ::testing::Values(1755u, 1757u));

TEST_F(EndToEndTest, ServerDroppingTheConnectionMidStreamLeavesTheGameBuffering)
{
    constexpr std::uint32_t kDropAt = 3 * kFullChunkSize;
    ScriptedMatch dropping = Served(m_match);
    dropping.m_dropAtOffset = kDropAt;
    m_server.AddMatch(dropping);
    StartGame();
    MakeClient();
    Watch();

    const std::string buffering = "[VELT] Not enough data,buffering..";
    ASSERT_TRUE(m_game->WaitFor(
        [&](const GameSimRecord& record)
        { return Contains(record.m_gameLines, buffering) && record.m_emptyTimeSlots >= 2; },
        kDeadlineMs));
    ASSERT_TRUE(WaitUntil([&] { return !m_notices.Texts().empty(); }));
    EXPECT_FALSE(m_client->IsConnected());
    const auto host = m_client->FindHost(m_matchId);
    EXPECT_EQ(host->StreamSize(), kDropAt);
    EXPECT_TRUE(host->SessionActive());

    // The viewer gives up; the session ends without a hang.
    m_game->Leave();
    ASSERT_TRUE(m_game->WaitFinished(kDeadlineMs));
    ASSERT_TRUE(m_client->WaitSessionEnded(m_matchId, kDeadlineMs));
    const GameSimRecord record = m_game->Record();
    EXPECT_TRUE(record.m_leaveAckReceived);
    EXPECT_EQ(record.m_checksumErrors, 0u);
    EXPECT_FALSE(record.m_streamCorrupt);
    EXPECT_EQ(record.m_timeSlots - record.m_emptyTimeSlots,
              TallySlots(m_match.m_stream, kDropAt).m_slots);
    // Told once, not at every request of the buffering.
    EXPECT_EQ(m_notices.Texts(), std::vector<std::string>{"Disconnected from server!"});
}

} // namespace
} // namespace velt

namespace velt
{
namespace
{

// The server under the session goes away: it closes and comes back 2 s later, goes silent, or
// never comes back. The client reconnects by itself and the game gets the rest of the stream
// where it stopped, or, after the limit, the session ends with the leave acknowledgement.
enum class ServerFault
{
    kClosesAndComesBack,
    kGoesSilent,
    kNeverComesBack,
};

struct ReconnectCase
{
    const char* m_name;
    ServerFault m_fault;
};

class ServerFaultTest : public EndToEndTest, public ::testing::WithParamInterface<ReconnectCase>
{
};

// The stream's time slots with actions or an interval, in order: what the game must receive
// once each, whatever the host halted meanwhile.
std::vector<std::vector<std::uint8_t>>
StreamSlots(const std::vector<std::vector<std::uint8_t>>& packets)
{
    const std::vector<std::uint8_t> empty = BuildEmptyTimeSlot();
    std::vector<std::vector<std::uint8_t>> slots;
    for (const auto& packet : packets)
        if (packet.size() >= empty.size() &&
            HasGamePacketType(packet, GamePacketType::kIncomingAction) && packet != empty)
            slots.push_back(packet);
    return slots;
}

TEST_P(ServerFaultTest, ClientReconnectsOrEndsTheSessionCleanly)
{
    const auto& c = GetParam();
    constexpr std::uint32_t kFaultAt = 3 * kFullChunkSize;
    const ScriptedMatch served = Served(m_match);
    if (c.m_fault == ServerFault::kGoesSilent)
    {
        // The first connection's requests from the fault on get no answer.
        m_server.SetHandler(
            MessageCode::MSG_GAME_DATA,
            [served](CScriptedMatchServer& server, std::size_t client,
                     const CScriptedMatchServer::ReceivedFrame& frame)
            {
                const auto request = ParseGameDataRequest(frame.m_payload);
                if (request && (client != 0 || request->m_offset < kFaultAt))
                    server.Send(client, CScriptedMatchServer::ChunkFor(served, request->m_offset));
            });
    }
    else
    {
        ScriptedMatch dropping = served;
        dropping.m_dropAtOffset = kFaultAt;
        m_server.AddMatch(dropping);
    }
    GameSimScript script;
    m_game = std::make_unique<CGameSimulator>(script);
    ASSERT_TRUE(m_game->Start());
    MakeClient();
    ReconnectPolicy policy;
    policy.m_silenceMs = 1000;
    policy.m_limitMs = c.m_fault == ServerFault::kNeverComesBack ? 3000 : 60000;
    m_client->SuperviseServerLink(policy);
    Watch();

    std::unique_ptr<CScriptedMatchServer> comeback;
    if (c.m_fault != ServerFault::kGoesSilent)
    {
        ASSERT_TRUE(m_server.WaitClientClosed(0, kDeadlineMs));
        const std::uint16_t port = m_server.Port();
        m_server.Stop();
        if (c.m_fault == ServerFault::kClosesAndComesBack)
        {
            std::this_thread::sleep_for(std::chrono::seconds(2));
            comeback = std::make_unique<CScriptedMatchServer>();
            comeback->AddMatch(served);
            ASSERT_TRUE(comeback->Start(port));
        }
    }
    ASSERT_TRUE(m_game->WaitFinished(kDeadlineMs));
    ASSERT_TRUE(m_client->WaitSessionEnded(m_matchId, kDeadlineMs));
    const GameSimRecord record = m_game->Record();
    EXPECT_TRUE(record.m_leaveAckReceived);
    // The chunks chain from the join on, so the server may go while the game is still in its
    // lobby: the line is of the kind that fits.
    EXPECT_TRUE(Contains(record.m_gameLines, kServerLostLine) ||
                Contains(record.m_lobbyLines, kServerLostLine));
    EXPECT_EQ(m_notices.Texts(), std::vector<std::string>{"Disconnected from server!"});
    const auto expected = StreamSlots(SplitGamePackets(m_match.m_stream));
    const auto received = StreamSlots(record.m_packets);
    if (c.m_fault == ServerFault::kNeverComesBack)
    {
        EXPECT_TRUE(m_client->ServerGivenUp());
        EXPECT_TRUE(Contains(record.m_gameLines, kServerGoneLine));
        ASSERT_LT(received.size(), expected.size());
        EXPECT_TRUE(std::equal(received.begin(), received.end(), expected.begin()));
        return;
    }
    EXPECT_FALSE(m_client->ServerGivenUp());
    EXPECT_TRUE(Contains(record.m_gameLines, kServerBackLine) ||
                Contains(record.m_lobbyLines, kServerBackLine));
    EXPECT_EQ(received, expected); // in order, nothing lost or repeated
    EXPECT_EQ(record.m_checksumErrors, 0u);
    EXPECT_FALSE(record.m_streamCorrupt);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ServerFaultTest,
    ::testing::Values(ReconnectCase{"closesAndComesBackAfter2s", ServerFault::kClosesAndComesBack},
                      ReconnectCase{"goesSilent", ServerFault::kGoesSilent},
                      ReconnectCase{"neverComesBack", ServerFault::kNeverComesBack}),
    [](const auto& info) { return std::string(info.param.m_name); });

} // namespace
} // namespace velt
