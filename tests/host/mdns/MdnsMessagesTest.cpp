// Multicast DNS on the wire: DNS messages, the game's type-66 record with its base64 game_data,
// and the names that show a game. Every parser here reads bytes from the network.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/mdns/BlizzardGameRecord.h"
#include "host/mdns/DnsMessage.h"
#include "host/mdns/MdnsGameRecords.h"

using namespace velt;

namespace
{

using Bytes = std::vector<std::uint8_t>;

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

// A header with the counts given; id and flags 0.
Bytes Head(std::uint16_t questions, std::uint16_t answers = 0, std::uint16_t additionals = 0)
{
    return {0, 0,
            0, 0,
            0, static_cast<std::uint8_t>(questions),
            0, static_cast<std::uint8_t>(answers),
            0, 0,
            0, static_cast<std::uint8_t>(additionals)};
}

Bytes Label(const std::string& text)
{
    Bytes out(1 + text.size());
    out[0] = static_cast<std::uint8_t>(text.size());
    std::copy(text.begin(), text.end(), out.begin() + 1);
    return out;
}

const Bytes kServiceWire = Concat({Label("_blizzard"), Label("_udp"), Label("local"), {0}});
const Bytes kPtrIn = {0x00, 0x0C, 0x00, 0x01};

GameInfoFields SampleInfo(std::uint32_t version)
{
    GameInfoFields info;
    info.m_product = kProductFrozenThrone;
    info.m_version = version;
    info.m_hostCounter = 7;
    info.m_entryKey = 0xCAFE;
    info.m_gameName = "Ab";
    info.m_encodedStat = {0x11, 0x33};
    info.m_slotsTotal = 12;
    info.m_gameType = 1;
    info.m_slotsUsed = 1;
    info.m_slotsOpen = 12;
    info.m_port = 0x2710;
    return info;
}

DnsMessage AnnouncementOf(std::uint32_t version)
{
    const MdnsGame game = BuildMdnsGame(SampleInfo(version), "_Ab", 1700000000, 3);
    DnsMessage message;
    message.m_flags = kDnsFlagResponse | kDnsFlagAuthoritative;
    message.m_answers.assign(game.m_records.begin(), game.m_records.end() - 1);
    message.m_additionals.push_back(game.m_records.back());
    return message;
}

} // namespace

TEST(DnsMessageTest, RoundTripsEveryKindOfMessage)
{
    DnsMessage query;
    query.m_questions = {
        {GameSubtypeName(kProductFrozenThrone, 10032), DnsType::kPtr, kDnsClassIn, true},
        {BlizzardServiceName(), DnsType::kAny, kDnsClassAny, false}};
    DnsMessage legacy = AnnouncementOf(10030);
    legacy.m_id = 0xBEEF;
    legacy.m_questions = {{BlizzardServiceName(), DnsType::kPtr, kDnsClassIn, false}};
    DnsMessage odd;
    DnsRecord empty;
    empty.m_name = {"x"};
    empty.m_type = static_cast<DnsType>(999);
    odd.m_authorities.push_back(empty);
    DnsRecord dotted = empty;
    dotted.m_name = {"a.b", "Local"}; // a dot inside a label, upper case kept
    dotted.m_type = DnsType::kTxt;
    dotted.m_data = {3, 'a', '=', 'b'};
    odd.m_additionals.push_back(dotted);

    const struct
    {
        const char* m_what;
        DnsMessage m_message;
    } rows[] = {{"query", query},
                {"announcement 1.30", AnnouncementOf(10030)},
                {"announcement 2.0", AnnouncementOf(10100)},
                {"legacy reply", legacy},
                {"unknown type, empty data, odd labels", odd}};
    for (const auto& row : rows)
    {
        const Bytes wire = BuildDnsMessage(row.m_message);
        ASSERT_FALSE(wire.empty()) << row.m_what;
        const auto parsed = ParseDnsMessage(wire);
        ASSERT_TRUE(parsed) << row.m_what;
        EXPECT_EQ(*parsed, row.m_message) << row.m_what;
    }
}

