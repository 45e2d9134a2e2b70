// Datagrams that reach the multicast DNS responder from the network: the DNS parser, and the
// answers a zone showing games of 1.30, 1.32 and 2.0 gives to them, from an asker on loopback
// (to the group, or by unicast) or a one-shot asker on a port of its own, as the first byte
// chooses. Whatever is answered must be a message that parses back, answers that each name a
// record of a shown game, and never more than one datagram per game. Half the inputs are
// turned into a well-formed question about one of the zone's names first. The stand-in game's
// readers of the answers (the type-66 record, its base64 and game_data) take the same bytes.
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <span>
#include <string_view>
#include <vector>

#include "host/mdns/BlizzardGameRecord.h"
#include "host/mdns/CMdnsZone.h"

namespace
{

using namespace velt;

const int kHosts[3] = {};

std::vector<std::uint8_t> Announcement(std::uint32_t version, std::uint16_t port)
{
    GameInfoParams params;
    params.m_version = version;
    params.m_gameName = "Fuzzed";
    params.m_stat.m_mapPath = "Maps\\x.w3x";
    params.m_stat.m_hostName = "VELT";
    params.m_port = port;
    return BuildGameInfo(params);
}

CMdnsZone& Zone()
{
    static CMdnsZone zone = []
    {
        CMdnsZone made;
        made.Publish(&kHosts[0], Announcement(10030, 10000), 0, 1700000000);
        made.Publish(&kHosts[1], Announcement(10032, 10001), 0, 1700000000);
        made.Publish(&kHosts[2], Announcement(10100, 10002), 0, 1700000000);
        return made;
    }();
    return zone;
}

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

// A well-formed query that random bytes rarely make: a question about one of the names the zone
// answers for, of the type and class the input picks, then the rest of the input as it is.
std::vector<std::uint8_t> KnownQuestion(const std::uint8_t* data, std::size_t size)
{
    if (size < 5)
        return {};
    const DnsName names[] = {BlizzardServiceName(), GameSubtypeName(kProductFrozenThrone, 10032),
                             GameInstanceName("_Fuzzed"), GameInstanceName("_Fuzzed (2)"),
                             GameHostName(10001)};
    DnsMessage query;
    query.m_id = data[0];
    query.m_questions.push_back({names[data[0] % std::size(names)],
                                 static_cast<DnsType>(data[1] | (data[2] << 8)),
                                 static_cast<std::uint16_t>(data[3] & 0x7F), (data[4] & 1) != 0});
    auto bytes = BuildDnsMessage(query);
    bytes.insert(bytes.end(), data + 5, data + size);
    return bytes;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    std::span<const std::uint8_t> datagram(data + 1, size - 1);
    const std::vector<std::uint8_t> built = KnownQuestion(data + 1, size - 1);
    if ((data[0] & 8) && !built.empty())
        datagram = built;
    MdnsAsker asker{"127.0.0.1", kMdnsPort, true, true};
    if (data[0] & 1)
        asker.m_port = 40000; // a one-shot asker
    if (data[0] & 2)
        asker = {"192.168.1.9", kMdnsPort, false, (data[0] & 4) != 0};

    (void)ParseDnsMessage(datagram);
    static std::uint64_t now = 0;
    now += 1000; // past the gap between two multicast answers
    const auto sent = Zone().Answer(datagram, asker, now);
    Require(sent.size() <= 3);
    Require(sent.empty() || asker.m_thisMachine);
    for (const MdnsDatagram& reply : sent)
    {
        const auto message = ParseDnsMessage(reply.m_bytes);
        Require(message && message->IsResponse() && !message->m_answers.empty());
        for (const DnsRecord& record : message->m_answers)
            Require(record.m_ttl > 0 &&
                    (asker.m_port == kMdnsPort || record.m_ttl <= kMdnsLegacyTtl));
    }

    (void)ParseBlizzardGameRecord(datagram);
    const std::string_view text(reinterpret_cast<const char*>(datagram.data()), datagram.size());
    if (const auto bytes = DecodeBase64(text))
        Require(EncodeBase64(*bytes) == text);
    (void)ParseGameData(datagram, 10030);
    (void)ParseGameData(datagram, 10032);
    return 0;
}
