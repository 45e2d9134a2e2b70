// The responder and the hosts that publish through it, over real sockets on the multicast DNS
// group. These run only inside a network namespace of their own that has the loopback interface
// alone (tests/host/mdns/in-loopback-namespace.sh); anywhere else they skip, so that no multicast
// reaches a real interface.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/mdns/BlizzardGameRecord.h"
#include "host/mdns/CMdnsResponder.h"
#include "tests/PollUntil.h"
#include "tests/doubles/CManualClock.h"
#include "tests/doubles/HostRig.h"
#include "tools/gamesim/CGameSimulator.h"

using namespace velt;
using namespace velt::test;

namespace
{

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kQuietMs = 600;
constexpr std::uint64_t kCreateTime = 1700000000;

bool InLoopbackNamespace()
{
    const char* flag = std::getenv("VELT_IN_LOOPBACK_NAMESPACE");
    if (flag == nullptr || std::string(flag) != "1")
        return false;
    for (const LocalInterfaceAddress& address : LocalIPv4Addresses())
        if (!address.m_loopback)
            return false;
    return true;
}

#define SKIP_OUTSIDE_THE_NAMESPACE()                                                               \
    if (!InLoopbackNamespace())                                                                    \
    GTEST_SKIP() << "multicast runs only in a network namespace with loopback alone "              \
                    "(in-loopback-namespace.sh)"

struct Heard
{
    std::uint64_t m_atMs = 0;
    DnsMessage m_message;
    std::uint16_t m_fromPort = 0;
};

// A browser's socket: on the group through loopback, or (one-shot) on a port of its own.
class CTestAsker
{
public:
    explicit CTestAsker(bool oneShot = false)
    {
        EXPECT_EQ(m_socket.Open(oneShot ? 0 : kMdnsPort, 255), CMulticastSocket::Error::kNone);
        if (!oneShot)
        {
            EXPECT_TRUE(m_socket.JoinGroup(kMdnsGroup, "127.0.0.1"));
        }
        EXPECT_TRUE(m_socket.SetMulticastInterface("127.0.0.1"));
    }

    void Ask(const DnsQuestion& question, std::uint16_t id = 0)
    {
        DnsMessage query;
        query.m_id = id;
        query.m_questions = {question};
        const Bytes bytes = BuildDnsMessage(query);
        m_socket.SendTo(kMdnsGroup, kMdnsPort, bytes.data(), bytes.size());
    }

    // The next response heard (queries are passed over), or nothing within the time.
    std::optional<Heard> Next(std::uint32_t timeoutMs = kWaitMs)
    {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        Bytes buffer(kMdnsMaxMessage + 1);
        while (std::chrono::steady_clock::now() < deadline)
        {
            DatagramSource source;
            const int size = m_socket.RecvFrom(buffer.data(), buffer.size(), 20, source);
            if (size <= 0)
                continue;
            auto message = ParseDnsMessage(std::span(buffer).first(static_cast<std::size_t>(size)));
            EXPECT_TRUE(message) << "every datagram on the group parses";
            if (message && message->IsResponse())
                return Heard{Now(), std::move(*message), source.m_port};
        }
        return std::nullopt;
    }

    static std::uint64_t Now()
    {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }

private:
    CMulticastSocket m_socket;
};

MdnsSettings QuickSettings()
{
    MdnsSettings settings;
    settings.m_pollMs = 10;
    settings.m_unixSeconds = [] { return kCreateTime; };
    return settings;
}

Bytes Announcement(std::uint32_t version, const std::string& name = "Watch me",
                   std::uint16_t port = 10000)
{
    GameInfoParams params;
    params.m_version = version;
    params.m_gameName = name;
    params.m_stat.m_mapPath = "Maps\\x.w3x";
    params.m_stat.m_hostName = "VELT";
    params.m_port = port;
    return BuildGameInfo(params);
}

bool IsGoodbye(const DnsMessage& message)
{
    return !message.m_answers.empty() && message.m_answers[0].m_ttl == 0;
}

bool IsAnnouncementOf(const DnsMessage& message, const DnsName& instance)
{
    return message.m_answers.size() == MdnsGame::kRecordCount - 1 &&
           message.m_answers[0].m_ttl > 0 && DnsNamesEqual(message.m_answers[0].m_target, instance);
}

} // namespace

