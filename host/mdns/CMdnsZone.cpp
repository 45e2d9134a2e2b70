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

// An SRV record's data as RFC 6762 section 8.2 compares it: priority, weight and port
// big-endian, then the target's labels, uncompressed. Held as a string, whose comparison is
// the unsigned bytewise one that the section asks for.
std::string SrvData(const DnsRecord& record)
{
    std::string data;
    for (const std::uint16_t value : {record.m_priority, record.m_weight, record.m_port})
    {
        data.push_back(static_cast<char>(value >> 8));
        data.push_back(static_cast<char>(value & 0xFF));
    }
    for (const std::string& label : record.m_target)
    {
        data.push_back(static_cast<char>(label.size()));
        data.append(label);
    }
    data.push_back('\0');
    return data;
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
    const auto old = m_games.find(key);
    if (old != m_games.end() && old->second.m_gameName == info->m_gameName &&
        old->second.m_game.m_info.m_port == info->m_port)
    {
        // The same names: the records change, the names stay won (or in probing).
        Entry& entry = old->second;
        entry.m_createTime = createTime;
        entry.m_game =
            BuildMdnsGame(*info, entry.m_game.m_instance.front(), createTime, ++m_messageCount);
        if (entry.m_probing)
            return {};
        entry.m_announcements = 0;
        return Announcement(entry, nowMs);
    }
    // A game shown under other names is withdrawn from them first.
    std::vector<MdnsDatagram> out = Withdraw(key);
    Entry entry;
    entry.m_gameName = info->m_gameName;
    entry.m_createTime = createTime;
    Name(key, entry, *info);
    Entry& shown = m_games.insert_or_assign(key, std::move(entry)).first->second;
    shown.m_probing = m_timings.m_probeCount > 0;
    auto first = shown.m_probing ? Probe(shown, nowMs) : Announcement(shown, nowMs);
    out.insert(out.end(), first.begin(), first.end());
    return out;
}

std::vector<MdnsDatagram> CMdnsZone::Withdraw(const void* key)
{
    const auto found = m_games.find(key);
    if (found == m_games.end())
        return {};
    // A name not won (yet, or any more) may be another program's: no goodbye for it.
    auto goodbye =
        found->second.m_probing ? std::vector<MdnsDatagram>{}
                                : ToGroup(WholeGame(found->second.m_game, 0));
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
        std::vector<MdnsDatagram> next;
        if (entry.m_probing && entry.m_probes < m_timings.m_probeCount)
            next = Probe(entry, nowMs);
        else
        {
            if (entry.m_probing)
            {
                entry.m_probing = false; // the name is won
                entry.m_announcements = 0;
            }
            next = Announcement(entry, nowMs);
        }
        out.insert(out.end(), next.begin(), next.end());
    }
    return out;
}

void CMdnsZone::AnnounceAgain(std::uint64_t nowMs)
{
    for (auto& [key, entry] : m_games)
        if (!entry.m_probing)
        {
            entry.m_announcements = 0;
            entry.m_nextAnnounceMs = nowMs;
        }
}

std::optional<std::uint64_t> CMdnsZone::NextDueMs() const
{
    std::optional<std::uint64_t> next;
    for (const auto& [key, entry] : m_games)
        if (!next || entry.m_nextAnnounceMs < *next)
            next = entry.m_nextAnnounceMs;
    return next;
}

bool CMdnsZone::Announced(const void* key) const
{
    const auto found = m_games.find(key);
    return found != m_games.end() && !found->second.m_probing;
}

std::vector<MdnsDatagram> CMdnsZone::Announcement(Entry& entry, std::uint64_t nowMs)
{
    ++entry.m_announcements;
    entry.m_nextAnnounceMs = nowMs + (entry.m_announcements == 1 ? m_timings.m_secondAnnouncementMs
                                                                 : m_timings.m_refreshMs);
    entry.m_lastMulticastMs = nowMs;
    return ToGroup(WholeGame(entry.m_game, std::nullopt));
}

// Layout of a probe (RFC 6762 section 8.1): one question, the instance name, type ANY; the
// records the game will hold alone under it in the authority section, without cache flush.
std::vector<MdnsDatagram> CMdnsZone::Probe(Entry& entry, std::uint64_t nowMs)
{
    ++entry.m_probes;
    entry.m_nextAnnounceMs = nowMs + m_timings.m_probeIntervalMs;
    DnsMessage probe;
    probe.m_questions.push_back({entry.m_game.m_instance, DnsType::kAny, kDnsClassIn, false});
    for (const std::size_t i : {MdnsGame::kSrv, MdnsGame::kTxt, MdnsGame::kGameRecord})
    {
        DnsRecord record = entry.m_game.m_records[i];
        record.m_cacheFlush = false;
        probe.m_authorities.push_back(std::move(record));
    }
    return ToGroup(probe);
}

void CMdnsZone::Name(const void* key, Entry& entry, const GameInfoFields& info)
{
    const std::string label = UniqueLabel(entry.m_gameName, key, entry.m_suffix);
    entry.m_game = BuildMdnsGame(info, label, entry.m_createTime, ++m_messageCount);
    m_ownSrvData.insert(SrvData(entry.m_game.m_records[MdnsGame::kSrv]));
}

