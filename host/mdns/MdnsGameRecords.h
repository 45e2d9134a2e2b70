#pragma once

// The multicast DNS records that show one LAN game to Warcraft III 1.30 and later, built from
// the game's UDP announcement (0x30), which the match server prepared and the host patched with
// its port.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/mdns/DnsMessage.h"
#include "host/packets/LobbyPackets.h"

namespace velt
{

constexpr std::uint32_t kMdnsPtrTtl = 4500;
constexpr std::uint32_t kMdnsSrvTtl = 120;
constexpr std::uint32_t kMdnsTxtTtl = 4500;
constexpr std::uint32_t kMdnsAddressTtl = 120;
constexpr std::uint32_t kMdnsGameRecordTtl = 4500;
// The address the game connects to: the host listens on loopback only.
constexpr std::uint8_t kMdnsGameAddress[4] = {127, 0, 0, 1};

// "_blizzard._udp.local."
DnsName BlizzardServiceName();
// "_w3xp2730._sub._blizzard._udp.local." for The Frozen Throne 1.32: the product's four letters
// in lower case, then the version number in lower-case hex. A browser asks for its own version.
DnsName GameSubtypeName(std::uint32_t product, std::uint32_t version);
// "_" and the game's name, cut to a DNS label's 63 bytes without splitting a character.
std::string GameInstanceLabel(std::string_view gameName);
// The label followed by the service name.
DnsName GameInstanceName(const std::string& label);
// "velt-10000.local.": a host name of our own per game port, so that the address record never
// competes with the machine's own name, and one game's goodbye leaves the others' addresses.
DnsName GameHostName(std::uint16_t port);

// The records of one game, in a fixed order.
struct MdnsGame
{
    enum Record : std::size_t
    {
        kServicePtr, // shared: PTR of the service
        kSubtypePtr, // shared: PTR of the version's sub-type
        kSrv,        // instance: port and host name
        kTxt,        // instance: one empty string
        kGameRecord, // instance: type 66
        kAddress,    // host name: A 127.0.0.1, sent in the additional section
        kRecordCount,
    };

    GameInfoFields m_info;
    DnsName m_instance;
    DnsName m_host;
    std::vector<DnsRecord> m_records; // kRecordCount of them
};

// The game's records. The PTR records are shared (other games answer the same names), so they
// go without the cache-flush bit, which would tell a browser to forget every other game; the
// rest belong to this game alone and carry it.
MdnsGame BuildMdnsGame(const GameInfoFields& info, const std::string& instanceLabel,
                       std::uint64_t createTime, std::int64_t messageId);

} // namespace velt
