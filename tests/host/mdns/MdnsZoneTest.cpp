// What the responder sends about its games, without sockets: announcements, the schedule,
// answers to every kind of asker, and goodbyes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/mdns/BlizzardGameRecord.h"
#include "host/mdns/CMdnsZone.h"

using namespace velt;

namespace
{

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kCreateTime = 1700000000;
const int kHostA = 0;
const int kHostB = 1;

Bytes Announcement(std::uint32_t version, const std::string& name = "Watch me",
                   std::uint16_t port = 10000)
{
    GameInfoParams params;
    params.m_version = version;
    params.m_hostCounter = 5;
    params.m_entryKey = 0x01020304;
    params.m_gameName = name;
    params.m_stat.m_mapPath = "Maps\\(2)EchoIsles.w3x";
    params.m_stat.m_hostName = "VELT";
    params.m_port = port;
    return BuildGameInfo(params);
}

Bytes WithoutLastByte(Bytes bytes)
{
    bytes.pop_back();
    return bytes;
}

DnsMessage Decode(const MdnsDatagram& datagram)
{
    const auto message = ParseDnsMessage(datagram.m_bytes);
    EXPECT_TRUE(message);
    return message.value_or(DnsMessage{});
}

Bytes Query(std::vector<DnsQuestion> questions, std::uint16_t id = 0)
{
    DnsMessage query;
    query.m_id = id;
    query.m_questions = std::move(questions);
    return BuildDnsMessage(query);
}

const MdnsAsker kLoopbackAsker{"127.0.0.1", kMdnsPort, true, true};

// Timings that announce at once, for the tests of what follows the probes.
MdnsTimings Unprobed()
{
    MdnsTimings timings;
    timings.m_probeCount = 0;
    return timings;
}

std::vector<DnsType> Types(const std::vector<DnsRecord>& records)
{
    std::vector<DnsType> types;
    for (const DnsRecord& record : records)
        types.push_back(record.m_type);
    return types;
}

} // namespace

TEST(MdnsZoneTest, OnlyGamesFrom130OnAreShown)
{
    const struct
    {
        const char* m_what;
        Bytes m_announcement;
        bool m_shown;
    } rows[] = {{"1.26", Announcement(26), false},
                {"1.29", Announcement(29), false},
                {"1.30", Announcement(10030), true},
                {"1.32", Announcement(10032), true},
                {"2.0", Announcement(10100), true},
                {"cut short", WithoutLastByte(Announcement(10032)), false},
                {"not an announcement", {0xF7, 0x1E, 4, 0}, false}};
    for (const auto& row : rows)
    {
        CMdnsZone zone(Unprobed());
        EXPECT_EQ(zone.Publish(&kHostA, row.m_announcement, 0, kCreateTime).size(),
                  row.m_shown ? 1u : 0u)
            << row.m_what;
        EXPECT_EQ(zone.Shows(&kHostA), row.m_shown) << row.m_what;
        EXPECT_TRUE(zone.Due(100000).size() == (row.m_shown ? 1u : 0u)) << row.m_what;
    }
}

