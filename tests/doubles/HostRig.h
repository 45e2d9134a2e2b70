#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/CLocalGameHost.h"
#include "host/HostTimings.h"
#include "host/IHostOwner.h"
#include "host/packets/PlayPackets.h"
#include "platform/Clock.h"
#include "platform/Socket.h"
#include "platform/Thread.h"
#include "platform/UserNotice.h"

namespace velt
{
struct GameSimRecord;
}

namespace velt::test
{

// Waits in tests are generous: they only bound a failure, they never pace a pass.
constexpr std::uint32_t kWaitMs = 20000;

// Timings short enough for quick tests, long enough for a loaded machine.
HostTimings FastTimings();

// Real time that a test may move on at once: waits stay real, so the host's halts and reads
// behave as they do, and what the host measures on the clock (a halt's length, how far the live
// edge has moved since the server's last answer) can be cut short without waiting for it.
class CJumpClock final : public IClock
{
public:
    std::uint64_t NowMs() override { return CSystemClock::Instance().NowMs() + m_jumpedMs.load(); }
    void SleepMs(std::uint32_t ms) override { CSystemClock::Instance().SleepMs(ms); }
    void Jump(std::uint64_t ms) { m_jumpedMs.fetch_add(ms); }

private:
    std::atomic<std::uint64_t> m_jumpedMs{0};
};

// Runs run(0) to run(count - 1), at most atOnce at a time, each on a thread of its own: for rows
// that each have their own host, ports and game, and spend most of their time waiting for them.
void SideBySide(std::size_t count, std::size_t atOnce, const std::function<void(std::size_t)>& run);

// ---- headers and streams ------------------------------------------------------------------

struct TestPlayer
{
    std::string m_name;
    std::uint8_t m_team = 0; // 12: observer
};

struct HeaderOptions
{
    bool m_live = false;
    std::uint16_t m_matchSeconds = 0;
    std::string m_presenter = "Tester";
    std::string m_mapPath = "Maps\\Test\\Arena.w3x";
    // Ids 1..n in order; an empty name leaves that record empty.
    std::vector<TestPlayer> m_players = {{"Alice", 0}, {"Bob", 1}, {"Watcher", 12}};
    // The announcement's game version and name; the player packets' padding follows the version.
    std::uint32_t m_gameVersion = kGameVersion126;
    std::string m_gameName = "VELT test";
};

std::vector<std::uint8_t> BuildTestHeader(const HeaderOptions& options = {});
// The test header of a live or a finished match, of that length so far.
HeaderOptions MatchHeader(bool live, std::uint16_t matchSeconds);

// Stream pieces.
std::vector<std::uint8_t> Slot(std::uint16_t intervalMs, std::vector<ActionBlock> blocks = {});
std::vector<std::uint8_t> ActionSlot(std::uint16_t intervalMs, std::uint8_t player,
                                     std::vector<std::uint8_t> actions);
std::vector<std::uint8_t> PingSlot(std::uint16_t intervalMs, std::uint8_t player);
std::vector<std::uint8_t> RecordedChat(std::uint8_t sender, const std::string& text);
std::vector<std::uint8_t> PlayerLeft(std::uint8_t player);

// Bytes of that many slots as CStreamBuilder::Slots builds them.
std::uint32_t SlotBytes(std::uint32_t slots);
// A game time as /goto and /back take it: M:SS.
std::string MinutesSecondsText(std::uint64_t ms);
// The game's day clock at a game time, as /syncup and /syncdown take it: H:MM, 08:00 at game
// time 0 and three clock minutes a second.
std::string GameClockText(std::uint64_t gameMs);
// The last time slots the game received are empty ones: the host holds the game.
bool HoldingTheGame(const GameSimRecord& record);

class CStreamBuilder
{
public:
    CStreamBuilder& Add(const std::vector<std::uint8_t>& bytes);
    // count slots of intervalMs, each with one small action of player 1.
    CStreamBuilder& Slots(std::uint32_t count, std::uint16_t intervalMs = 100);
    std::vector<std::uint8_t> Take() { return std::move(m_bytes); }
    std::size_t Size() const { return m_bytes.size(); }

private:
    std::vector<std::uint8_t> m_bytes;
};

// ---- the owner and its stand-in server ---------------------------------------------------

// The host's owner as a test sees it: records data requests and ratings, and answers each data
// request from a thread of its own, as the match server's answers reach the client's receive
// thread. The server holds a stream, of which m_available bytes exist so far.
class CTestOwner final : public IHostOwner
{
public:
    enum class Answering
    {
        kAnswer, // chunks as the server sends them
        kSilent, // requests are taken and never answered
    };