// Announced twice a second apart, again at each refresh; a browser that starts later finds
// the game by asking (by multicast, or as a one-shot asker); a goodbye when withdrawn and when
// the responder ends.
TEST(MdnsResponderTest, AnnouncesAnswersAndSaysGoodbye)
{
    SKIP_OUTSIDE_THE_NAMESPACE();
    CManualClock clock;
    CRecordingNotice notices;
    CTestAsker early;
    const int key = 0;
    const DnsName instance = GameInstanceName("_Watch me");
    {
        MdnsSettings settings = QuickSettings();
        settings.m_timings.m_probeCount = 0; // probing has tests of its own
        CMdnsResponder responder(notices, clock, settings);
        responder.Publish(&key, Announcement(10032));
        ASSERT_TRUE(responder.Running());
        auto heard = early.Next();
        ASSERT_TRUE(heard);
        EXPECT_TRUE(IsAnnouncementOf(heard->m_message, instance));
        EXPECT_EQ(heard->m_fromPort, kMdnsPort);
        EXPECT_FALSE(early.Next(kQuietMs)) << "the second waits for its second";
        clock.Advance(999);
        EXPECT_FALSE(early.Next(kQuietMs));
        clock.Advance(1);
        heard = early.Next();
        ASSERT_TRUE(heard);
        EXPECT_TRUE(IsAnnouncementOf(heard->m_message, instance));
        clock.Advance(MdnsTimings{}.m_refreshMs);
        heard = early.Next();
        ASSERT_TRUE(heard) << "the refresh";
        EXPECT_TRUE(IsAnnouncementOf(heard->m_message, instance));

        clock.Advance(MdnsTimings{}.m_multicastGapMs);
        CTestAsker late;
        late.Ask({GameSubtypeName(kProductFrozenThrone, 10032), DnsType::kPtr, kDnsClassIn, false});
        for (CTestAsker* browser : {&late, &early})
        {
            heard = browser->Next();
            ASSERT_TRUE(heard);
            ASSERT_EQ(heard->m_message.m_answers.size(), 1u);
            EXPECT_EQ(heard->m_message.m_answers[0].m_target, instance);
            EXPECT_EQ(heard->m_message.m_additionals.size(), 4u);
        }
        CTestAsker oneShot(true);
        oneShot.Ask({instance, DnsType::kSrv, kDnsClassIn, false}, 0x7171);
        heard = oneShot.Next();
        ASSERT_TRUE(heard) << "a one-shot asker is answered on its own port";
        EXPECT_EQ(heard->m_message.m_id, 0x7171);
        ASSERT_EQ(heard->m_message.m_answers.size(), 1u);
        EXPECT_EQ(heard->m_message.m_answers[0].m_port, 10000);
        EXPECT_LE(heard->m_message.m_answers[0].m_ttl, kMdnsLegacyTtl);

        responder.Withdraw(&key);
        heard = early.Next();
        ASSERT_TRUE(heard);
        EXPECT_TRUE(IsGoodbye(heard->m_message));
        EXPECT_FALSE(responder.Shows(&key));

        responder.Publish(&key, Announcement(10100));
        heard = early.Next();
        ASSERT_TRUE(heard);
        EXPECT_TRUE(IsAnnouncementOf(heard->m_message, instance));
    }
    const auto last = early.Next();
    ASSERT_TRUE(last) << "the responder's end says goodbye";
    EXPECT_TRUE(IsGoodbye(last->m_message));
    EXPECT_TRUE(notices.Texts().empty());
}