TEST(MdnsZoneTest, TheAnnouncementHoldsEveryRecordOfTheGame)
{
    CMdnsZone zone(Unprobed());
    const auto sent = zone.Publish(&kHostA, Announcement(10032, "Watch me", 10007), 0, kCreateTime);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].m_address, kMdnsGroup);
    EXPECT_EQ(sent[0].m_port, kMdnsPort);
    const DnsMessage message = Decode(sent[0]);
    EXPECT_EQ(message.m_id, 0);
    EXPECT_EQ(message.m_flags, 0x8400);
    EXPECT_TRUE(message.m_questions.empty());

    const DnsName instance = {"_Watch me", "_blizzard", "_udp", "local"};
    const DnsName host = {"velt-10007", "local"};
    const struct
    {
        DnsType m_type;
        DnsName m_name;
        std::uint32_t m_ttl;
        bool m_cacheFlush;
    } expected[] = {{DnsType::kPtr, BlizzardServiceName(), 4500, false},
                    {DnsType::kPtr, GameSubtypeName(kProductFrozenThrone, 10032), 4500, false},
                    {DnsType::kSrv, instance, 120, true},
                    {DnsType::kTxt, instance, 4500, true},
                    {DnsType::kBlizzardGame, instance, 4500, true}};
    ASSERT_EQ(message.m_answers.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i)
    {
        const DnsRecord& record = message.m_answers[i];
        EXPECT_EQ(record.m_type, expected[i].m_type) << i;
        EXPECT_EQ(record.m_name, expected[i].m_name) << i;
        EXPECT_EQ(record.m_ttl, expected[i].m_ttl) << i;
        EXPECT_EQ(record.m_cacheFlush, expected[i].m_cacheFlush) << i;
    }
    EXPECT_EQ(message.m_answers[0].m_target, instance);
    EXPECT_EQ(message.m_answers[1].m_target, instance);
    EXPECT_EQ(message.m_answers[2].m_port, 10007);
    EXPECT_EQ(message.m_answers[2].m_target, host);
    EXPECT_EQ(message.m_answers[3].m_data, Bytes{0});
    ASSERT_EQ(message.m_additionals.size(), 1u);
    const DnsRecord& address = message.m_additionals[0];
    EXPECT_EQ(address.m_name, host);
    EXPECT_EQ(address.m_type, DnsType::kA);
    EXPECT_EQ(address.m_ttl, 120u);
    EXPECT_TRUE(address.m_cacheFlush);
    EXPECT_EQ(address.m_data, (Bytes{127, 0, 0, 1}));
}

TEST(MdnsZoneTest, AnnouncesTwiceASecondApartThenRefreshes)
{
    MdnsTimings timings = Unprobed();
    CMdnsZone zone(timings);
    ASSERT_EQ(zone.Publish(&kHostA, Announcement(10030), 5000, kCreateTime).size(), 1u);
    const std::uint64_t second = 5000 + timings.m_secondAnnouncementMs;
    const std::uint64_t refresh = second + timings.m_refreshMs;
    const struct
    {
        std::uint64_t m_at;
        std::size_t m_sent;
    } steps[] = {{5000, 0},
                 {second - 1, 0},
                 {second, 1},
                 {second + 1, 0},
                 {refresh - 1, 0},
                 {refresh, 1},
                 {refresh + timings.m_refreshMs, 1}};
    for (const auto& step : steps)
        EXPECT_EQ(zone.Due(step.m_at).size(), step.m_sent) << step.m_at;
    EXPECT_LE(timings.m_refreshMs, 180000u) << "at least every 3 minutes";
    EXPECT_EQ(timings.m_secondAnnouncementMs, 1000u);
}

TEST(MdnsZoneTest, AGoodbyeRepeatsTheRecordsAtTtlZeroAndEndsEverything)
{
    CMdnsZone zone(Unprobed());
    const auto hello = zone.Publish(&kHostA, Announcement(10100), 0, kCreateTime);
    const auto goodbye = zone.Withdraw(&kHostA);
    ASSERT_EQ(goodbye.size(), 1u);
    const DnsMessage was = Decode(hello[0]);
    const DnsMessage gone = Decode(goodbye[0]);
    ASSERT_EQ(gone.m_answers.size(), was.m_answers.size());
    ASSERT_EQ(gone.m_additionals.size(), was.m_additionals.size());
    for (std::size_t i = 0; i < was.m_answers.size(); ++i)
    {
        DnsRecord expected = was.m_answers[i];
        expected.m_ttl = 0;
        EXPECT_EQ(gone.m_answers[i], expected) << i;
    }
    EXPECT_EQ(gone.m_additionals[0].m_ttl, 0u);
    EXPECT_FALSE(zone.Shows(&kHostA));
    EXPECT_TRUE(zone.Withdraw(&kHostA).empty());
    EXPECT_TRUE(zone.Due(1000000).empty());
    EXPECT_TRUE(zone.Answer(Query({{BlizzardServiceName(), DnsType::kPtr, kDnsClassIn, false}}),
                            kLoopbackAsker, 10000)
                    .empty());
}

