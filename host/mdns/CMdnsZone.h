#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/mdns/MdnsGameRecords.h"

namespace velt
{

// The multicast DNS group and port.
constexpr const char* kMdnsGroup = "224.0.0.251";
constexpr std::uint16_t kMdnsPort = 5353;
// Answers to a one-shot asker (a query from another port than 5353) keep records this long at
// most, as such an asker does not follow their changes.
constexpr std::uint32_t kMdnsLegacyTtl = 10;

// The responder's intervals, in milliseconds; tests shorten them or move an injected clock.
struct MdnsTimings
{
    // The second announcement follows the first after this long.
    std::uint32_t m_secondAnnouncementMs = 1000;
    // The records are announced again this often, so that a browser's cache renews the two
    // records of 120 s (SRV and A) twice before they lapse, one lost datagram included.
    std::uint32_t m_refreshMs = 60000;
    // A game's records are multicast in answer to questions at most this often.
    std::uint32_t m_multicastGapMs = 1000;
};

// One datagram to send: to the group, or to an asker.
struct MdnsDatagram
{
    std::string m_address;
    std::uint16_t m_port = kMdnsPort;
    std::vector<std::uint8_t> m_bytes;

    bool operator==(const MdnsDatagram&) const = default;
};

// Where a query came from, as the responder sorts askers.
struct MdnsAsker
{
    std::string m_address;
    std::uint16_t m_port = kMdnsPort;
    bool m_loopback = false;    // 127.0.0.0/8
    bool m_thisMachine = false; // one of this machine's addresses (loopback included)
};

// The games that a responder shows, and what it sends about them: announcements, answers,
// refreshes and goodbyes. No sockets and no threads: the caller brings the time and the
// queries, and sends what comes back. Games are keyed by their host.
//
// Only this machine's programs are answered: other machines would be shown a game at their own
// 127.0.0.1. An asker on loopback is answered to the group (on loopback); an asker on another of
// this machine's addresses by unicast, so that the answer does not reach the LAN.
class CMdnsZone
{
public:
    explicit CMdnsZone(MdnsTimings timings = {}) : m_timings(timings) {}

    // Shows the game of an announcement (replacing what the key showed) and returns its first
    // announcement; the second and the refreshes come from Due. Nothing, and nothing shown,
    // when the announcement does not parse or its game version lists games otherwise.
    // createTime is in Unix seconds.
    std::vector<MdnsDatagram> Publish(const void* key, std::span<const std::uint8_t> announcement,
                                      std::uint64_t nowMs, std::uint64_t createTime);
    // The goodbye (every record at TTL 0) of the key's game, which is then no longer shown;
    // nothing when the key shows none.
    std::vector<MdnsDatagram> Withdraw(const void* key);
    std::vector<MdnsDatagram> WithdrawAll();

    // The answers to one datagram received; nothing for a malformed one, a response, a query
    // from another machine, or a query that names none of the games' records.
    std::vector<MdnsDatagram> Answer(std::span<const std::uint8_t> datagram, const MdnsAsker& asker,
                                     std::uint64_t nowMs);
    // Second announcements and refreshes that are due.
    std::vector<MdnsDatagram> Due(std::uint64_t nowMs);

    bool Shows(const void* key) const { return m_games.count(key) != 0; }
    std::size_t GameCount() const { return m_games.size(); }
    // The instance name that shows the key's game.
    std::optional<DnsName> InstanceOf(const void* key) const;

private:
    struct Entry
    {
        MdnsGame m_game;
        std::uint64_t m_nextAnnounceMs = 0;
        std::uint32_t m_announcements = 0; // sent so far, the refreshes included
        std::optional<std::uint64_t> m_lastMulticastMs;
    };

    // The instance label for a game name that no other game of the zone uses: the name, then
    // " (2)", " (3)" ... as DNS-SD renames on a clash.
    std::string UniqueLabel(const std::string& gameName, const void* key) const;
    std::vector<MdnsDatagram> Announcement(Entry& entry, std::uint64_t nowMs);

    const MdnsTimings m_timings;
    std::map<const void*, Entry> m_games;
    std::int64_t m_messageCount = 0;
};

} // namespace velt
