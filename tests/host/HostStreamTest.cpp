#include <gtest/gtest.h>

#include <thread>

#include "host/packets/GamePacket.h"
#include "tests/doubles/HostRig.h"
#include "tools/gamesim/CGameSimulator.h"

namespace velt::test
{
namespace
{

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

Bytes Data(std::size_t size, std::uint8_t fill = 0xAB) { return Bytes(size, fill); }

// A host whose server takes requests and never answers: the test hands chunks in itself, as
// the receive thread would.
struct ChunkRig
{
    ChunkRig()
    {
        m_rig.m_owner.SetAnswering(CTestOwner::Answering::kSilent);
    }
    // A game in the lobby: a session is active.
    void ConnectGame()
    {
        ASSERT_TRUE(m_rig.Start());
        ASSERT_TRUE(m_game.Connect(m_rig.Port()) && m_game.Join() && m_game.MapReport());
        m_game.LobbyLines();
    }
    void Append(std::uint32_t offset, std::uint32_t length, std::uint16_t seconds = 0)
    {
        const Bytes data = Data(length);
        Host().AppendStreamChunk(offset, data.data(), length, seconds);
    }
    CLocalGameHost& Host() { return *m_rig.m_host; }
    std::vector<std::uint32_t> Offsets() const
    {
        std::vector<std::uint32_t> offsets;
        for (const auto& request : m_rig.m_owner.Requests())
            offsets.push_back(request.m_offset);
        return offsets;
    }