TEST(MdnsZoneTest, AnswersEachAskerAndQuestionAsMulticastDnsWants)
{
    const DnsName instance = GameInstanceName("_Watch me");
    const DnsName host = GameHostName(10000);
    const DnsName subtype = GameSubtypeName(kProductFrozenThrone, 10032);
    const MdnsAsker lanAsker{"192.168.1.20", kMdnsPort, false, false};
    const MdnsAsker ownLanAddress{"192.168.1.5", kMdnsPort, false, true};
    const MdnsAsker oneShot{"127.0.0.1", 40000, true, true};
    enum class To
    {
        kNobody,
        kGroup,
        kAsker,
    };
    const std::vector<DnsType> kPtr = {DnsType::kPtr};
    const std::vector<DnsType> kInstance = {DnsType::kSrv, DnsType::kTxt, DnsType::kBlizzardGame};
    const std::vector<DnsType> kFollowPtr = {DnsType::kSrv, DnsType::kTxt, DnsType::kBlizzardGame,
                                             DnsType::kA};
    const std::vector<DnsType> kNone;
    const struct
    {
        const char* m_what;
        DnsQuestion m_question;
        MdnsAsker m_asker;
        To m_to;
        std::vector<DnsType> m_answers;
        std::vector<DnsType> m_additionals;
    } rows[] = {
        {"service pointer",
         {BlizzardServiceName(), DnsType::kPtr, kDnsClassIn, false},
         kLoopbackAsker,
         To::kGroup,
         kPtr,
         kFollowPtr},
        {"sub-type pointer",
         {subtype, DnsType::kPtr, kDnsClassIn, false},
         kLoopbackAsker,
         To::kGroup,
         kPtr,
         kFollowPtr},
        {"sub-type in capitals, class ANY",
         {DnsNameFromText("_W3XP2730._SUB._blizzard._udp.LOCAL"), DnsType::kAny, kDnsClassAny,
          false},
         kLoopbackAsker,
         To::kGroup,
         kPtr,
         kFollowPtr},
        {"another version's sub-type",
         {GameSubtypeName(kProductFrozenThrone, 10030), DnsType::kPtr, kDnsClassIn, false},
         kLoopbackAsker,
         To::kNobody,
         kNone,
         kNone},
        {"the instance, any type",
         {instance, DnsType::kAny, kDnsClassIn, false},
         kLoopbackAsker,
         To::kGroup,
         kInstance,
         {DnsType::kA}},
        {"the SRV record",
         {instance, DnsType::kSrv, kDnsClassIn, false},
         kLoopbackAsker,
         To::kGroup,
         {DnsType::kSrv},
         {DnsType::kA}},
        {"the game record",
         {instance, DnsType::kBlizzardGame, kDnsClassIn, false},
         kLoopbackAsker,
         To::kGroup,
         {DnsType::kBlizzardGame},
         kNone},
        {"the host's address",
         {host, DnsType::kA, kDnsClassIn, false},
         kLoopbackAsker,
         To::kGroup,
         {DnsType::kA},
         kNone},
        {"the host's IPv6 address",
         {host, DnsType::kAaaa, kDnsClassIn, false},
         kLoopbackAsker,
         To::kNobody,
         kNone,
         kNone},
        {"another class",
         {instance, DnsType::kAny, 3, false},
         kLoopbackAsker,
         To::kNobody,
         kNone,
         kNone},
        {"unicast bit, to a shared port: multicast",
         {subtype, DnsType::kPtr, kDnsClassIn, true},
         kLoopbackAsker,
         To::kGroup,
         kPtr,
         kFollowPtr},
        {"a one-shot asker",
         {subtype, DnsType::kPtr, kDnsClassIn, false},
         oneShot,
         To::kAsker,
         kPtr,
         kFollowPtr},
        {"this machine on its LAN address",
         {subtype, DnsType::kPtr, kDnsClassIn, false},
         ownLanAddress,
         To::kGroup,
         kPtr,
         kFollowPtr},
        {"this machine on its LAN address, unicast bit",
         {subtype, DnsType::kPtr, kDnsClassIn, true},
         ownLanAddress,
         To::kGroup,
         kPtr,
         kFollowPtr},
        {"this machine on its LAN address, one-shot",
         {subtype, DnsType::kPtr, kDnsClassIn, false},
         {"192.168.1.5", 40001, false, true},
         To::kAsker,
         kPtr,
         kFollowPtr},
        {"another machine",
         {subtype, DnsType::kPtr, kDnsClassIn, false},
         lanAsker,
         To::kNobody,
         kNone,
         kNone},
    };
    for (const auto& row : rows)
    {
        CMdnsZone zone(Unprobed());
        zone.Publish(&kHostA, Announcement(10032), 0, kCreateTime);
        const auto sent = zone.Answer(Query({row.m_question}, 0x4242), row.m_asker, 10000);
        if (row.m_to == To::kNobody)
        {
            EXPECT_TRUE(sent.empty()) << row.m_what;
            continue;
        }
        ASSERT_EQ(sent.size(), 1u) << row.m_what;
        EXPECT_EQ(sent[0].m_address, row.m_to == To::kGroup ? kMdnsGroup : row.m_asker.m_address)
            << row.m_what;
        EXPECT_EQ(sent[0].m_port, row.m_to == To::kGroup ? kMdnsPort : row.m_asker.m_port)
            << row.m_what;
        const DnsMessage reply = Decode(sent[0]);
        EXPECT_EQ(reply.m_flags, 0x8400) << row.m_what;
        EXPECT_EQ(Types(reply.m_answers), row.m_answers) << row.m_what;
        EXPECT_EQ(Types(reply.m_additionals), row.m_additionals) << row.m_what;
        // A one-shot asker gets its id and question back, short TTLs and no cache flush.
        const bool legacy = row.m_asker.m_port != kMdnsPort;
        EXPECT_EQ(reply.m_id, legacy ? 0x4242 : 0) << row.m_what;
        EXPECT_EQ(reply.m_questions.size(), legacy ? 1u : 0u) << row.m_what;
        for (const auto* section : {&reply.m_answers, &reply.m_additionals})
            for (const DnsRecord& record : *section)
            {
                if (legacy)
                    EXPECT_TRUE(record.m_ttl <= kMdnsLegacyTtl && !record.m_cacheFlush)
                        << row.m_what;
                else
                    EXPECT_GE(record.m_ttl, 120u) << row.m_what;
            }
    }
}

