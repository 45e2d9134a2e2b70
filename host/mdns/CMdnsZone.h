#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
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
    // ... and at most this often in answer to a probe or a question that asks for a unicast
    // answer (which is multicast too: RFC 6762 section 6's exception for probes).
    std::uint32_t m_quickGapMs = 250;
    // Before a game's name is announced, it is probed for this many times this far apart
    // (RFC 6762 section 8.1); 0 announces at once, for tests of what follows.
    std::uint32_t m_probeCount = 3;
    std::uint32_t m_probeIntervalMs = 250;
    // A probe that lost a tie with another program's probe of the same name starts again after
    // this long (section 8.2).
    std::uint32_t m_probeDeferMs = 1000;
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

// The games that a responder shows, and what it sends about them: probes, announcements,
// answers, refreshes and goodbyes. No sockets and no threads: the caller brings the time and
// the datagrams received, and sends what comes back. Games are keyed by their host.
//
// Only this machine's programs are answered: other machines would be shown a game at their own
// 127.0.0.1. Every answer goes to the group (the responder keeps it on this machine), except to
// a one-shot asker, which is answered on its own port: a unicast answer to port 5353 would
// reach only one of the programs that share the port, perhaps the responder itself.
//
// Names are unique among the programs of this machine: a game's instance name is probed before
// it is announced, renamed " (2)", " (3)" ... when another program answers for it, probed again
// after losing a tie to another program's probe, and probed anew when another program
// announces it later (RFC 6762 sections 8 and 9). A conflict is an SRV record of the name with
// other data: SRV records of two programs always differ, as their ports do. A game withdrawn
// before its name was won, or after another program took it, goes without a goodbye, which
// would withdraw the other program's records.
class CMdnsZone
{
public:
    explicit CMdnsZone(MdnsTimings timings = {}) : m_timings(timings) {}

    // Shows the game of an announcement (replacing what the key showed) and returns its first
    // probe, or its first announcement when its names are already won (the same game name and
    // port); the rest come from Due. Nothing, and nothing shown, when the announcement does not
    // parse or its game version lists games otherwise. createTime is in Unix seconds.
    std::vector<MdnsDatagram> Publish(const void* key, std::span<const std::uint8_t> announcement,
                                      std::uint64_t nowMs, std::uint64_t createTime);
    // The goodbye (every record at TTL 0) of the key's game, which is then no longer shown;
    // nothing when the key shows none.
    std::vector<MdnsDatagram> Withdraw(const void* key);
    std::vector<MdnsDatagram> WithdrawAll();

    // What answers one datagram received: answers to a query, a probe after a conflict that a
    // response or another program's probe showed. Nothing for a malformed datagram, anything
    // from another machine, or a query that names none of the games' announced records.
    std::vector<MdnsDatagram> Answer(std::span<const std::uint8_t> datagram, const MdnsAsker& asker,
                                     std::uint64_t nowMs);
    // Probes, announcements and refreshes that are due.
    std::vector<MdnsDatagram> Due(std::uint64_t nowMs);
    // Announces every announced game again from now, twice a second apart as at first (for
    // an interface that has just come up).
    void AnnounceAgain(std::uint64_t nowMs);
    // When Due has something to send next; nothing while no game is shown.
    std::optional<std::uint64_t> NextDueMs() const;

    bool Shows(const void* key) const { return m_games.count(key) != 0; }
    // Whether the key's game has won its name and is announced.
    bool Announced(const void* key) const;
    std::size_t GameCount() const { return m_games.size(); }
    // The instance name that shows the key's game.
    std::optional<DnsName> InstanceOf(const void* key) const;

private:
    struct Entry
    {
        MdnsGame m_game;
        std::string m_gameName;
        std::uint64_t m_createTime = 0;
        std::uint32_t m_suffix = 1; // the label's " (n)", 1 for none
        bool m_probing = false;
        std::uint32_t m_probes = 0; // sent in this round of probing
        std::uint64_t m_nextAnnounceMs = 0; // the next probe while probing
        std::uint32_t m_announcements = 0; // sent so far, the refreshes included
        std::optional<std::uint64_t> m_lastMulticastMs;
    };

    // The instance label for a game name that no other game of the zone uses, from the suffix
    // given on: the name, then " (2)", " (3)" ... as DNS-SD renames on a clash.
    std::string UniqueLabel(const std::string& gameName, const void* key,
                            std::uint32_t& suffix) const;
    std::vector<MdnsDatagram> Announcement(Entry& entry, std::uint64_t nowMs);
    std::vector<MdnsDatagram> Probe(Entry& entry, std::uint64_t nowMs);
    // Gives the entry its unique label and the records of the game under it.
    void Name(const void* key, Entry& entry, const GameInfoFields& info);
    // Back to probing its name, from the first probe, which goes out at once.
    std::vector<MdnsDatagram> ProbeAgain(Entry& entry, std::uint64_t nowMs);
    // Renames the entry (its next suffix) and probes the new name at once.
    std::vector<MdnsDatagram> Rename(const void* key, Entry& entry, std::uint64_t nowMs);
    // Conflicts that a response of another program shows.
    std::vector<MdnsDatagram> TakeResponse(const DnsMessage& response, std::uint64_t nowMs);
    // Ties that another program's probe of one of our names shows (section 8.2).
    void TakeProbe(const DnsMessage& probe, std::uint64_t nowMs);

    const MdnsTimings m_timings;
    std::map<const void*, Entry> m_games;
    // The data of every SRV record this zone has shown, so that one of ours that comes back
    // late is not taken for another program's.
    std::set<std::string> m_ownSrvData;
    std::int64_t m_messageCount = 0;
};

} // namespace velt
