// velt against match servers that fail it, in-process over loopback with the game simulator as
// the game: servers that never answer a reconnect, headers that cannot be hosted, a server that
// drops a viewer who no longer needs it, a full server, and a server address that is no address.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>

#include "cli/Commands.h"
#include "host/ReplayHeader.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "server/CMatchServerClient.h"
#include "server/Framing.h"
#include "server/MatchServerMessages.h"
#include "tests/PollUntil.h"
#include "tests/cli/CommandRun.h"
#include "tests/doubles/CScriptedMatchServer.h"
#include "tests/doubles/MatchdRig.h"
#include "tools/gamesim/CGameSimulator.h"
#include "tools/matchd/CMatchArchive.h"
#include "tools/matchd/CMatchServer.h"
#include "tools/matchd/CRawMatchClient.h"
#include "tools/matchd/CStatsStore.h"
#include "tools/matchd/SyntheticMatchGenerator.h"

namespace velt
{
namespace
{

using Bytes = std::vector<std::uint8_t>;

// Only reached when something is wrong.
constexpr std::uint32_t kDeadlineMs = 60000;
// A command still running after this is stopped as a user would (SIGTERM), so that a command
// that waits for ever fails its row instead of hanging the suite.
constexpr std::uint32_t kWatchdogMs = 45000;
// Where the first connection is dropped: the game has some of the match, not all.
constexpr std::uint32_t kDropAt = 4000;

// Runs a command of velt in-process; SIGTERM if it has not ended within the watchdog's time.
test::CommandRun RunGuarded(int (*command)(const std::vector<std::string>&),
                            const std::vector<std::string>& args)
{
    std::mutex mutex;
    std::condition_variable ended;
    bool done = false;
    CThread watchdog;
    watchdog.Start(
        [&]
        {
            std::unique_lock lock(mutex);
            if (!ended.wait_for(lock, std::chrono::milliseconds(kWatchdogMs), [&] { return done; }))
                std::raise(SIGTERM);
        });
    test::CommandRun run = test::RunCommand(command, args);
    {
        std::lock_guard lock(mutex);
        done = true;
    }
    ended.notify_all();
    watchdog.Join();
    return run;
}

SyntheticMatch MatchOfSeconds(std::uint32_t seconds)
{
    SyntheticSettings settings;
    settings.m_seed = 9;
    settings.m_count = 1;
    settings.m_minSeconds = seconds;
    settings.m_maxSeconds = seconds;
    return GenerateSyntheticMatch(settings, 0);
}

// The whole match, served as it was generated.
CScriptedMatchServer::ScriptedMatch Served(const SyntheticMatch& match)
{
    CScriptedMatchServer::ScriptedMatch served;
    served.m_matchId = match.m_info.m_matchId;
    served.m_header = match.m_header;
    served.m_stream = match.m_stream;
    served.m_available = static_cast<std::uint32_t>(match.m_stream.size());
    return served;
}

// velt-matchd at --max-clients 1 with its one place taken.
struct FullServer : test::MatchdRig
{
    void Start(std::uint16_t port)
    {
        SyntheticSettings settings;
        settings.m_count = 1;
        Serve(GenerateSyntheticMatches(settings), CSystemClock::Instance(),
              [&](MatchServerSettings& serving)
              {
                  serving.m_listenPort = port;
                  serving.m_maxClients = 1;
              });
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        ASSERT_TRUE(m_blocker.Connect("127.0.0.1", m_server->Port()));
        ASSERT_TRUE(test::PollUntil([&] { return m_server->ActiveClients() == 1; }, kDeadlineMs));
    }
    std::string Address() const { return "127.0.0.1:" + std::to_string(m_server->Port()); }