TEST(MdnsZoneTest, MulticastAnswersComeAtMostOnceASecondPerGame)
{
    MdnsTimings timings = Unprobed();
    CMdnsZone zone(timings);
    zone.Publish(&kHostA, Announcement(10032), 0, kCreateTime);
    const Bytes ask = Query({{BlizzardServiceName(), DnsType::kPtr, kDnsClassIn, false}});
    const Bytes askUnicast = Query({{BlizzardServiceName(), DnsType::kPtr, kDnsClassIn, true}});
    const std::uint64_t gap = timings.m_multicastGapMs;
    EXPECT_TRUE(zone.Answer(ask, kLoopbackAsker, gap - 1).empty()) << "just announced";
    const std::uint64_t quick = timings.m_quickGapMs;
    EXPECT_TRUE(zone.Answer(askUnicast, kLoopbackAsker, quick - 1).empty());
    EXPECT_EQ(zone.Answer(askUnicast, kLoopbackAsker, quick).size(), 1u)
        << "a unicast-response question is answered by multicast after a quarter second";
    EXPECT_TRUE(zone.Answer(ask, kLoopbackAsker, quick + gap - 1).empty());
    EXPECT_EQ(zone.Answer(ask, kLoopbackAsker, quick + gap).size(), 1u);
    zone.Publish(&kHostA, Announcement(10032), 0, kCreateTime);
    EXPECT_EQ(zone.Answer(ask, kLoopbackAsker, gap).size(), 1u);
    EXPECT_TRUE(zone.Answer(ask, kLoopbackAsker, 2 * gap - 1).empty());
    EXPECT_EQ(zone.Answer(ask, kLoopbackAsker, 2 * gap).size(), 1u);
}

TEST(MdnsZoneTest, MalformedAndForeignMessagesGetNoAnswer)
{
    CMdnsZone zone(Unprobed());
    zone.Publish(&kHostA, Announcement(10032), 0, kCreateTime);
    Bytes good = Query({{BlizzardServiceName(), DnsType::kPtr, kDnsClassIn, false}});
    Bytes response = good;
    response[2] = 0x84;
    Bytes update = good;
    update[2] = 0x28; // opcode 5
    const Bytes rows[] = {
        {}, Bytes(good.begin(), good.end() - 1), response, update, Query({}), Bytes(12, 0)};
    for (const Bytes& bytes : rows)
        EXPECT_TRUE(zone.Answer(bytes, kLoopbackAsker, 10000).empty());
    EXPECT_EQ(zone.Answer(good, kLoopbackAsker, 10000).size(), 1u);
}