TEST(DnsMessageTest, WritesExactBytesAndPointsAtNamesWrittenBefore)
{
    DnsMessage query;
    query.m_questions = {{BlizzardServiceName(), DnsType::kPtr, kDnsClassIn, true}};
    EXPECT_EQ(BuildDnsMessage(query), Concat({Head(1), kServiceWire, {0x00, 0x0C, 0x80, 0x01}}));

    // The pointer target ends in a pointer to the owner name at offset 12; the upper-case
    // owner of the second record still points back.
    DnsMessage reply;
    reply.m_id = 0x0102;
    reply.m_flags = 0x8400;
    DnsRecord ptr;
    ptr.m_name = BlizzardServiceName();
    ptr.m_type = DnsType::kPtr;
    ptr.m_ttl = 0x01020304;
    ptr.m_target = {"_g", "_blizzard", "_udp", "local"};
    DnsRecord a;
    a.m_name = {"_G", "_BLIZZARD", "_udp", "local"};
    a.m_type = DnsType::kA;
    a.m_cacheFlush = true;
    a.m_ttl = 120;
    a.m_data = {127, 0, 0, 1};
    reply.m_answers = {ptr, a};
    const Bytes expected = Concat({{0x01, 0x02, 0x84, 0x00, 0, 0, 0, 2, 0, 0, 0, 0},
                                   kServiceWire,
                                   kPtrIn,
                                   {1, 2, 3, 4, 0, 5},
                                   Label("_g"),
                                   {0xC0, 0x0C},
                                   {0xC0, 0x2C},
                                   {0x00, 0x01, 0x80, 0x01, 0, 0, 0, 120, 0, 4},
                                   {127, 0, 0, 1}});
    EXPECT_EQ(BuildDnsMessage(reply), expected);

    // An SRV target is written whole even where a pointer would do.
    DnsRecord srv;
    srv.m_name = {"_g"};
    srv.m_type = DnsType::kSrv;
    srv.m_port = 0x1234;
    srv.m_target = {"_g"};
    DnsMessage withSrv;
    withSrv.m_answers = {srv};
    EXPECT_EQ(BuildDnsMessage(withSrv), Concat({Head(0, 1),
                                                Label("_g"),
                                                {0},
                                                {0, 33, 0, 1, 0, 0, 0, 0, 0, 10},
                                                {0, 0, 0, 0, 0x12, 0x34},
                                                Label("_g"),
                                                {0}}));
}

TEST(DnsMessageTest, RefusesWhatDoesNotFitTheWire)
{
    DnsMessage longLabel;
    longLabel.m_questions = {{{std::string(64, 'a')}, DnsType::kA, kDnsClassIn, false}};
    DnsMessage emptyLabel;
    emptyLabel.m_questions = {{{"a", "", "local"}, DnsType::kA, kDnsClassIn, false}};
    DnsMessage longName;
    longName.m_questions = {
        {{std::string(63, 'a'), std::string(63, 'b'), std::string(63, 'c'), std::string(62, 'd')},
         DnsType::kA,
         kDnsClassIn,
         false}};
    DnsMessage huge;
    DnsRecord big;
    big.m_name = {"x"};
    big.m_type = DnsType::kTxt;
    big.m_data.assign(kMdnsMaxMessage, 1);
    huge.m_answers = {big};
    for (const DnsMessage* message : {&longLabel, &emptyLabel, &longName, &huge})
        EXPECT_TRUE(BuildDnsMessage(*message).empty());
    // 63 + 63 + 63 + 61 and their length bytes and root: 255, the most a name may have.
    longName.m_questions[0].m_name[3].pop_back();
    EXPECT_FALSE(BuildDnsMessage(longName).empty());
}

TEST(DnsMessageTest, EveryTruncationOfAMessageIsRefused)
{
    const Bytes wire = BuildDnsMessage(AnnouncementOf(10032));
    ASSERT_FALSE(wire.empty());
    for (std::size_t size = 0; size < wire.size(); ++size)
        EXPECT_FALSE(ParseDnsMessage(std::span(wire).first(size))) << size;
}