    CTestOwner();
    ~CTestOwner() override;

    // The host the answers go to; answering starts. Stop before the host is destroyed.
    void Serve(CLocalGameHost& host);
    void StopServing();

    // The server's stream; bytes beyond `available` do not exist yet (a live match). When all
    // is available and `ended`, requests at the end get the end marker.
    void SetStream(std::vector<std::uint8_t> stream, std::uint32_t available, bool ended,
                   std::uint16_t matchSeconds = 0);
    void SetAvailable(std::uint32_t available, bool ended);
    // A live match grows: more bytes, and the length that the answers report.
    void Grow(std::uint32_t available, std::uint16_t matchSeconds);
    void SetAnswering(Answering answering);
    // The first request at this offset is answered only after holdMs; the ones after it are
    // answered meanwhile, as a server that answers out of order would.
    void HoldAnswerAt(std::uint32_t offset, std::uint32_t holdMs);
    // Held answers sent so far.
    std::uint32_t HeldAnswersSent() const;
    // As a link supervisor: a silent server does not end the session at the end of the data.
    void SetSupervising(bool on) { m_supervising.store(on); }
    bool SupervisesServerLink() const override { return m_supervising.load(); }

    struct Request
    {
        std::uint32_t m_matchId = 0;
        std::uint32_t m_offset = 0;
    };
    std::vector<Request> Requests() const;
    // Most requests waiting for an answer at one time, since the last reset.
    std::uint32_t MaxOutstanding() const;
    void ResetMaxOutstanding();
    std::vector<std::vector<std::uint8_t>> Ratings() const;
    bool WaitForRequests(std::size_t count, std::uint32_t timeoutMs);
    // Until every request so far is answered (a silent server counts as done).
    bool WaitIdle(std::uint32_t timeoutMs);

    void SetMapExists(bool exists) { m_mapExists.store(exists); }
    std::string LastMapQuery() const;

    void RequestGameData(std::uint32_t matchId, std::uint32_t offset) override;
    bool MapFileExists(const std::string& relativePath) override;
    // Records the rating message as the client would send it, on channel 7.
    void SubmitRating(std::uint32_t matchId, std::uint8_t rating) override;
    ChatDisplaySwitches& DisplaySwitches() override { return m_switches; }
    IUserNotice& Notices() override { return m_notices; }
    CRecordingNotice& RecordedNotices() { return m_notices; }

private:
    void AnswerLoop();
    // Answers one request (the lock is held on entry and exit, and let go meanwhile).
    void Answer(std::unique_lock<std::mutex>& lock, const Request& request);

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Request> m_pending;
    std::vector<Request> m_requests;
    std::vector<std::vector<std::uint8_t>> m_ratings;
    std::vector<std::uint8_t> m_stream;
    std::uint32_t m_available = 0;
    bool m_ended = true; // until a test gives it a stream: an empty, ended one
    std::uint16_t m_matchSeconds = 0;
    Answering m_answering = Answering::kAnswer;
    std::uint32_t m_maxOutstanding = 0;
    std::string m_lastMapQuery;
    CLocalGameHost* m_host = nullptr;
    bool m_inAnswer = false;
    bool m_stopping = false;
    std::optional<std::uint32_t> m_holdOffset;
    std::uint32_t m_holdMs = 0;
    std::deque<std::pair<std::chrono::steady_clock::time_point, Request>> m_held;
    std::uint32_t m_heldAnswersSent = 0;
    std::atomic<bool> m_supervising{false};
    CThread m_thread;