TEST(MdnsZoneTest, TwoHostsShowTwoInstancesEvenWithOneName)
{
    CMdnsZone zone(Unprobed());
    zone.Publish(&kHostA, Announcement(10032, "Same", 10000), 0, kCreateTime);
    zone.Publish(&kHostB, Announcement(10100, "Same", 10001), 0, kCreateTime);
    EXPECT_EQ(zone.InstanceOf(&kHostA), GameInstanceName("_Same"));
    EXPECT_EQ(zone.InstanceOf(&kHostB), GameInstanceName("_Same (2)"));

    const auto both = zone.Answer(
        Query({{BlizzardServiceName(), DnsType::kPtr, kDnsClassIn, true}}), kLoopbackAsker, 10000);
    ASSERT_EQ(both.size(), 2u);
    std::vector<DnsName> targets;
    for (const MdnsDatagram& datagram : both)
        targets.push_back(Decode(datagram).m_answers.at(0).m_target);
    EXPECT_NE(targets[0], targets[1]);
    const auto one = zone.Answer(
        Query({{GameSubtypeName(kProductFrozenThrone, 10100), DnsType::kPtr, kDnsClassIn, true}}),
        kLoopbackAsker, 10000 + MdnsTimings{}.m_quickGapMs);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(Decode(one[0]).m_answers.at(0).m_target, GameInstanceName("_Same (2)"));

    // A long name keeps its suffix inside the 63 bytes of a label.
    zone.Publish(&kHostA, Announcement(10032, std::string(70, 'n'), 10000), 0, kCreateTime);
    const int hostC = 0;
    zone.Publish(&hostC, Announcement(10032, std::string(70, 'n'), 10002), 0, kCreateTime);
    EXPECT_EQ(zone.InstanceOf(&hostC), GameInstanceName("_" + std::string(58, 'n') + " (2)"));
}

TEST(MdnsZoneTest, PublishingAgainAnnouncesWithoutAGoodbyeUnlessTheNamesChange)
{
    CMdnsZone zone(Unprobed());
    zone.Publish(&kHostA, Announcement(10032, "One", 10000), 0, kCreateTime);
    const auto again = zone.Publish(&kHostA, Announcement(10032, "One", 10000), 500, kCreateTime);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_GT(Decode(again[0]).m_answers.at(0).m_ttl, 0u);

    const auto renamed = zone.Publish(&kHostA, Announcement(10032, "Two", 10000), 900, kCreateTime);
    ASSERT_EQ(renamed.size(), 2u);
    EXPECT_EQ(Decode(renamed[0]).m_answers.at(0).m_ttl, 0u);
    EXPECT_EQ(Decode(renamed[0]).m_answers.at(0).m_target, GameInstanceName("_One"));
    EXPECT_EQ(Decode(renamed[1]).m_answers.at(0).m_target, GameInstanceName("_Two"));

    const auto older = zone.Publish(&kHostA, Announcement(26, "Two", 10000), 900, kCreateTime);
    ASSERT_EQ(older.size(), 1u) << "a 1.26 game is withdrawn";
    EXPECT_EQ(Decode(older[0]).m_answers.at(0).m_ttl, 0u);
    EXPECT_EQ(zone.GameCount(), 0u);
}

namespace
{

// What one zone sends, as another zone of this machine hears it.
std::vector<MdnsDatagram> Deliver(const std::vector<MdnsDatagram>& sent, CMdnsZone& to,
                                  std::uint64_t nowMs)
{
    std::vector<MdnsDatagram> replies;
    for (const MdnsDatagram& datagram : sent)
    {
        auto more = to.Answer(datagram.m_bytes, kLoopbackAsker, nowMs);
        replies.insert(replies.end(), more.begin(), more.end());
    }
    return replies;
}

bool IsProbeOf(const MdnsDatagram& datagram, const DnsName& instance)
{
    const DnsMessage message = Decode(datagram);
    return !message.IsResponse() && message.m_questions.size() == 1 &&
           message.m_questions[0].m_name == instance &&
           message.m_questions[0].m_type == DnsType::kAny && message.m_authorities.size() == 3;
}

} // namespace

