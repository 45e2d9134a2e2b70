#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>

#include "host/mdns/DnsMessage.h"
#include "platform/Clock.h"
#include "platform/Socket.h"

namespace velt
{

// How often the finder asks again while no game has answered.
constexpr std::uint32_t kMdnsFinderAskIntervalMs = 1000;

// A game as the finder found it.
struct MdnsFoundGame
{
    DnsName m_instance;
    std::string m_gameName;      // from the game's own record
    std::string m_address;       // from the A record in the additional section
    std::uint16_t m_port = 0;    // from game_data, as the game takes it
    std::uint16_t m_srvPort = 0; // from the SRV record, for comparison
    std::uint32_t m_hostCounter = 0;
    std::uint32_t m_entryKey = 0;
};

// Finds a LAN game as Warcraft III 1.30 and later do (as far as the sources tell): it asks the
// multicast DNS group for the sub-type of its own version, by multicast and with the
// unicast-response bit, and takes the address from the A record of the additional section and
// the port, host counter and entry key from the game's own record. A record at TTL 0 (a
// goodbye) forgets the game. Everything goes through the loopback interface only.
class CMdnsGameFinder
{
public:
    CMdnsGameFinder(std::uint32_t product, std::uint32_t version, IClock& clock);

    // Binds port 5353 beside any responder and joins the group on loopback.
    bool Open();
    void Close() { m_socket.Close(); }

    // The first game that is whole (PTR, SRV, A, its record), asking now and then again every
    // kMdnsFinderAskIntervalMs; nothing once stopping() turns true.
    std::optional<MdnsFoundGame> Find(const std::function<bool()>& stopping);

private:
    struct Partial
    {
        MdnsFoundGame m_game;
        bool m_pointer = false;
        bool m_srv = false;
        bool m_record = false;
    };

    void Ask();
    void Take(std::span<const std::uint8_t> datagram);
    void TakeRecord(const DnsRecord& record, bool additional);
    std::optional<MdnsFoundGame> Whole() const;

    const std::uint32_t m_version;
    const DnsName m_subtype;
    IClock& m_clock;
    CMulticastSocket m_socket;
    // By instance name, in lower case; host names lead to their instances through the SRV.
    std::map<std::string, Partial> m_partial;
    std::map<std::string, std::string> m_addressByHost;
};

} // namespace velt
