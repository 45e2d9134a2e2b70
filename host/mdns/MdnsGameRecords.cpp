#include "host/mdns/MdnsGameRecords.h"

#include <cstdio>

#include "host/mdns/BlizzardGameRecord.h"
#include "platform/Utf8.h"

namespace velt
{

namespace
{

DnsRecord Record(const DnsName& name, DnsType type, std::uint32_t ttl, bool cacheFlush)
{
    DnsRecord record;
    record.m_name = name;
    record.m_type = type;
    record.m_ttl = ttl;
    record.m_cacheFlush = cacheFlush;
    return record;
}

// The product's four letters as the announcement's reversed dword holds them.
std::string ProductLetters(std::uint32_t product)
{
    std::string letters;
    for (int shift = 24; shift >= 0; shift -= 8)
    {
        char c = static_cast<char>((product >> shift) & 0xFF);
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
        letters.push_back(c);
    }
    return letters;
}

} // namespace

DnsName BlizzardServiceName()
{
    return {"_blizzard", "_udp", "local"};
}

DnsName GameSubtypeName(std::uint32_t product, std::uint32_t version)
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "%x", version);
    // Appended piece by piece: GCC 12 warns falsely about a chain of string additions.
    std::string label = "_";
    label.append(ProductLetters(product)).append(hex);
    DnsName name = {label, "_sub"};
    const DnsName service = BlizzardServiceName();
    name.insert(name.end(), service.begin(), service.end());
    return name;
}

std::string GameInstanceLabel(std::string_view gameName)
{
    std::string label = "_";
    label.append(gameName);
    return CutUtf8(label, kDnsMaxLabel);
}

DnsName GameInstanceName(const std::string& label)
{
    DnsName name = {label};
    const DnsName service = BlizzardServiceName();
    name.insert(name.end(), service.begin(), service.end());
    return name;
}

DnsName GameHostName(std::uint16_t port)
{
    return {"velt-" + std::to_string(port), "local"};
}

MdnsGame BuildMdnsGame(const GameInfoFields& info, const std::string& instanceLabel,
                       std::uint64_t createTime, std::int64_t messageId)
{
    MdnsGame game;
    game.m_info = info;
    game.m_instance = GameInstanceName(instanceLabel);
    game.m_host = GameHostName(info.m_port);
    auto& records = game.m_records;
    records.resize(MdnsGame::kRecordCount);

    records[MdnsGame::kServicePtr] =
        Record(BlizzardServiceName(), DnsType::kPtr, kMdnsPtrTtl, false);
    records[MdnsGame::kServicePtr].m_target = game.m_instance;
    records[MdnsGame::kSubtypePtr] =
        Record(GameSubtypeName(info.m_product, info.m_version), DnsType::kPtr, kMdnsPtrTtl, false);
    records[MdnsGame::kSubtypePtr].m_target = game.m_instance;

    DnsRecord& srv = records[MdnsGame::kSrv] =
        Record(game.m_instance, DnsType::kSrv, kMdnsSrvTtl, true);
    srv.m_port = info.m_port;
    srv.m_target = game.m_host;

    records[MdnsGame::kTxt] = Record(game.m_instance, DnsType::kTxt, kMdnsTxtTtl, true);
    records[MdnsGame::kTxt].m_data = {0}; // one string, empty

    records[MdnsGame::kGameRecord] =
        Record(game.m_instance, DnsType::kBlizzardGame, kMdnsGameRecordTtl, true);
    records[MdnsGame::kGameRecord].m_data =
        BuildBlizzardGameRecord(GameRecordFromAnnouncement(info, createTime, messageId));

    records[MdnsGame::kAddress] = Record(game.m_host, DnsType::kA, kMdnsAddressTtl, true);
    records[MdnsGame::kAddress].m_data.assign(std::begin(kMdnsGameAddress),
                                              std::end(kMdnsGameAddress));
    return game;
}

} // namespace velt