// A name is probed three times a quarter second apart before it is announced, and nothing is
// answered for it meanwhile; withdrawn then, it goes without a goodbye.
TEST(MdnsZoneTest, ProbesThriceBeforeAnnouncing)
{
    CMdnsZone zone;
    const DnsName instance = GameInstanceName("_Watch me");
    const auto first = zone.Publish(&kHostA, Announcement(10032), 0, kCreateTime);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].m_address, kMdnsGroup);
    EXPECT_TRUE(IsProbeOf(first[0], instance));
    for (const DnsRecord& record : Decode(first[0]).m_authorities)
        EXPECT_FALSE(record.m_cacheFlush) << "no cache flush in a probe's authority section";
    EXPECT_FALSE(zone.Announced(&kHostA));
    EXPECT_TRUE(zone.Answer(Query({{BlizzardServiceName(), DnsType::kPtr, kDnsClassIn, false}}),
                            kLoopbackAsker, 100)
                    .empty())
        << "no answer before the name is won";
    EXPECT_EQ(zone.NextDueMs(), 250u);
    EXPECT_TRUE(zone.Due(249).empty());
    for (const std::uint64_t at : {250u, 500u})
    {
        const auto probe = zone.Due(at);
        ASSERT_EQ(probe.size(), 1u);
        EXPECT_TRUE(IsProbeOf(probe[0], instance));
    }
    EXPECT_TRUE(Deliver(first, zone, 600).empty()) << "our own probe, come back";
    const auto announced = zone.Due(750);
    ASSERT_EQ(announced.size(), 1u);
    EXPECT_EQ(Decode(announced[0]).m_answers.size(), MdnsGame::kRecordCount - 1);
    EXPECT_TRUE(zone.Announced(&kHostA));
    EXPECT_EQ(zone.NextDueMs(), 1750u);
    EXPECT_TRUE(Deliver(announced, zone, 800).empty()) << "our own announcement, come back";
    EXPECT_TRUE(zone.Announced(&kHostA));
    zone.AnnounceAgain(800); // an interface came up
    EXPECT_EQ(zone.Due(800).size(), 1u);
    EXPECT_EQ(zone.NextDueMs(), 1800u) << "and the second a second later";

    zone.Publish(&kHostB, Announcement(10032, "Other", 10001), 900, kCreateTime);
    EXPECT_TRUE(zone.Withdraw(&kHostB).empty()) << "no goodbye for a name not won";
    EXPECT_EQ(zone.Withdraw(&kHostA).size(), 1u);
}

// Another program that shows the name already answers the probe: the newcomer takes
// " (2)", and the goodbyes of each name only ever the names' own.
TEST(MdnsZoneTest, AProgramThatHoldsTheNameMakesTheNewcomerRename)
{
    CMdnsZone first;
    CMdnsZone second;
    for (std::uint64_t at : {0u, 250u, 500u})
        at == 0 ? (void)first.Publish(&kHostA, Announcement(10032, "BNet", 10000), 0, kCreateTime)
                : (void)first.Due(at);
    first.Due(750);
    ASSERT_TRUE(first.Announced(&kHostA));

    auto probe = second.Publish(&kHostB, Announcement(10032, "BNet", 10001), 2000, kCreateTime);
    const auto defence = Deliver(probe, first, 2000);
    ASSERT_EQ(defence.size(), 1u) << "the holder answers a probe at once";
    EXPECT_EQ(defence[0].m_address, kMdnsGroup);
    const auto renamed = Deliver(defence, second, 2001);
    ASSERT_EQ(renamed.size(), 1u);
    EXPECT_TRUE(IsProbeOf(renamed[0], GameInstanceName("_BNet (2)")));
    EXPECT_EQ(second.InstanceOf(&kHostB), GameInstanceName("_BNet (2)"));
    EXPECT_TRUE(Deliver(renamed, first, 2002).empty());
    for (const std::uint64_t at : {2251u, 2501u})
        EXPECT_TRUE(Deliver(second.Due(at), first, at).empty());
    const auto shown = second.Due(2751);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_TRUE(second.Announced(&kHostB));
    EXPECT_TRUE(Deliver(shown, first, 2752).empty());
    EXPECT_TRUE(first.Announced(&kHostA)) << "another instance is no conflict";

    const auto goodbye = first.Withdraw(&kHostA);
    ASSERT_EQ(goodbye.size(), 1u);
    for (const DnsRecord& record : Decode(goodbye[0]).m_answers)
        EXPECT_TRUE(record.m_name == GameInstanceName("_BNet") ||
                    record.m_target == GameInstanceName("_BNet"));
    EXPECT_TRUE(Deliver(goodbye, second, 3000).empty());
    EXPECT_TRUE(second.Announced(&kHostB));
}