// The host publishes when its listener starts, the goodbye comes when the game joins, after
// /back the game finds the match again, and Watch! once more shows it again until the host
// stops: the stand-in game finds it over multicast DNS both times, sends the 0x59 packets of a
// 1.32 game, and is never told of an invalid packet.
TEST(MdnsResponderTest, AHostIsShownUntilTheGameJoinsAndAgainAfterBack)
{
    SKIP_OUTSIDE_THE_NAMESPACE();
    CTestAsker browser;
    CRecordingNotice notices;
    CMdnsResponder responder(notices, CSystemClock::Instance(), QuickSettings());
    HeaderOptions header;
    header.m_gameVersion = 10032;
    HostRig rig(header);
    const Bytes stream = CStreamBuilder().Slots(120).Take();
    rig.m_owner.SetStream(stream, static_cast<std::uint32_t>(stream.size()), true);
    rig.m_host->SetMdnsPublisher(&responder);
    ASSERT_TRUE(rig.Start());
    const DnsName instance = GameInstanceName("_VELT test");

    GameSimScript script;
    script.m_mdnsVersion = 10032;
    script.m_lobbyChat = {"/fs"};
    script.m_gameChat = {{3000, "/back 0:01"}};
    script.m_rejoins = 1;
    CGameSimulator game(script);
    ASSERT_TRUE(game.Start());
    ASSERT_TRUE(game.WaitFor(
        [](const GameSimRecord& record) { return record.m_sessionsEnded >= 2; }, 3 * kWaitMs));
    // Watch! once more: the listener starts again, and so does the game's showing; the host's
    // stop withdraws it.
    ASSERT_TRUE(rig.m_host->WaitSessionEnded(kWaitMs));
    ASSERT_TRUE(rig.m_host->Resume());
    ASSERT_TRUE(PollUntil([&] { return responder.Announced(rig.m_host.get()); }, kWaitMs));
    rig.m_host->Stop();

    std::vector<std::string> seen; // "shown" and "gone", as they changed
    for (auto heard = browser.Next(kQuietMs * 2); heard; heard = browser.Next(kQuietMs * 2))
    {
        const char* now = IsGoodbye(heard->m_message) ? "gone" : "shown";
        if (heard->m_message.m_answers.empty() ||
            !DnsNamesEqual(heard->m_message.m_answers[0].m_target, instance))
            continue;
        if (seen.empty() || seen.back() != now)
            seen.push_back(now);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"shown", "gone", "shown", "gone", "shown", "gone"}));
    const GameSimRecord record = game.Record();
    EXPECT_EQ(record.m_sessionsJoined, 2u);
    EXPECT_EQ(record.m_foundGameName, "VELT test");
    EXPECT_EQ(record.m_foundSrvPort, rig.Port());
    EXPECT_EQ(record.m_playerExtrasSent, 6u);
    EXPECT_EQ(record.m_malformedPackets, 0u) << "player packets with 1.32's padding";
    EXPECT_EQ(LinesStartingWith(record, "invalid"), 0u);
    EXPECT_TRUE(record.m_leaveAckReceived);
    EXPECT_FALSE(responder.Shows(rig.m_host.get()));
}

// What hosts of different games show: a 1.26 game nothing (the UDP announcement alone), two
// newer games two instances.
TEST(MdnsResponderTest, OldGamesShowNothingAndTwoHostsShowTwoInstances)
{
    SKIP_OUTSIDE_THE_NAMESPACE();
    CTestAsker browser;
    CRecordingNotice notices;
    CMdnsResponder responder(notices, CSystemClock::Instance(), QuickSettings());
    {
        HostRig old;
        old.m_host->SetMdnsPublisher(&responder);
        ASSERT_TRUE(old.Start());
        Bytes datagram(512);
        EXPECT_GT(old.m_sink.RecvFrom(datagram.data(), datagram.size(), kWaitMs), 0)
            << "the UDP announcement goes on";
        EXPECT_FALSE(browser.Next(kQuietMs));
        EXPECT_FALSE(responder.Running()) << "nothing to show, no socket";
    }
    HeaderOptions first;
    first.m_gameVersion = 10032;
    HeaderOptions second = first;
    second.m_gameVersion = 10100;
    HostRig a(first);
    HostRig b(second);
    for (HostRig* rig : {&a, &b})
    {
        rig->m_host->SetMdnsPublisher(&responder);
        ASSERT_TRUE(rig->Start());
    }
    std::vector<DnsName> instances;
    std::vector<std::uint16_t> ports;
    for (auto heard = browser.Next(kQuietMs * 2); heard && instances.size() < 2;
         heard = browser.Next(kQuietMs * 2))
    {
        const auto& answers = heard->m_message.m_answers;
        if (answers.size() < 3 ||
            std::find(instances.begin(), instances.end(), answers[0].m_target) != instances.end())
            continue;
        instances.push_back(answers[0].m_target);
        ports.push_back(answers[2].m_port);
    }
    ASSERT_EQ(instances.size(), 2u);
    EXPECT_NE(instances[0], instances[1]);
    std::sort(ports.begin(), ports.end());
    std::vector<std::uint16_t> expected = {a.Port(), b.Port()};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ports, expected);
}

// Where multicast DNS cannot work (here: an interface that this machine does not have), the
// user is told once, as information, and the hosts go on with the UDP announcement.
TEST(MdnsResponderTest, AGroupThatCannotBeJoinedIsToldOnce)
{
    SKIP_OUTSIDE_THE_NAMESPACE();
    CRecordingNotice notices;
    MdnsSettings settings = QuickSettings();
    settings.m_sendInterface = "192.0.2.1";
    CMdnsResponder responder(notices, CSystemClock::Instance(), settings);
    HeaderOptions header;
    header.m_gameVersion = 10032;
    HostRig first(header);
    HostRig second(header);
    for (HostRig* rig : {&first, &second})
    {
        rig->m_host->SetMdnsPublisher(&responder);
        ASSERT_TRUE(rig->Start());
        Bytes datagram(512);
        EXPECT_GT(rig->m_sink.RecvFrom(datagram.data(), datagram.size(), kWaitMs), 0);
    }
    EXPECT_FALSE(responder.Running());
    const auto texts = notices.Texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("Warcraft III 1.30 and newer will not list this match"),
              std::string::npos);
    EXPECT_NE(texts[0].find("Versions up to 1.29 list it as before."), std::string::npos);
}

