#include "tools/gamesim/CMdnsGameFinder.h"

#include <algorithm>
#include <charconv>
#include <vector>

#include "host/mdns/BlizzardGameRecord.h"
#include "host/mdns/CMdnsZone.h"
#include "host/mdns/MdnsGameRecords.h"

namespace velt
{

namespace
{

constexpr const char* kLoopback = "127.0.0.1";
constexpr std::uint32_t kPollMs = 20;

std::string Key(const DnsName& name)
{
    std::string key = DnsNameText(name);
    std::transform(key.begin(), key.end(), key.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; });
    return key;
}

std::optional<std::uint32_t> Decimal(const std::optional<std::string>& text)
{
    std::uint32_t value = 0;
    if (!text || text->empty())
        return std::nullopt;
    const char* end = text->data() + text->size();
    const auto result = std::from_chars(text->data(), end, value);
    if (result.ec != std::errc() || result.ptr != end)
        return std::nullopt;
    return value;
}

} // namespace

CMdnsGameFinder::CMdnsGameFinder(std::uint32_t product, std::uint32_t version, IClock& clock)
    : m_version(version), m_subtype(GameSubtypeName(product, version)), m_clock(clock)
{
}

bool CMdnsGameFinder::Open()
{
    constexpr int kMulticastTtl = 255;
    if (m_socket.Open(kMdnsPort, kMulticastTtl) != CMulticastSocket::Error::kNone ||
        !m_socket.JoinGroup(kMdnsGroup, kLoopback) || !m_socket.SetMulticastInterface(kLoopback))
    {
        m_socket.Close();
        return false;
    }
    return true;
}

std::optional<MdnsFoundGame> CMdnsGameFinder::Find(const std::function<bool()>& stopping)
{
    m_partial.clear();
    m_addressByHost.clear();
    std::vector<std::uint8_t> buffer(kMdnsMaxMessage + 1);
    std::uint64_t lastAsked = 0;
    bool asked = false;
    while (!stopping())
    {
        const std::uint64_t now = m_clock.NowMs();
        if (!asked || now - lastAsked >= kMdnsFinderAskIntervalMs)
        {
            Ask();
            asked = true;
            lastAsked = now;
        }
        DatagramSource source;
        const int size =
            m_socket.RecvFrom(buffer.data(), buffer.size(), static_cast<int>(kPollMs), source);
        if (size <= 0)
            continue;
        Take(std::span(buffer).first(static_cast<std::size_t>(size)));
        if (auto game = Whole())
            return game;
    }
    return std::nullopt;
}

void CMdnsGameFinder::Ask()
{
    for (const bool unicast : {false, true})
    {
        DnsMessage query;
        query.m_questions.push_back({m_subtype, DnsType::kPtr, kDnsClassIn, unicast});
        const auto bytes = BuildDnsMessage(query);
        m_socket.SendTo(kMdnsGroup, kMdnsPort, bytes.data(), bytes.size());
    }
}

void CMdnsGameFinder::Take(std::span<const std::uint8_t> datagram)
{
    const auto message = ParseDnsMessage(datagram);
    if (!message || !message->IsResponse())
        return;
    for (const DnsRecord& record : message->m_answers)
        TakeRecord(record, false);
    for (const DnsRecord& record : message->m_additionals)
        TakeRecord(record, true);
}

void CMdnsGameFinder::TakeRecord(const DnsRecord& record, bool additional)
{
    if (record.m_type == DnsType::kPtr && DnsNamesEqual(record.m_name, m_subtype))
    {
        const std::string key = Key(record.m_target);
        if (record.m_ttl == 0)
        {
            m_partial.erase(key);
            return;
        }
        Partial& partial = m_partial[key];
        partial.m_pointer = true;
        partial.m_game.m_instance = record.m_target;
        return;
    }
    if (record.m_type == DnsType::kA && additional && record.m_data.size() == 4 && record.m_ttl > 0)
    {
        m_addressByHost[Key(record.m_name)] =
            std::to_string(record.m_data[0]) + "." + std::to_string(record.m_data[1]) + "." +
            std::to_string(record.m_data[2]) + "." + std::to_string(record.m_data[3]);
        return;
    }
    const auto found = m_partial.find(Key(record.m_name));
    if (found == m_partial.end() || record.m_ttl == 0)
        return;
    Partial& partial = found->second;
    if (record.m_type == DnsType::kSrv)
    {
        partial.m_srv = true;
        partial.m_game.m_srvPort = record.m_port;
        partial.m_game.m_address = Key(record.m_target); // the host name until resolved
    }
    else if (record.m_type == DnsType::kBlizzardGame)
    {
        const auto content = ParseBlizzardGameRecord(record.m_data);
        if (!content)
            return;
        const auto gameData = content->Entry("game_data");
        const auto bytes = gameData ? DecodeBase64(*gameData) : std::nullopt;
        const auto fields = bytes ? ParseGameData(*bytes, m_version) : std::nullopt;
        const auto hostCounter = Decimal(content->Entry("game_id"));
        const auto entryKey = Decimal(content->Entry("game_secret"));
        if (!fields || !hostCounter || !entryKey)
            return;
        partial.m_record = true;
        partial.m_game.m_gameName = content->m_gameName;
        partial.m_game.m_port = fields->m_port;
        partial.m_game.m_hostCounter = *hostCounter;
        partial.m_game.m_entryKey = *entryKey;
    }
}

std::optional<MdnsFoundGame> CMdnsGameFinder::Whole() const
{
    for (const auto& [key, partial] : m_partial)
    {
        if (!partial.m_pointer || !partial.m_srv || !partial.m_record)
            continue;
        const auto address = m_addressByHost.find(partial.m_game.m_address);
        if (address == m_addressByHost.end())
            continue;
        MdnsFoundGame game = partial.m_game;
        game.m_address = address->second;
        return game;
    }
    return std::nullopt;
}

} // namespace velt