// Two programs that probe one name at once: the later SRV data wins (RFC 6762 section 8.2);
// the other waits a second, probes again, is answered and renames.
TEST(MdnsZoneTest, ASimultaneousProbeIsDecidedByTheSrvData)
{
    CMdnsZone lower;  // port 10000
    CMdnsZone higher; // port 10001
    const auto a = lower.Publish(&kHostA, Announcement(10032, "BNet", 10000), 0, kCreateTime);
    const auto b = higher.Publish(&kHostB, Announcement(10032, "BNet", 10001), 0, kCreateTime);
    EXPECT_TRUE(Deliver(b, lower, 10).empty());
    EXPECT_TRUE(Deliver(a, higher, 10).empty());
    EXPECT_EQ(lower.NextDueMs(), 1010u) << "the loser defers a second";
    EXPECT_EQ(higher.NextDueMs(), 250u);
    higher.Due(250);
    higher.Due(500);
    ASSERT_EQ(higher.Due(750).size(), 1u);
    EXPECT_TRUE(higher.Announced(&kHostB));
    const auto again = lower.Due(1010);
    ASSERT_EQ(again.size(), 1u);
    const auto renamed = Deliver(Deliver(again, higher, 1010), lower, 1011);
    ASSERT_EQ(renamed.size(), 1u);
    EXPECT_TRUE(IsProbeOf(renamed[0], GameInstanceName("_BNet (2)")));
}

// A name announced by another program later (section 9): probed again, no goodbye meanwhile,
// and renamed when the other answers for it.
TEST(MdnsZoneTest, ALaterConflictProbesAgainWithoutAGoodbye)
{
    CMdnsZone zone(Unprobed());
    CMdnsZone other(Unprobed());
    zone.Publish(&kHostA, Announcement(10032, "BNet", 10000), 0, kCreateTime);
    const auto theirs = other.Publish(&kHostB, Announcement(10032, "BNet", 10001), 0, kCreateTime);
    ASSERT_TRUE(zone.Announced(&kHostA));
    const auto probe = Deliver(theirs, zone, 100);
    ASSERT_EQ(probe.size(), 1u);
    EXPECT_TRUE(IsProbeOf(probe[0], GameInstanceName("_BNet")));
    EXPECT_FALSE(zone.Announced(&kHostA));
    // The other program answers the probe: renamed.
    const auto renamed = Deliver(Deliver(probe, other, 400), zone, 400);
    ASSERT_EQ(renamed.size(), 1u);
    EXPECT_TRUE(IsProbeOf(renamed[0], GameInstanceName("_BNet (2)")));
    EXPECT_TRUE(zone.Withdraw(&kHostA).empty()) << "no goodbye for another program's name";
}

// Responses that are no conflict: a goodbye, our own SRV, and another program's SRV of
// another name.
TEST(MdnsZoneTest, ResponsesThatAreNoConflict)
{
    CMdnsZone zone(Unprobed());
    const auto ours = zone.Publish(&kHostA, Announcement(10032, "BNet", 10000), 0, kCreateTime);
    CMdnsZone other(Unprobed());
    other.Publish(&kHostB, Announcement(10032, "BNet", 10001), 0, kCreateTime);
    const auto goodbye = other.Withdraw(&kHostB);
    const auto elsewhere =
        other.Publish(&kHostB, Announcement(10032, "Other", 10001), 0, kCreateTime);
    for (const auto* sent : {&ours, &goodbye, &elsewhere})
        EXPECT_TRUE(Deliver(*sent, zone, 100).empty());
    EXPECT_TRUE(zone.Announced(&kHostA));
    const MdnsAsker lanAsker{"192.168.1.20", kMdnsPort, false, false};
    const auto conflicting = CMdnsZone(Unprobed()).Publish(
        &kHostB, Announcement(10032, "BNet", 10002), 0, kCreateTime);
    EXPECT_TRUE(zone.Answer(conflicting[0].m_bytes, lanAsker, 200).empty())
        << "another machine's records are not heard";
    EXPECT_TRUE(zone.Announced(&kHostA));
}
