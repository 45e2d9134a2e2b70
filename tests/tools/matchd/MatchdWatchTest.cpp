#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "host/CLocalGameHost.h"
#include "host/HostTimings.h"
#include "host/packets/GamePacketFramer.h"
#include "host/packets/PlayPackets.h"
#include "platform/UserNotice.h"
#include "server/CMatchServerClient.h"
#include "tests/doubles/CManualClock.h"
#include "tests/tools/matchd/MatchdTestSupport.h"
#include "tests/doubles/MatchdRig.h"
#include "tests/doubles/WatchRig.h"
#include "tools/gamesim/CGameSimulator.h"
#include "tools/matchd/SyntheticMatchGenerator.h"

// A match watched from end to end: the stand-in server, the program's real client and local
// game host, and the game simulator. What reaches the game must be the match's stream.

using namespace velt;

namespace
{

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kWatchTimeoutMs = 60000;

// The packets of a type, in order, from a stream or from what the game received.
std::vector<Bytes> OfType(const std::vector<Bytes>& packets, std::uint8_t type)
{
    std::vector<Bytes> out;
    for (const Bytes& packet : packets)
        if (packet.size() >= 4 && packet[1] == type)
            out.push_back(packet);
    return out;
}

std::vector<Bytes> Split(const Bytes& stream)
{
    std::vector<Bytes> packets;
    std::span<const std::uint8_t> rest(stream);
    while (!rest.empty())
    {
        const GameFrame frame = FrameGamePacket(rest);
        if (frame.m_kind != GameFrame::Kind::kWhole)
            break;
        packets.emplace_back(rest.begin(),
                             rest.begin() + static_cast<std::ptrdiff_t>(frame.m_length));
        rest = rest.subspan(frame.m_length);
    }
    return packets;
}

// Time slots as recorded: the host's own halting slots (interval 0, no actions) left out.
std::vector<Bytes> RecordedSlots(const std::vector<Bytes>& packets)
{
    std::vector<Bytes> slots;
    for (Bytes& slot : OfType(packets, 0x0C))
        if (slot != Bytes{0xF7, 0x0C, 0x06, 0x00, 0x00, 0x00})
            slots.push_back(std::move(slot));
    return slots;
}

class MatchdWatchTest : public ::testing::Test, protected test::MatchdRig, protected test::WatchRig
{
protected:
    void StartServer(std::uint32_t live)
    {
        SyntheticSettings synthetic;
        synthetic.m_seed = 17;
        synthetic.m_count = 2;
        synthetic.m_liveCount = live;
        synthetic.m_minSeconds = 120;
        synthetic.m_maxSeconds = 150;
        Serve(GenerateSyntheticMatches(synthetic), m_clock);
    }

    // The game waits for an announcement; the client asks for the header, its host announces.
    void Watch(std::uint32_t matchId)
    {
        GameSimScript script;
        script.m_lobbyChat = {"/fs"}; // the map file is not installed here
        ASSERT_TRUE(StartGame(script));
        MakeClient(m_notices, test::QuickTimings(), LocalPortSettings{0, 0});
        ASSERT_TRUE(Connect(m_server->Port()));
        ASSERT_TRUE(WatchFromTheList(matchId, kWatchTimeoutMs));
    }

    void ExpectGameGotTheStream(const SyntheticMatch& match, const GameSimRecord& record)
    {
        EXPECT_TRUE(record.m_gameStarted);
        EXPECT_TRUE(record.m_leaveAckReceived);
        EXPECT_EQ(record.m_checksumErrors, 0u);
        EXPECT_EQ(record.m_malformedPackets, 0u);
        EXPECT_FALSE(record.m_streamCorrupt);
        const std::vector<Bytes> recorded = Split(match.m_stream);
        EXPECT_EQ(RecordedSlots(record.m_packets), OfType(recorded, 0x0C));
        EXPECT_EQ(OfType(record.m_packets, 0x07), OfType(recorded, 0x07));
        // Recorded chat reaches the game while the display switches are on.
        for (const Bytes& chat : OfType(recorded, 0x0F))
        {
            const auto parsed = ParseChatFromHost(chat);
            ASSERT_TRUE(parsed);
            EXPECT_NE(
                std::find(record.m_gameLines.begin(), record.m_gameLines.end(), parsed->m_text),
                record.m_gameLines.end())
                << parsed->m_text;
        }
    }

    CManualClock m_clock;
    CRecordingNotice m_notices;

    void TearDown() override
    {
        StopViewer();
        StopServing();
    }
};

} // namespace

TEST_F(MatchdWatchTest, CompletedMatchReachesTheGameWholeThroughTheRealClient)
{
    StartServer(0);
    Watch(2);
    const auto host = m_client->FindHost(2);
    ASSERT_TRUE(host);
    const ReplayHeader header = host->HeaderCopy();
    const Bytes served = m_archive->Header(2);
    // The host keeps the server's header, only its own port in the announcement's last bytes.
    const std::size_t portAt = ReplayHeader::kAnnouncementOffset + header.Announcement().size() - 2;
    EXPECT_TRUE(std::equal(served.begin(), served.begin() + portAt, header.m_bytes.begin()));
    EXPECT_TRUE(
        std::equal(served.begin() + portAt + 2, served.end(), header.m_bytes.begin() + portAt + 2));
    EXPECT_EQ(host->MapPath(), m_archive->Find(2)->m_info.m_mapPath);

    ASSERT_TRUE(m_game->WaitFinished(kWatchTimeoutMs));
    ExpectGameGotTheStream(*m_archive->Find(2), m_game->Record());
    EXPECT_EQ(host->StreamSize(), m_archive->Find(2)->m_stream.size());
    EXPECT_TRUE(host->StreamEnded());
    EXPECT_EQ(m_stats.Stats(2).m_visits, 1u);
    EXPECT_TRUE(m_notices.Texts().empty());
}

TEST_F(MatchdWatchTest, LiveMatchIsWatchedAsItIsPlayedUntilItsEnd)
{
    StartServer(1);
    m_clock.Advance(30000); // the viewer comes 30 s into the match
    Watch(1);
    const SyntheticMatch& live = *m_archive->Find(1);
    EXPECT_EQ(m_client->FindHost(1)->HeaderCopy().U8(ReplayHeader::kNotLiveOffset), 0);
    // The match goes on while the game watches: game time passes on the server's clock.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kWatchTimeoutMs);
    while (!m_game->WaitFinished(20) && std::chrono::steady_clock::now() < deadline)
        m_clock.Advance(500);
    ASSERT_TRUE(m_game->Finished());
    const GameSimRecord record = m_game->Record();
    ExpectGameGotTheStream(live, record);
    // Caught up with the live edge, then held there.
    const auto& lines = record.m_gameLines;
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string& line)
                           { return line.find("behind, fast forward") != std::string::npos; }),
              lines.end());
    EXPECT_GE(m_clock.NowMs() - 1000, live.m_durationMs);
    const auto info = m_client->FindMatch(1);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->m_length, live.m_durationMs / 1000);
}