std::vector<MdnsDatagram> CMdnsZone::ProbeAgain(Entry& entry, std::uint64_t nowMs)
{
    entry.m_probing = true;
    entry.m_probes = 0;
    return Probe(entry, nowMs);
}

std::vector<MdnsDatagram> CMdnsZone::Rename(const void* key, Entry& entry, std::uint64_t nowMs)
{
    ++entry.m_suffix;
    const GameInfoFields info = entry.m_game.m_info; // the records it is built from go
    Name(key, entry, info);
    return ProbeAgain(entry, nowMs);
}

std::vector<MdnsDatagram> CMdnsZone::TakeResponse(const DnsMessage& response, std::uint64_t nowMs)
{
    std::vector<MdnsDatagram> out;
    for (const auto* section : {&response.m_answers, &response.m_additionals})
        for (const DnsRecord& record : *section)
        {
            if (record.m_type != DnsType::kSrv || record.m_ttl == 0 ||
                m_ownSrvData.count(SrvData(record)) != 0)
                continue;
            for (auto& [key, entry] : m_games)
            {
                if (!DnsNamesEqual(record.m_name, entry.m_game.m_instance))
                    continue;
                std::vector<MdnsDatagram> probe;
                if (entry.m_probing)
                    probe = Rename(key, entry, nowMs); // another program holds the name
                else
                {
                    // Announced by another program later (section 9): probe again, and the
                    // tie or the other's answer decides who keeps it.
                    probe = ProbeAgain(entry, nowMs);
                }
                out.insert(out.end(), probe.begin(), probe.end());
            }
        }
    return out;
}

void CMdnsZone::TakeProbe(const DnsMessage& probe, std::uint64_t nowMs)
{
    for (const DnsRecord& record : probe.m_authorities)
    {
        if (record.m_type != DnsType::kSrv)
            continue;
        const std::string theirs = SrvData(record);
        for (auto& [key, entry] : m_games)
        {
            if (!entry.m_probing || !DnsNamesEqual(record.m_name, entry.m_game.m_instance))
                continue;
            // The lexicographically later data wins; equal data is our own probe come back.
            if (SrvData(entry.m_game.m_records[MdnsGame::kSrv]) < theirs)
            {
                entry.m_probes = 0;
                entry.m_nextAnnounceMs = nowMs + m_timings.m_probeDeferMs;
            }
        }
    }
}

std::vector<MdnsDatagram> CMdnsZone::Answer(std::span<const std::uint8_t> datagram,
                                            const MdnsAsker& asker, std::uint64_t nowMs)
{
    if (!asker.m_thisMachine)
        return {};
    const auto query = ParseDnsMessage(datagram);
    if (!query || (query->m_flags & kDnsOpcodeMask) != 0)
        return {};
    if (query->IsResponse())
        return TakeResponse(*query, nowMs);
    if (query->m_questions.empty())
        return {};
    const bool probe = !query->m_authorities.empty();
    if (probe)
        TakeProbe(*query, nowMs);
    // A one-shot asker sends from a port of its own and takes only a unicast answer that repeats
    // its question. Every other answer goes to the group, a unicast-response question's too:
    // port 5353 is shared, and a unicast datagram to it reaches one of its sockets only.
    const bool legacy = asker.m_port != kMdnsPort;
    const bool quick =
        probe || std::any_of(query->m_questions.begin(), query->m_questions.end(),
                             [](const DnsQuestion& question) { return question.m_unicastResponse; });
    const std::uint32_t gapMs = quick ? m_timings.m_quickGapMs : m_timings.m_multicastGapMs;

    std::vector<MdnsDatagram> out;
    for (auto& [key, entry] : m_games)
    {
        if (entry.m_probing)
            continue;
        const MdnsGame& game = entry.m_game;
        std::array<bool, MdnsGame::kRecordCount> answered{};
        std::array<bool, MdnsGame::kRecordCount> additional{};
        for (const DnsQuestion& question : query->m_questions)
            for (std::size_t i = 0; i < MdnsGame::kRecordCount; ++i)
                if (Matches(question, game.m_records[i]))
                    answered[i] = true;
        if (std::none_of(answered.begin(), answered.end(), [](bool on) { return on; }))
            continue;
        if (!legacy && entry.m_lastMulticastMs && nowMs - *entry.m_lastMulticastMs < gapMs)
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
        if (legacy)
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

std::string CMdnsZone::UniqueLabel(const std::string& gameName, const void* key,
                                   std::uint32_t& suffix) const
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
    const auto labelOf = [&](std::uint32_t n)
    {
        if (n <= 1)
            return GameInstanceLabel(gameName);
        const std::string text = " (" + std::to_string(n) + ")";
        return CutUtf8(GameInstanceLabel(gameName), kDnsMaxLabel - text.size()) + text;
    };
    std::string label = labelOf(suffix);
    while (taken(label))
        label = labelOf(++suffix);
    return label;
}

} // namespace velt