TEST(DnsMessageTest, HostileMessagesAreRefused)
{
    const Bytes a = Concat({Label("a"), {0}});
    // Questions 0..n-1: the first "a", each next one "b" and a pointer to the one before, so
    // reading question k follows k pointers.
    const auto chain = [&](std::size_t count)
    {
        Bytes out = Concat({Head(static_cast<std::uint16_t>(count)), a, {0, 1, 0, 1}});
        std::size_t previous = kDnsHeaderSize;
        for (std::size_t i = 1; i < count; ++i)
        {
            const std::size_t start = out.size();
            out = Concat({out,
                          Label("b"),
                          {static_cast<std::uint8_t>(0xC0 | (previous >> 8)),
                           static_cast<std::uint8_t>(previous)},
                          {0, 1, 0, 1}});
            previous = start;
        }
        return out;
    };
    ASSERT_TRUE(ParseDnsMessage(chain(kDnsMaxPointerHops + 1))) << "the most hops allowed";

    Bytes tooLong = Head(1);
    for (int i = 0; i < 4; ++i)
        tooLong = Concat({tooLong, Label(std::string(63, 'x'))});
    tooLong = Concat({tooLong, {0}, {0, 1, 0, 1}});

    const struct
    {
        const char* m_what;
        Bytes m_bytes;
    } rows[] = {
        {"shorter than a header", {0, 0, 0, 0, 0, 1}},
        {"a pointer to itself", Concat({Head(1), {0xC0, 0x0C}, {0, 1, 0, 1}})},
        {"a pointer forward", Concat({Head(2), {0xC0, 0x12}, {0, 1, 0, 1}, a, {0, 1, 0, 1}})},
        {"a pointer back into its own labels",
         Concat({Head(1), Label("a"), {0xC0, 0x0C}, {0, 1, 0, 1}})},
        {"one pointer hop too many", chain(kDnsMaxPointerHops + 2)},
        {"an extended label type", Concat({Head(1), {0x41}, Bytes(65, 'x'), {0}, {0, 1, 0, 1}})},
        {"a name past 255 bytes", tooLong},
        {"a name without its root", Concat({Head(1), Label("a")})},
        {"more questions than bytes", Concat({Head(200), a, {0, 1, 0, 1}})},
        {"more records than bytes", Concat({Head(0, 3), a, {0, 1, 0, 1, 0, 0, 0, 0, 0, 0}})},
        {"an address of 5 bytes",
         Concat({Head(0, 1), a, {0, 1, 0, 1, 0, 0, 0, 9, 0, 5, 127, 0, 0, 1, 1}})},
        {"a pointer record with a byte after its name",
         Concat({Head(0, 1), a, {0, 12, 0, 1, 0, 0, 0, 9, 0, 4}, a, {7}})},
        {"a pointer record whose name runs past its data",
         Concat({Head(0, 1), a, {0, 12, 0, 1, 0, 0, 0, 9, 0, 2}, a})},
        {"an SRV record too short for its numbers",
         Concat({Head(0, 1), a, {0, 33, 0, 1, 0, 0, 0, 9, 0, 4, 0, 0, 0, 0}})},
        {"data past the end", Concat({Head(0, 1), a, {0, 16, 0, 1, 0, 0, 0, 9, 0, 9, 1}})},
        {"a byte after the last record", Concat({Head(1), a, {0, 1, 0, 1}, {0}})},
        {"more than the largest message",
         Concat({Head(1), a, {0, 1, 0, 1}, Bytes(kMdnsMaxMessage, 0)})},
    };
    for (const auto& row : rows)
        EXPECT_FALSE(ParseDnsMessage(row.m_bytes)) << row.m_what;
}

TEST(DnsMessageTest, NamesCompareWithoutCaseAndPrintWithTheirDot)
{
    EXPECT_TRUE(DnsNamesEqual({"_W3XP2730", "_SUB"}, {"_w3xp2730", "_sub"}));
    EXPECT_FALSE(DnsNamesEqual({"a", "b"}, {"a"}));
    EXPECT_FALSE(DnsNamesEqual({"\xC4"}, {"\xE4"})); // only ASCII letters fold
    EXPECT_EQ(DnsNameFromText("_blizzard._udp.local."), BlizzardServiceName());
    EXPECT_EQ(DnsNameText(BlizzardServiceName()), "_blizzard._udp.local.");
    EXPECT_EQ(DnsNameText({}), ".");
}