// An asker that shares port 5353 and joined the group before the responder opened is answered
// by multicast whichever way it asks: a unicast datagram to the shared port would reach one of
// its sockets only. A one-shot asker gets its unicast answer.
TEST(MdnsResponderTest, AnAskerThatSharesThePortIsAnsweredEitherWay)
{
    SKIP_OUTSIDE_THE_NAMESPACE();
    CTestAsker asker; // bound to 5353 first
    CRecordingNotice notices;
    CMdnsResponder responder(notices, CSystemClock::Instance(), QuickSettings());
    const int key = 0;
    responder.Publish(&key, Announcement(10032));
    ASSERT_TRUE(PollUntil([&] { return responder.Announced(&key); }, kWaitMs));
    const DnsName subtype = GameSubtypeName(kProductFrozenThrone, 10032);
    while (asker.Next(1500)) // the two announcements
    {
    }
    for (const bool unicast : {true, false})
    {
        asker.Ask({subtype, DnsType::kPtr, kDnsClassIn, unicast});
        const auto heard = asker.Next();
        ASSERT_TRUE(heard) << (unicast ? "QU" : "QM");
        ASSERT_EQ(heard->m_message.m_answers.size(), 1u);
        EXPECT_EQ(heard->m_message.m_answers[0].m_target, GameInstanceName("_Watch me"));
        std::this_thread::sleep_for(std::chrono::milliseconds(1100)); // past the gap
    }
    CTestAsker oneShot(true);
    oneShot.Ask({subtype, DnsType::kPtr, kDnsClassIn, false}, 7);
    const auto heard = oneShot.Next();
    ASSERT_TRUE(heard);
    EXPECT_EQ(heard->m_message.m_id, 7);
}

// Two programs (two responders here) show games of one name: the second probes, is answered
// by the first and takes " (2)"; the first's goodbye names its own instance alone, and the
// second stays shown.
TEST(MdnsResponderTest, TwoProgramsWithOneGameNameTakeTwoNames)
{
    SKIP_OUTSIDE_THE_NAMESPACE();
    CTestAsker browser;
    CRecordingNotice notices;
    CMdnsResponder first(notices, CSystemClock::Instance(), QuickSettings());
    CMdnsResponder second(notices, CSystemClock::Instance(), QuickSettings());
    const int a = 0;
    const int b = 0;
    first.Publish(&a, Announcement(10032, "BNet", 10000));
    ASSERT_TRUE(PollUntil([&] { return first.Announced(&a); }, kWaitMs));
    second.Publish(&b, Announcement(10032, "BNet", 10001));
    ASSERT_TRUE(PollUntil([&] { return second.Announced(&b); }, kWaitMs));
    EXPECT_EQ(first.InstanceOf(&a), GameInstanceName("_BNet"));
    EXPECT_EQ(second.InstanceOf(&b), GameInstanceName("_BNet (2)"));

    while (browser.Next(kQuietMs))
    {
    }
    first.Withdraw(&a);
    for (auto heard = browser.Next(kQuietMs); heard; heard = browser.Next(kQuietMs))
    {
        if (!IsGoodbye(heard->m_message))
            continue;
        for (const DnsRecord& record : heard->m_message.m_answers)
        {
            EXPECT_TRUE(record.m_name == GameInstanceName("_BNet") ||
                        record.m_target == GameInstanceName("_BNet"));
        }
    }
    EXPECT_TRUE(second.Announced(&b));
    EXPECT_EQ(second.InstanceOf(&b), GameInstanceName("_BNet (2)"));
    EXPECT_TRUE(notices.Texts().empty());
}

// The clients of one program share its responder; it ends with its last holder.
TEST(MdnsResponderTest, ClientsOfOneProgramShareOneResponder)
{
    CRecordingNotice first;
    CRecordingNotice second;
    CMdnsResponder* shared = nullptr;
    {
        CSharedMdnsResponder one(first);
        CSharedMdnsResponder two(second);
        EXPECT_EQ(&one.Responder(), &two.Responder());
        shared = &one.Responder();
        auto three = std::make_unique<CSharedMdnsResponder>(second);
        EXPECT_EQ(&three->Responder(), shared);
    }
    CSharedMdnsResponder again(first);
    EXPECT_FALSE(again.Responder().Running());
}
