#include "host/mdns/CMdnsZone.h"

#include <algorithm>
#include <array>

#include "host/mdns/BlizzardGameRecord.h"
#include "platform/Utf8.h"

namespace velt
{

namespace
{

constexpr std::uint16_t kResponseFlags = kDnsFlagResponse | kDnsFlagAuthoritative;

bool Matches(const DnsQuestion& question, const DnsRecord& record)
{
    if (question.m_class != kDnsClassIn && question.m_class != kDnsClassAny)
        return false;
    if (question.m_type != DnsType::kAny && question.m_type != record.m_type)
        return false;
    return DnsNamesEqual(question.m_name, record.m_name);
}

// What DNS-SD adds to an answer: to a service pointer, the instance's records and the address;
// to an SRV record, the address.
void AddFollowers(std::size_t answered, std::array<bool, MdnsGame::kRecordCount>& additional)
{
    if (answered == MdnsGame::kServicePtr || answered == MdnsGame::kSubtypePtr)
    {
        additional[MdnsGame::kSrv] = true;
        additional[MdnsGame::kTxt] = true;
        additional[MdnsGame::kGameRecord] = true;
        additional[MdnsGame::kAddress] = true;
    }
    else if (answered == MdnsGame::kSrv)
        additional[MdnsGame::kAddress] = true;
}

// A record as a one-shot asker gets it: no cache flush, a short TTL.
DnsRecord ForLegacyAsker(DnsRecord record)
{
    record.m_cacheFlush = false;
    record.m_ttl = std::min(record.m_ttl, kMdnsLegacyTtl);
    return record;
}

DnsRecord WithTtl(DnsRecord record, std::uint32_t ttl)
{
    record.m_ttl = ttl;
    return record;
}

// Every record of the game, the address in the additional section, at the TTL given (0 for a
// goodbye) or at their own.
DnsMessage WholeGame(const MdnsGame& game, std::optional<std::uint32_t> ttl)
{
    DnsMessage message;
    message.m_flags = kResponseFlags;
    for (std::size_t i = 0; i < MdnsGame::kRecordCount; ++i)
    {
        const DnsRecord& record = game.m_records[i];
        auto& section = i == MdnsGame::kAddress ? message.m_additionals : message.m_answers;
        section.push_back(ttl ? WithTtl(record, *ttl) : record);
    }
    return message;
}

std::vector<MdnsDatagram> ToGroup(const DnsMessage& message)
{
    auto bytes = BuildDnsMessage(message);
    if (bytes.empty())
        return {};
    return {{kMdnsGroup, kMdnsPort, std::move(bytes)}};
}

} // namespace

std::vector<MdnsDatagram> CMdnsZone::Publish(const void* key,
                                             std::span<const std::uint8_t> announcement,
                                             std::uint64_t nowMs, std::uint64_t createTime)
{
    const auto info = ParseGameInfoFields(announcement);
    if (!info || !FindsGamesOverMdns(info->m_version))
        return Withdraw(key);
    Entry entry;
    entry.m_game =
        BuildMdnsGame(*info, UniqueLabel(info->m_gameName, key), createTime, ++m_messageCount);
    std::vector<MdnsDatagram> out;
    // A game shown under other names is withdrawn from them first.
    const auto old = m_games.find(key);
    if (old != m_games.end() &&
        !(DnsNamesEqual(old->second.m_game.m_instance, entry.m_game.m_instance) &&
          DnsNamesEqual(old->second.m_game.m_host, entry.m_game.m_host)))
        out = Withdraw(key);
    Entry& shown = m_games.insert_or_assign(key, std::move(entry)).first->second;
    auto first = Announcement(shown, nowMs);
    out.insert(out.end(), first.begin(), first.end());
    return out;
}

std::vector<MdnsDatagram> CMdnsZone::Withdraw(const void* key)
{
    const auto found = m_games.find(key);
    if (found == m_games.end())
        return {};
    auto goodbye = ToGroup(WholeGame(found->second.m_game, 0));
    m_games.erase(found);
    return goodbye;
}

std::vector<MdnsDatagram> CMdnsZone::WithdrawAll()
{
    std::vector<MdnsDatagram> out;
    while (!m_games.empty())
    {
        auto goodbye = Withdraw(m_games.begin()->first);
        out.insert(out.end(), goodbye.begin(), goodbye.end());
    }
    return out;
}

std::vector<MdnsDatagram> CMdnsZone::Due(std::uint64_t nowMs)
{
    std::vector<MdnsDatagram> out;
    for (auto& [key, entry] : m_games)
    {
        if (entry.m_nextAnnounceMs > nowMs)
            continue;
        auto announcement = Announcement(entry, nowMs);
        out.insert(out.end(), announcement.begin(), announcement.end());
    }
    return out;
}

std::vector<MdnsDatagram> CMdnsZone::Announcement(Entry& entry, std::uint64_t nowMs)
{
    ++entry.m_announcements;
    entry.m_nextAnnounceMs = nowMs + (entry.m_announcements == 1 ? m_timings.m_secondAnnouncementMs
                                                                 : m_timings.m_refreshMs);
    entry.m_lastMulticastMs = nowMs;
    return ToGroup(WholeGame(entry.m_game, std::nullopt));
}

std::vector<MdnsDatagram> CMdnsZone::Answer(std::span<const std::uint8_t> datagram,
                                            const MdnsAsker& asker, std::uint64_t nowMs)
{
    if (!asker.m_thisMachine)
        return {};
    const auto query = ParseDnsMessage(datagram);
    if (!query || query->IsResponse() || (query->m_flags & kDnsOpcodeMask) != 0 ||
        query->m_questions.empty())
        return {};
    // A one-shot asker sends from a port of its own and takes only a unicast answer that repeats
    // its question.
    const bool legacy = asker.m_port != kMdnsPort;
    const bool allUnicast =
        std::all_of(query->m_questions.begin(), query->m_questions.end(),
                    [](const DnsQuestion& question) { return question.m_unicastResponse; });
    const bool unicast = legacy || allUnicast || !asker.m_loopback;

    std::vector<MdnsDatagram> out;
    for (auto& [key, entry] : m_games)
    {
        const MdnsGame& game = entry.m_game;
        std::array<bool, MdnsGame::kRecordCount> answered{};
        std::array<bool, MdnsGame::kRecordCount> additional{};
        for (const DnsQuestion& question : query->m_questions)
            for (std::size_t i = 0; i < MdnsGame::kRecordCount; ++i)
                if (Matches(question, game.m_records[i]))
                    answered[i] = true;
        if (std::none_of(answered.begin(), answered.end(), [](bool on) { return on; }))
            continue;
        if (!unicast && entry.m_lastMulticastMs &&
            nowMs - *entry.m_lastMulticastMs < m_timings.m_multicastGapMs)
            continue;
        for (std::size_t i = 0; i < MdnsGame::kRecordCount; ++i)
            if (answered[i])
                AddFollowers(i, additional);

        DnsMessage reply;
        reply.m_flags = kResponseFlags;
        if (legacy)
        {
            reply.m_id = query->m_id;
            reply.m_questions = query->m_questions;
        }
        for (std::size_t i = 0; i < MdnsGame::kRecordCount; ++i)
        {
            if (!answered[i] && !additional[i])
                continue;
            const DnsRecord& record = game.m_records[i];
            (answered[i] ? reply.m_answers : reply.m_additionals)
                .push_back(legacy ? ForLegacyAsker(record) : record);
        }
        auto bytes = BuildDnsMessage(reply);
        if (bytes.empty())
            continue;
        if (unicast)
            out.push_back({asker.m_address, asker.m_port, std::move(bytes)});
        else
        {
            out.push_back({kMdnsGroup, kMdnsPort, std::move(bytes)});
            entry.m_lastMulticastMs = nowMs;
        }
    }
    return out;
}

std::optional<DnsName> CMdnsZone::InstanceOf(const void* key) const
{
    const auto found = m_games.find(key);
    if (found == m_games.end())
        return std::nullopt;
    return found->second.m_game.m_instance;
}

std::string CMdnsZone::UniqueLabel(const std::string& gameName, const void* key) const
{
    const auto taken = [&](const std::string& label)
    {
        const DnsName name = GameInstanceName(label);
        return std::any_of(m_games.begin(), m_games.end(),
                           [&](const auto& game) {
                               return game.first != key &&
                                      DnsNamesEqual(game.second.m_game.m_instance, name);
                           });
    };
    std::string label = GameInstanceLabel(gameName);
    for (std::size_t n = 2; taken(label); ++n)
    {
        const std::string suffix = " (" + std::to_string(n) + ")";
        label = CutUtf8(GameInstanceLabel(gameName), kDnsMaxLabel - suffix.size()) + suffix;
    }
    return label;
}

} // namespace velt