    CRawMatchClient m_blocker;
};

std::size_t Count(const std::vector<std::string>& lines, const std::string& line)
{
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

std::string Transcript(const GameSimRecord& record)
{
    std::string lines;
    for (const GameSimLine& line : record.m_lineLog)
        lines += (line.m_inGame ? "game: " : "lobby: ") + line.m_text + "\n";
    return lines;
}

std::size_t Occurrences(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// --- A server that fails the viewer during a session, or sends a header that cannot be hosted --

enum class Hostility
{
    // After the first connection drops, the server...
    kRefuses,    // ... is gone: connections are refused
    kSilent,     // ... accepts and never answers
    kHangsUp,    // ... accepts and hangs up at once
    kFull,       // ... is a full velt-matchd (--max-clients 1, the place taken)
    kOversized,  // ... accepts and sends a frame longer than any the client reads
                 // The header the server sends for the match is...
    kZeros,      // ... all zeros
    kGarbage,    // ... random bytes
    kLength255,  // ... a good one with every length byte 255
    kNoNul,      // ... a good one without a single NUL
    kPlayers255, // ... a good one that names 255 players
    kShort,      // ... one byte short
};

struct HostileRow
{
    const char* m_name;
    Hostility m_hostility;
    // Header rows: part of what velt says is wrong with the header.
    const char* m_problem = nullptr;
};

bool IsHeaderRow(Hostility hostility)
{
    return hostility >= Hostility::kZeros;
}

Bytes HeaderFor(Hostility hostility, Bytes header)
{
    switch (hostility)
    {
    case Hostility::kZeros:
        return Bytes(header.size(), 0);
    case Hostility::kGarbage:
    {
        std::mt19937 random(22);
        for (std::uint8_t& byte : header)
            byte = static_cast<std::uint8_t>(random());
        return header;
    }
    case Hostility::kLength255:
        for (std::size_t at = ReplayHeader::kAnnouncementLengthOffset;
             at <= ReplayHeader::kMapCheckLengthOffset; ++at)
            header[at] = 0xFF;
        for (std::size_t id = 1; id <= header[ReplayHeader::kPlayerCountOffset]; ++id)
            header[ReplayHeader::PlayerRecordOffset(id)] = 0xFF;
        return header;
    case Hostility::kNoNul:
        std::replace(header.begin(), header.end(), std::uint8_t{0}, std::uint8_t{' '});
        return header;
    case Hostility::kPlayers255:
        header[ReplayHeader::kPlayerCountOffset] = 0xFF;
        return header;
    case Hostility::kShort:
        header.pop_back();
        return header;
    default:
        return header;
    }
}

class HostileServer : public ::testing::TestWithParam<HostileRow>
{
protected:
    void SetUp() override
    {
        SocketLayerStart();
        m_match = MatchOfSeconds(120);
        CScriptedMatchServer::ScriptedMatch served = Served(m_match);
        served.m_header = HeaderFor(GetParam().m_hostility, m_match.m_header);
        served.m_dropAtOffset = kDropAt;
        m_server.AddMatch(served);
        ArrangeReconnects(served);
        ASSERT_TRUE(m_server.Start());
    }

    // What the server does to every connection after the first.
    void ArrangeReconnects(const CScriptedMatchServer::ScriptedMatch& served)
    {
        switch (GetParam().m_hostility)
        {
        case Hostility::kSilent:
            m_server.SetHandler(MessageCode::MSG_GAME_DATA,
                                [served](CScriptedMatchServer& server, std::size_t client,
                                         const CScriptedMatchServer::ReceivedFrame& frame)
                                {
                                    const auto request = ParseGameDataRequest(frame.m_payload);
                                    if (client != 0 || !request)
                                        return;
                                    Bytes chunk =
                                        CScriptedMatchServer::ChunkFor(served, request->m_offset);
                                    if (request->m_offset >= kDropAt)
                                        chunk.resize(chunk.size() / 2);
                                    server.Send(client, chunk);
                                    if (request->m_offset >= kDropAt)
                                        server.CloseClient(client);
                                });
            break;
        case Hostility::kHangsUp:
            m_server.SetAcceptHandler(
                [](CScriptedMatchServer& server, std::size_t client)
                {
                    if (client != 0)
                        server.CloseClient(client);
                });
            break;
        case Hostility::kOversized:
            m_server.SetAcceptHandler(
                [](CScriptedMatchServer& server, std::size_t client)
                {
                    if (client == 0)
                        return;
                    // L = 1 MiB: past what the client even skips.
                    const Bytes frame = {0x00, 0x00, 0x10, 0x00, 0x3E, 1, 2, 3};
                    server.Send(client, frame);
                });
            break;
        default:
            break;
        }
    }

    // After the first connection has dropped: the server becomes what the row says.
    void TurnHostile()
    {
        if (!m_server.WaitForClients(1, kDeadlineMs) || !m_server.WaitClientClosed(0, kDeadlineMs))
            return;
        const std::uint16_t port = m_server.Port();
        if (GetParam().m_hostility == Hostility::kRefuses)
        {
            m_server.Stop();
        }
        else if (GetParam().m_hostility == Hostility::kFull)
        {
            m_server.Stop();
            m_full.Start(port);
        }
    }

    SyntheticMatch m_match;
    CScriptedMatchServer m_server;
    FullServer m_full;
};

// What the viewer sees, what the game gets and how velt ends: a server that takes connections
// but brings no data counts as away until the limit; a header that cannot be hosted is refused
// before anything is hosted.
TEST_P(HostileServer, TheViewerIsToldTheGameIsLeftAndVeltFails)
{
    const HostileRow& row = GetParam();
    GameSimScript script;
    script.m_keepPackets = false;
    script.m_lobbyChat = {"/fs"};
    CGameSimulator game(script);
    ASSERT_TRUE(game.Start());
    CThread hostile;
    if (!IsHeaderRow(row.m_hostility))
        hostile.Start([&] { TurnHostile(); });
    const auto run = RunGuarded(&test::RunQuickWatch,
                                {std::to_string(m_match.m_info.m_matchId), "--server",
                                 "127.0.0.1:" + std::to_string(m_server.Port()), "--announce-port",
                                 std::to_string(game.AnnouncePort()), "--port-base", "0", "--war3",
                                 "/nonexistent", "--reconnect-limit", "2"});
    hostile.Join();
    EXPECT_EQ(run.m_status, kExitFailure) << run.m_err;

    if (IsHeaderRow(row.m_hostility))
    {
        EXPECT_NE(run.m_err.find("Erro Getting replay header, please update to latest version of "
                                 "VELT\n"),
                  std::string::npos)
            << run.m_err;
        EXPECT_NE(run.m_err.find("The replay header of match " +
                                 std::to_string(m_match.m_info.m_matchId) +
                                 " cannot be hosted: " + std::string(row.m_problem)),
                  std::string::npos)
            << run.m_err;
        EXPECT_EQ(run.m_err.find("Game Start now"), std::string::npos) << run.m_err;
        EXPECT_EQ(run.m_err.find("Start Warcraft III"), std::string::npos) << run.m_err;
        EXPECT_EQ(game.Record().m_sessionsJoined, 0u) << "nothing was hosted";
        return;
    }
    ASSERT_TRUE(game.WaitFinished(kDeadlineMs));
    const GameSimRecord record = game.Record();
    EXPECT_TRUE(record.m_leaveAckReceived);
    EXPECT_FALSE(record.m_streamCorrupt);
    std::vector<std::string> lines = record.m_gameLines;
    lines.insert(lines.end(), record.m_lobbyLines.begin(), record.m_lobbyLines.end());
    EXPECT_EQ(Count(lines, kServerLostLine), 1u) << Transcript(record);
    EXPECT_EQ(Count(lines, kServerBackLine), 0u) << Transcript(record);
    EXPECT_EQ(Count(lines, kServerGoneLine), 1u) << Transcript(record);
    EXPECT_EQ(Occurrences(run.m_err, "Disconnected from server!\n"), 1u) << run.m_err;
    EXPECT_NE(run.m_err.find("did not come back within 2 s"), std::string::npos) << run.m_err;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, HostileServer,
    ::testing::Values(HostileRow{"refusesConnections", Hostility::kRefuses},
                      HostileRow{"acceptsAndSaysNothing", Hostility::kSilent},
                      HostileRow{"hangsUpAtOnce", Hostility::kHangsUp},
                      HostileRow{"isFull", Hostility::kFull},
                      HostileRow{"sendsAnOversizedFrame", Hostility::kOversized},
                      HostileRow{"headerOfZeros", Hostility::kZeros, "it has no LAN announcement"},
                      HostileRow{"headerOfGarbage", Hostility::kGarbage, ""},
                      HostileRow{"headerWithLengthBytes255", Hostility::kLength255,
                                 "its LAN announcement is not a valid game packet"},
                      HostileRow{"headerWithoutNul", Hostility::kNoNul,
                                 "its presenter name does not end inside its field"},
                      HostileRow{"headerNaming255Players", Hostility::kPlayers255,
                                 "it names 255 players"},
                      HostileRow{"headerOneByteShort", Hostility::kShort,
                                 "it is 1751 bytes long instead of 1752"}),
    [](const auto& info) { return std::string(info.param.m_name); });

// --- A server that drops a viewer who holds the whole match ------------------------------------

enum class HeldStage
{
    kLobby, // the drop comes while the game waits in the lobby
    kGame,  // ... while it plays
};

struct HeldRow
{
    const char* m_name;
    HeldStage m_stage;
};

class HeldMatch : public ::testing::TestWithParam<HeldRow>
{
};

// A finished match is downloaded in a moment, after which the client has nothing to ask; a
// server (velt-matchd at its idle limit) then drops the connection. The viewer hears nothing of
// that, in the lobby or in the game, and a rating typed afterwards still reaches the server.
TEST_P(HeldMatch, AServerThatDropsAViewerWhoHoldsTheMatchIsNoEventAndARatingStillArrives)
{
    SocketLayerStart();
    const SyntheticMatch match = MatchOfSeconds(60);
    const CScriptedMatchServer::ScriptedMatch served = Served(match);
    CScriptedMatchServer server;
    // The last short chunk is on its way: whatever the server does next reaches the client
    // after it.
    std::atomic<bool> lastChunkSent{false};
    server.SetHandler(MessageCode::MSG_GAME_DATA,
                      [&, served](CScriptedMatchServer& s, std::size_t client,
                                  const CScriptedMatchServer::ReceivedFrame& frame)
                      {
                          const auto request = ParseGameDataRequest(frame.m_payload);
                          if (!request)
                              return;
                          s.Send(client, CScriptedMatchServer::ChunkFor(served, request->m_offset));
                          if (request->m_offset + kFullChunkSize > served.m_available)
                              lastChunkSent.store(true);
                      });
    server.AddMatch(served);
    ASSERT_TRUE(server.Start());

    GameSimScript script;
    script.m_keepPackets = false;
    script.m_slotDelayMs = 2;
    script.m_startAfterLobbyChat = false;
    const bool inGame = GetParam().m_stage == HeldStage::kGame;
    if (inGame)
        script.m_lobbyChat = {"/fs"};
    CGameSimulator game(script);
    ASSERT_TRUE(game.Start());
    CThread viewer;
    viewer.Start(
        [&]
        {
            const auto reached = [&](std::uint64_t gameTimeMs)
            {
                return game.WaitFor(
                    [&](const GameSimRecord& r)
                    { return !r.m_lobbyLines.empty() && r.m_gameTimeMs >= gameTimeMs; },
                    kDeadlineMs);
            };
            if (!reached(inGame ? 1000 : 0) ||
                !test::PollUntil([&] { return lastChunkSent.load(); }, kDeadlineMs))
                return;
            server.CloseClient(0);
            server.WaitClientClosed(0, kDeadlineMs);
            if (!inGame)
                game.TypeChat("/fs");
            if (reached(3000))
                game.TypeChat("/rate 4");
        });
    const auto run =
        RunGuarded(&test::RunQuickWatch, {std::to_string(served.m_matchId), "--server",
                                          "127.0.0.1:" + std::to_string(server.Port()),
                                          "--announce-port", std::to_string(game.AnnouncePort()),
                                          "--port-base", "0", "--war3", "/nonexistent"});
    viewer.Join();
    EXPECT_EQ(run.m_status, kExitOk) << run.m_err;
    EXPECT_EQ(run.m_err.find("Disconnected"), std::string::npos) << run.m_err;
    ASSERT_TRUE(game.WaitFinished(kDeadlineMs));
    const GameSimRecord record = game.Record();
    EXPECT_TRUE(record.m_leaveAckReceived);
    EXPECT_EQ(record.m_gameTimeMs, match.m_durationMs);
    for (const char* line : {kServerLostLine, kServerBackLine, kServerGoneLine})
        EXPECT_EQ(LinesStartingWith(record, line), 0u) << Transcript(record);
    EXPECT_EQ(LinesStartingWith(record, "[VELT] You have rated  4"), 1u) << Transcript(record);
    // The rating went out on a connection made for it.
    const auto rating = server.WaitForFrame(MessageCode::MSG_RATE, kDeadlineMs);
    ASSERT_TRUE(rating);
    EXPECT_GE(rating->m_client, 1u);
    EXPECT_EQ(server.FrameCount(MessageCode::MSG_RATE), 1u);
    EXPECT_EQ(ParseRateMessage(rating->m_payload)->m_rating, 4);
}

INSTANTIATE_TEST_SUITE_P(Stages, HeldMatch,
                         ::testing::Values(HeldRow{"inTheLobby", HeldStage::kLobby},
                                           HeldRow{"inTheGame", HeldStage::kGame}),
                         [](const auto& info) { return std::string(info.param.m_name); });

// --- A session that breaks off ----------------------------------------------------------------

enum class SessionEnd
{
    kViewerLeaves,   // the game leaves: a proper end
    kGameVanishes,   // the game's connection ends without a leave
    kStreamCutShort, // the match's data ends inside a packet
};

struct EndRow
{
    const char* m_name;
    SessionEnd m_end;
    int m_status;
    const char* m_said;
};

class SessionEnds : public ::testing::TestWithParam<EndRow>
{
};

// Every proper end sends the game the leave acknowledgement; a session without it broke off,
// and velt says so and fails.
TEST_P(SessionEnds, OnlyAProperEndIsASuccess)
{
    const EndRow& row = GetParam();
    SocketLayerStart();
    const SyntheticMatch match = MatchOfSeconds(60);
    CScriptedMatchServer::ScriptedMatch served = Served(match);
    if (row.m_end == SessionEnd::kStreamCutShort)
        served.m_stream.resize(served.m_stream.size() - 3); // inside the last packet
    served.m_available = static_cast<std::uint32_t>(served.m_stream.size());
    CScriptedMatchServer server;
    server.AddMatch(served);
    ASSERT_TRUE(server.Start());
    GameSimScript script;
    script.m_keepPackets = false;
    script.m_lobbyChat = {"/fs"};
    if (row.m_end != SessionEnd::kStreamCutShort)
    {
        script.m_leaveAtGameTimeMs = 5000;
        script.m_vanishAtGameTimeMs = row.m_end == SessionEnd::kGameVanishes;
    }
    CGameSimulator game(script);
    ASSERT_TRUE(game.Start());
    const auto run =
        RunGuarded(&test::RunQuickWatch, {std::to_string(served.m_matchId), "--server",
                                          "127.0.0.1:" + std::to_string(server.Port()),
                                          "--announce-port", std::to_string(game.AnnouncePort()),
                                          "--port-base", "0", "--war3", "/nonexistent"});
    EXPECT_EQ(run.m_status, row.m_status) << run.m_err;
    EXPECT_NE(run.m_err.find(row.m_said), std::string::npos) << run.m_err;
}

INSTANTIATE_TEST_SUITE_P(Ends, SessionEnds,
                         ::testing::Values(EndRow{"viewerLeaves", SessionEnd::kViewerLeaves,
                                                  kExitOk, "Session 1 of 1 has ended.\n"},
                                           EndRow{"gameVanishes", SessionEnd::kGameVanishes,
                                                  kExitFailure, "Session 1 of 1 broke off"},
                                           EndRow{"streamCutShort", SessionEnd::kStreamCutShort,
                                                  kExitFailure, "Session 1 of 1 broke off"}),
                         [](const auto& info) { return std::string(info.param.m_name); });

// --- Which server, and a full one --------------------------------------------------------------

// Sets an environment variable for one scope, or unsets it.
class ScopedEnvironment
{
public:
    ScopedEnvironment(const char* name, const char* value) : m_name(name) { Set(value); }
    ~ScopedEnvironment() { Set(nullptr); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    void Set(const char* value)
    {
#ifdef _WIN32
        _putenv_s(m_name, value != nullptr ? value : "");
#else
        if (value != nullptr)
            setenv(m_name, value, 1);
        else
            unsetenv(m_name);
#endif
    }
    const char* m_name;
};

struct AddressRow
{
    const char* m_name;
    const char* m_environment; // VELT_SERVER; null: unset; "@" the full server's address
    const char* m_option;      // --server; null: none; "@" the full server's address
    int m_status;
    const char* m_err; // the start of what velt list says
};

class ServerAddressChoice : public ::testing::TestWithParam<AddressRow>
{
};

// velt list against a full server, and addresses that are none, from the option or the
// environment: a full server takes the connection and closes it, which is a connection that
// failed, at once; a port 0 is a usage error wherever it comes from.
TEST_P(ServerAddressChoice, FullServersFailAndBadAddressesAreUsageErrors)
{
    const AddressRow& row = GetParam();
    SocketLayerStart();
    FullServer server;
    server.Start(0);
    const std::string full = server.Address();
    const auto resolve = [&](const char* text) { return std::string(text) == "@" ? full : text; };

    const std::string environment = row.m_environment ? resolve(row.m_environment) : "";
    ScopedEnvironment scoped("VELT_SERVER", row.m_environment ? environment.c_str() : nullptr);
    std::vector<std::string> args;
    if (row.m_option != nullptr)
        args = {"--server", resolve(row.m_option)};
    for (auto command : {&RunListCommand, &RunWatchCommand})
    {
        std::vector<std::string> commandArgs = args;
        if (command == &RunWatchCommand)
            commandArgs.insert(commandArgs.begin(), "1");
        const auto run = RunGuarded(command, commandArgs);
        EXPECT_EQ(run.m_status, row.m_status) << run.m_err;
        if (command == &RunListCommand)
        {
            EXPECT_EQ(run.m_err.rfind(row.m_err, 0), 0u) << run.m_err;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ServerAddressChoice,
    ::testing::Values(
        AddressRow{"fullServerByOption", nullptr, "@", kExitFailure,
                   "Connection to stream velt server failed!\n"},
        AddressRow{"fullServerByEnvironment", "@", nullptr, kExitFailure,
                   "Connection to stream velt server failed!\n"},
        AddressRow{"portZeroByOption", nullptr, "127.0.0.1:0", kExitUsage,
                   "velt list: option '--server' needs HOST or HOST:PORT"},
        AddressRow{"portZeroByEnvironment", "127.0.0.1:0", nullptr, kExitUsage,
                   "velt list: the environment variable VELT_SERVER needs HOST or HOST:PORT"},
        AddressRow{"optionOverridesABadEnvironment", "127.0.0.1:0", "@", kExitFailure,
                   "Connection to stream velt server failed!\n"}),
    [](const auto& info) { return std::string(info.param.m_name); });

} // namespace
} // namespace velt