TEST(MdnsNamesTest, NamesFollowTheProductAndVersion)
{
    const struct
    {
        std::uint32_t m_product;
        std::uint32_t m_version;
        const char* m_subtype;
    } rows[] = {{kProductFrozenThrone, 10030, "_w3xp272e._sub._blizzard._udp.local."},
                {kProductFrozenThrone, 10032, "_w3xp2730._sub._blizzard._udp.local."},
                {kProductFrozenThrone, 10036, "_w3xp2734._sub._blizzard._udp.local."},
                {kProductFrozenThrone, 10100, "_w3xp2774._sub._blizzard._udp.local."},
                {kProductReignOfChaos, 10032, "_war32730._sub._blizzard._udp.local."}};
    for (const auto& row : rows)
        EXPECT_EQ(DnsNameText(GameSubtypeName(row.m_product, row.m_version)), row.m_subtype);

    EXPECT_EQ(GameInstanceLabel("Local Game"), "_Local Game");
    EXPECT_EQ(GameInstanceLabel(std::string(80, 'x')), "_" + std::string(62, 'x'));
    // A two-byte character across the 63rd byte is left out whole.
    EXPECT_EQ(GameInstanceLabel(std::string(61, 'x') + "\xC3\xA9"), "_" + std::string(61, 'x'));
    EXPECT_EQ(DnsNameText(GameInstanceName("_a.b")), "_a.b._blizzard._udp.local.");
    EXPECT_EQ(DnsNameText(GameHostName(10001)), "velt-10001.local.");
    for (const std::uint32_t old : {2u, 26u, 29u, 10029u})
        EXPECT_FALSE(FindsGamesOverMdns(old)) << old;
    for (const std::uint32_t newer : {10030u, 10032u, 10100u})
        EXPECT_TRUE(FindsGamesOverMdns(newer)) << newer;
}

TEST(BlizzardGameRecordTest, RoundTripsAndSkipsFieldsItDoesNotKnow)
{
    BlizzardGameRecord record;
    record.m_gameName = "Game";
    record.m_messageId = -3;
    record.m_entries = {{"game_id", "7"}, {"", ""}, {"k", std::string(300, 'v')}};
    const Bytes wire = BuildBlizzardGameRecord(record);
    ASSERT_EQ(ParseBlizzardGameRecord(wire), record);
    // -3 zigzag-encoded is 5.
    EXPECT_EQ(Bytes(wire.begin(), wire.begin() + 8), (Bytes{0x0A, 4, 'G', 'a', 'm', 'e', 0x10, 5}));

    // Fields 9 (varint), 10 (32-bit), 11 (64-bit) and 12 (bytes) come and go unread, also
    // inside an entry.
    const Bytes withUnknown = Concat({{0x48, 0x96, 0x01},
                                      {0x55, 1, 2, 3, 4},
                                      {0x59, 1, 2, 3, 4, 5, 6, 7, 8},
                                      {0x62, 2, 'z', 'z'},
                                      wire,
                                      {0x1A, 8, 0x0A, 1, 'k', 0x18, 1, 0x12, 1, 'v'}});
    const auto parsed = ParseBlizzardGameRecord(withUnknown);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->m_gameName, "Game");
    ASSERT_EQ(parsed->m_entries.size(), 4u);
    EXPECT_EQ(parsed->m_entries.back(), (std::pair<std::string, std::string>{"k", "v"}));
    EXPECT_EQ(parsed->Entry("k"), std::string(300, 'v')); // the first of two
    EXPECT_EQ(parsed->Entry("none"), std::nullopt);
}