    std::atomic<bool> m_mapExists{true};
    ChatDisplaySwitches m_switches;
    CRecordingNotice m_notices;
};

// ---- a game the test drives step by step ------------------------------------------------

// Warcraft III's side of one connection, driven by the test thread itself, for tests that need
// exact control over what the game sends and when.
class CScriptedGame
{
public:
    bool Connect(std::uint16_t port);
    bool Send(const std::vector<std::uint8_t>& bytes);
    // Several packets in one TCP send.
    bool SendTogether(const std::vector<std::vector<std::uint8_t>>& packets);
    // One packet over two sends with a pause between them.
    bool SendSplit(const std::vector<std::uint8_t>& packet, std::size_t firstPart);

    // The next packet, or nothing on time-out or close (Closed() tells which).
    std::optional<std::vector<std::uint8_t>> Read(std::uint32_t timeoutMs = kWaitMs);
    // Packets up to and including the first of the type; nothing when it does not come.
    std::optional<std::vector<std::vector<std::uint8_t>>> ReadThrough(GamePacketType type,
                                                                      std::uint32_t timeoutMs =
                                                                          kWaitMs);
    // Whether anything arrives within the time.
    bool Quiet(std::uint32_t ms);
    bool Closed() const { return m_closed; }
    void Close() { m_socket.Close(); }

    // Join request, then everything up to the map check.
    std::optional<std::vector<std::vector<std::uint8_t>>> Join();
    bool MapReport();
    bool Chat(ChatKind kind, const std::string& text);
    bool Keepalive();
    bool Leave();
    // Lobby welcome lines: map report sent, reads the lobby lines until quiet.
    std::vector<std::string> LobbyLines(std::uint32_t quietMs = 300);
    // Joins, reports the map, starts with /fs and answers the countdown; returns once the
    // slogan line has arrived. beforeLoaded runs just before the game reports itself loaded.
    bool JoinAndStart(std::uint16_t port, const std::function<void()>& beforeLoaded = {});

private:
    CTcpSocket m_socket;
    std::vector<std::uint8_t> m_inbox;
    bool m_closed = false;
};

// Texts of the chat packets among packets (both kinds).
std::vector<std::string> ChatTexts(const std::vector<std::vector<std::uint8_t>>& packets);
std::optional<std::string> ChatText(const std::vector<std::uint8_t>& packet);
// A line the viewer types in the game.
std::vector<std::uint8_t> GameChat(const std::string& text);
bool IsType(const std::vector<std::uint8_t>& packet, GamePacketType type);
bool IsEmptySlot(const std::vector<std::uint8_t>& packet);
// A time slot from the stream, not one of the empty slots that hold the game while it waits.
bool IsStreamSlot(const std::vector<std::uint8_t>& packet);

// A host over loopback with its owner, on ephemeral ports, announcing to a port of the test's.
struct HostRig
{
    explicit HostRig(HeaderOptions header = {}, HostTimings timings = FastTimings(),
                     IClock& clock = CSystemClock::Instance());
    ~HostRig();

    bool Start(std::uint16_t announcePort = 0);
    // The game joins and starts once the server has answered what the host asked for, so
    // that play begins on data that has arrived however slowly the answer thread ran.
    bool JoinAndStart(CScriptedGame& game);
    std::uint16_t Port() const { return static_cast<std::uint16_t>(m_host->Port()); }

    CTestOwner m_owner;
    std::unique_ptr<CLocalGameHost> m_host;
    CUdpSocket m_sink;
};

} // namespace velt::test