    HostRig m_rig;
    CScriptedGame m_game;
};

TEST(HostStream, FullChunksChainOnlyWhileAGameIsConnected)
{
    {
        ChunkRig rig;
        rig.Append(0, 2000, 12);
        EXPECT_TRUE(rig.Offsets().empty()) << "requested before the game connected";
        EXPECT_EQ(rig.Host().StreamSize(), 2000u);
        EXPECT_EQ(rig.Host().MatchSeconds(), 12);
    }
    ChunkRig rig;
    rig.ConnectGame();
    ASSERT_TRUE(rig.m_rig.m_owner.WaitForRequests(1, kWaitMs));
    EXPECT_EQ(rig.Offsets(), std::vector<std::uint32_t>{0}) << "the first request, at connect";
    EXPECT_EQ(rig.m_rig.m_owner.Requests()[0].m_matchId, 42u);
    rig.Append(0, 2000);
    EXPECT_EQ(rig.Offsets(), (std::vector<std::uint32_t>{0, 2000})) << "a full chunk chains at once";
    rig.Append(2000, 1999, 30);
    EXPECT_EQ(rig.Offsets().size(), 2u) << "a short chunk does not chain";
    EXPECT_EQ(rig.Host().StreamSize(), 3999u);
    EXPECT_EQ(rig.Host().MatchSeconds(), 30);
    // Only the next bytes count: an answer below the end, or past it, changes nothing.
    rig.Append(1000, 500, 31);
    rig.Append(5000, 2000, 32);
    EXPECT_EQ(rig.Host().StreamSize(), 3999u);
    EXPECT_EQ(rig.Host().MatchSeconds(), 30);
    EXPECT_EQ(rig.Offsets().size(), 2u);
}

TEST(HostStream, EmptyChunksEndMarkersAndChunksPastTheBuffer)
{
    ChunkRig rig;
    rig.ConnectGame();
    rig.Append(0, 100, 5);
    rig.Append(100, 0, 9);
    EXPECT_EQ(rig.Host().StreamSize(), 100u);
    EXPECT_EQ(rig.Host().MatchSeconds(), 5) << "an empty chunk carries no match length";
    EXPECT_FALSE(rig.Host().CaughtUp()) << "not low on data, so not caught up";
    const auto lack = rig.m_game.Read();
    ASSERT_TRUE(lack);
    EXPECT_EQ(ChatText(*lack), "Lack of data from server!");

    rig.Append(100, 2001);
    EXPECT_TRUE(rig.Host().StreamEnded());
    EXPECT_EQ(rig.Host().StreamSize(), 100u);
    rig.Append(100, 50);
    EXPECT_EQ(rig.Host().StreamSize(), 100u) << "nothing follows the end";
}

// The buffer is the limit of a match: the chunk that fills it is taken; one that would pass its
// end is refused, the viewer is told, and the stream ends there.
TEST(HostStream, ChunksAtTheBuffersEnd)
{
    constexpr std::uint32_t kCapacity = CLocalGameHost::kStreamCapacity;
    struct Row
    {
        std::uint32_t m_lastLength;
        bool m_fits;
    };
    for (const Row row : {Row{kCapacity % 2000, true}, Row{2000, false}})
    {
        ChunkRig rig;
        rig.ConnectGame();
        std::uint32_t offset = 0;
        for (; offset + 2000 <= kCapacity; offset += 2000)
            rig.Append(offset, 2000);
        rig.Append(offset, row.m_lastLength);
        EXPECT_EQ(rig.Host().StreamSize(), row.m_fits ? kCapacity : offset) << row.m_lastLength;
        EXPECT_EQ(rig.Host().StreamEnded(), !row.m_fits) << row.m_lastLength;
        if (row.m_fits)
            continue;
        const auto line = rig.m_game.Read();
        ASSERT_TRUE(line);
        EXPECT_EQ(ChatText(*line), "[VELT] Sorry, this match is too long to continue!");
    }
}

TEST(HostStream, ListenPortGoesIntoTheAnnouncement)
{
    struct Row
    {
        std::size_t m_length;
        std::uint32_t m_port;
    };
    for (const Row row : {Row{120, 10000}, Row{45, 0x1234ABCD}, Row{2, 6113}})
    {
        ReplayHeader header;
        const Bytes announcement(row.m_length, 0x55);
        ASSERT_TRUE(header.SetPacket(ReplayHeader::kAnnouncementOffset,
                                     ReplayHeader::kAnnouncementLengthOffset,
                                     ReplayHeader::kAnnouncementSize, announcement));
        CTestOwner owner;
        CLocalGameHost host(owner);
        host.SetHeader(header.m_bytes);
        host.SetListenPort(row.m_port);
        const ReplayHeader patched = host.HeaderCopy();
        const std::size_t last = ReplayHeader::kAnnouncementOffset + row.m_length - 2;
        EXPECT_EQ(patched.U16(last), static_cast<std::uint16_t>(row.m_port));
        EXPECT_EQ(patched.U8(last - 1), row.m_length > 2 ? 0x55 : 0);
        EXPECT_EQ(host.Port(), row.m_port);
    }
    // 10000 in a 120-byte announcement: 10 27 at offsets 118 and 119.
    ReplayHeader header;
    header.SetPacket(ReplayHeader::kAnnouncementOffset, ReplayHeader::kAnnouncementLengthOffset,
                     ReplayHeader::kAnnouncementSize, Bytes(120, 0));
    header.SetU8(ReplayHeader::kPlayerCountOffset, 3);
    CTestOwner owner;
    CLocalGameHost host(owner);
    host.SetListenPort(10000);
    host.SetHeader(header.m_bytes); // the header may come after the port
    EXPECT_EQ(host.HeaderCopy().U8(54 + 118), 0x10);
    EXPECT_EQ(host.HeaderCopy().U8(54 + 119), 0x27);
    // A one-byte announcement has no room for a port: nothing is written before it.
    header.SetPacket(ReplayHeader::kAnnouncementOffset, ReplayHeader::kAnnouncementLengthOffset,
                     ReplayHeader::kAnnouncementSize, Bytes(1, 0xF7));
    host.SetHeader(header.m_bytes);
    host.SetListenPort(0xFFFF);
    EXPECT_EQ(host.HeaderCopy().U8(ReplayHeader::kPlayerCountOffset), 3);
}

TEST(HostStream, PlayerLookupsAndTheMapPath)
{
    HeaderOptions options;
    options.m_players = {{"Alice", 0}, {"", 1}, {"Watcher", 12}};
    CTestOwner owner;
    CLocalGameHost host(owner);
    host.SetHeader(BuildTestHeader(options));
    struct Row
    {
        std::uint8_t m_id;
        const char* m_name;
        bool m_player;
    };
    const Row rows[] = {
        {1, "Alice", true},  {2, "UNKNOWN", true}, {3, "Watcher", false}, {9, "UNKNOWN", true},
        {13, "UNKNOWN", true}, {0, "UNKNOWN", true}, {255, "UNKNOWN", true},
    };
    for (const auto& row : rows)
    {
        EXPECT_EQ(host.HeaderCopy().PlayerName(row.m_id), row.m_name) << int(row.m_id);
        EXPECT_EQ(host.HeaderCopy().IsPlayerSlot(row.m_id), row.m_player) << int(row.m_id);
    }
    EXPECT_EQ(host.MapPath(), "Maps\\Test\\Arena.w3x");

    // A path without its NUL is cut at the field's size, never read past the header.
    ReplayHeader header;
    std::fill(header.m_bytes.begin() + ReplayHeader::kMapPathOffset, header.m_bytes.end(), 'A');
    host.SetHeader(header.m_bytes);
    EXPECT_EQ(host.MapPath(), std::string(CLocalGameHost::kMapPathCapacity - 1, 'A'));
    host.SetHeader(Bytes(100, 'B'));
    EXPECT_EQ(host.MapPath(), "");
}

TEST(HostStream, ListenerFailuresAreReported)
{
    CTcpListener taken;
    ASSERT_EQ(taken.Open("127.0.0.1", 0), CTcpListener::Error::kNone);
    CTestOwner owner;
    CLocalGameHost host(owner);
    host.SetListenPort(taken.Port());
    EXPECT_FALSE(host.StartListener());
    EXPECT_EQ(owner.RecordedNotices().Texts(), Lines{"Stream socket bind error"});
}

struct EndRow
{
    const char* m_name;
    bool m_leaveAck;      // the game is told with F7 1B 04 00
    std::string m_line;   // a line the game gets on the way, if any
};

// Every way a session ends; each leaves the host ready for the next listener start.
TEST(HostStream, EachWayASessionEnds)
{
    const Bytes stream = CStreamBuilder().Slots(60).Take();
    const std::size_t slotSize = ActionSlot(100, 1, {1}).size();
    const EndRow rows[] = {
        {"stream ends at a packet boundary", true, ""},
        {"stream ends inside a packet", false, ""},
        {"the game leaves", true, ""},
        {"the game leaves while halted", true, "[VELT] Not enough data,buffering.."},
        {"the game vanishes", false, ""},
        {"the server goes silent", true, ""},
        {"the host is stopped", false, ""},
    };
    // Each row has its own host, ports and game.
    SideBySide(std::size(rows), std::size(rows),
               [&](std::size_t i)
               {
                   const auto& row = rows[i];
                   const std::string name = row.m_name;
                   GameSimScript script;
                   HostRig rig;
                   Bytes served = stream;
                   std::size_t available = stream.size();
                   bool ended = true;
                   if (name == "stream ends inside a packet")
                       served.insert(served.end(), {0xF7, 0x0C, 0x20, 0x00, 0x64});
                   if (name == "the game leaves")
                       script.m_leaveAtGameTimeMs = 2000;
                   if (name == "the game vanishes")
                   {
                       script.m_leaveAtGameTimeMs = 2000;
                       script.m_vanishAtGameTimeMs = true;
                   }
                   if (name == "the game leaves while halted" || name == "the server goes silent" ||
                       name == "the host is stopped")
                   {
                       ended = false;
                       available = 30 * slotSize + (name == "the game leaves while halted" ? 3 : 0);
                   }
                   if (served.size() != stream.size())
                       available = served.size();
                   rig.m_owner.SetStream(served, static_cast<std::uint32_t>(available), ended);
                   CGameSimulator sim(script);
                   ASSERT_TRUE(sim.Start());
                   ASSERT_TRUE(rig.Start(sim.AnnouncePort()));
                   ASSERT_TRUE(sim.WaitFor(
                       [](const GameSimRecord& r) { return r.m_gameTimeMs >= 2000; }, kWaitMs))
                       << name;
                   if (name == "the game leaves while halted")
                   {
                       ASSERT_TRUE(sim.WaitFor([](const GameSimRecord& r)
                                               { return r.m_emptyTimeSlots >= 3; },
                                               kWaitMs));
                       sim.Leave();
                   }
                   if (name == "the server goes silent")
                       rig.m_owner.SetAnswering(CTestOwner::Answering::kSilent);
                   if (name == "the host is stopped")
                       rig.m_host->Stop();
                   ASSERT_TRUE(rig.m_host->WaitSessionEnded(kWaitMs)) << name;
                   ASSERT_TRUE(sim.WaitFinished(kWaitMs)) << name;
                   const GameSimRecord record = sim.Record();
                   EXPECT_EQ(record.m_leaveAckReceived, row.m_leaveAck) << name;
                   if (!row.m_line.empty())
                   {
                       EXPECT_NE(std::find(record.m_gameLines.begin(), record.m_gameLines.end(),
                                           row.m_line),
                                 record.m_gameLines.end())
                           << name;
                   }
                   EXPECT_FALSE(rig.m_host->SessionActive()) << name;
                   EXPECT_EQ(rig.m_host->SessionsEnded(), 1u) << name;
               });
}

// Destroying a host never waits on a blocked accept or read, and no thread outlives it (the
// sanitizer builds check the latter).
TEST(HostStream, DestructionWakesEveryThread)
{
    {
        HostRig rig; // listening, no game: the accept thread is blocked
        ASSERT_TRUE(rig.Start());
    }
    {
        HostRig rig; // a game in the lobby: the session is blocked in a read
        ASSERT_TRUE(rig.Start());
        CScriptedGame game;
        ASSERT_TRUE(game.Connect(rig.Port()) && game.Join() && game.MapReport());
        game.LobbyLines();
    }
    {
        HostRig rig; // in game, halted while buffering, the server silent
        const Bytes stream = CStreamBuilder().Slots(20).Take();
        rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(stream.size() - 3), false);
        ASSERT_TRUE(rig.Start());
        CScriptedGame game;
        ASSERT_TRUE(rig.JoinAndStart(game));
        for (int empty = 0; empty < 3;)
        {
            const auto packet = game.Read();
            ASSERT_TRUE(packet);
            if (IsType(*packet, GamePacketType::kIncomingAction))
            {
                empty += IsEmptySlot(*packet) ? 1 : 0;
                ASSERT_TRUE(game.Keepalive());
            }
        }
        rig.m_owner.SetAnswering(CTestOwner::Answering::kSilent);
    }
    {
        // Stopped, then listening again on the same host: the buffer is replayed.
        HostRig rig;
        const Bytes stream = CStreamBuilder().Slots(10).Take();
        rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(stream.size()), true);
        ASSERT_TRUE(rig.Start());
        rig.m_host->Stop();
        EXPECT_EQ(rig.m_host->SessionsEnded(), 0u);
        ASSERT_TRUE(rig.m_host->StartListener());
        CScriptedGame game;
        ASSERT_TRUE(rig.JoinAndStart(game));
    }
}

} // namespace
} // namespace velt::test