TEST(BlizzardGameRecordTest, HostileRecordsAreRefused)
{
    Bytes tooMany;
    for (std::size_t i = 0; i <= kGameRecordMaxEntries; ++i)
        tooMany = Concat({tooMany, {0x1A, 0}});
    Bytes longText = {0x0A, 0x81, 0x10};
    longText.resize(longText.size() + kGameRecordMaxText + 1, 'x');
    const struct
    {
        const char* m_what;
        Bytes m_bytes;
    } rows[] = {
        {"a varint of 11 bytes", Concat({{0x10}, Bytes(10, 0xFF), {0x01}})},
        {"a varint cut off", {0x10, 0x80}},
        {"a length past the end", {0x0A, 5, 'a'}},
        {"a length of 2^63", {0x0A, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01}},
        {"a group (wire type 3)", {0x1B, 0x1C}},
        {"wire type 7", {0x0F}},
        {"an entry whose text runs past it", {0x1A, 3, 0x0A, 5, 'a'}},
        {"a 32-bit field cut off", {0x55, 1, 2}},
        {"one entry too many", tooMany},
        {"a text past the bound", longText},
    };
    for (const auto& row : rows)
        EXPECT_FALSE(ParseBlizzardGameRecord(row.m_bytes)) << row.m_what;
}

TEST(BlizzardGameRecordTest, Base64FollowsTheStandard)
{
    const struct
    {
        const char* m_plain;
        const char* m_base64;
    } rows[] = {{"", ""},
                {"f", "Zg=="},
                {"fo", "Zm8="},
                {"foo", "Zm9v"},
                {"foob", "Zm9vYg=="},
                {"fooba", "Zm9vYmE="},
                {"foobar", "Zm9vYmFy"}};
    for (const auto& row : rows)
    {
        const std::string plain = row.m_plain;
        const Bytes bytes(plain.begin(), plain.end());
        EXPECT_EQ(EncodeBase64(bytes), row.m_base64);
        EXPECT_EQ(DecodeBase64(row.m_base64), bytes) << row.m_base64;
    }
    const Bytes all = []
    {
        Bytes b;
        for (int i = 0; i < 256; ++i)
            b.push_back(static_cast<std::uint8_t>(i));
        return b;
    }();
    EXPECT_EQ(DecodeBase64(EncodeBase64(all)), all);
    for (const char* bad : {"Zg=", "Zg", "Z===", "=Zg=", "Zg==Zg==", "Zm9v=", "Zh==", "Zm9=",
                            "Zm-v", "Zm9v\n", "Zg=a"})
        EXPECT_FALSE(DecodeBase64(bad)) << bad;
}

TEST(BlizzardGameRecordTest, GameDataTakesTheLayoutOfItsVersion)
{
    const Bytes reforged = {'A', 'b', 0, 0, 0x11, 0x33, 0, 12, 0, 0, 0, 1, 0, 0, 0, 0x10, 0x27};
    const Bytes early = {1, 0, 0, 0, 0x11, 0x33, 0, 12, 0, 0, 0, 'A', 'b', 0, 0, 0x10, 0x27};
    const struct
    {
        std::uint32_t m_version;
        const Bytes* m_bytes;
    } rows[] = {{10030, &early}, {10031, &early}, {10032, &reforged}, {10100, &reforged}};
    for (const auto& row : rows)
    {
        const GameInfoFields info = SampleInfo(row.m_version);
        EXPECT_EQ(BuildGameData(info), *row.m_bytes) << row.m_version;
        const auto back = ParseGameData(*row.m_bytes, row.m_version);
        ASSERT_TRUE(back) << row.m_version;
        EXPECT_EQ(back->m_gameName, info.m_gameName);
        EXPECT_EQ(back->m_encodedStat, info.m_encodedStat);
        EXPECT_EQ(back->m_slotsTotal, info.m_slotsTotal);
        EXPECT_EQ(back->m_gameType, info.m_gameType);
        EXPECT_EQ(back->m_port, info.m_port);
        for (std::size_t size = 0; size < row.m_bytes->size(); ++size)
            EXPECT_FALSE(ParseGameData(std::span(*row.m_bytes).first(size), row.m_version));
    }
    EXPECT_FALSE(ParseGameData(reforged, 10030)) << "read in the other layout";
}
