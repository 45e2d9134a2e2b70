#include "host/mdns/DnsMessage.h"

#include <algorithm>
#include <map>

#include "platform/ByteReader.h"
#include "platform/ByteWriter.h"

namespace velt
{

namespace
{

constexpr std::uint8_t kLabelTypeMask = 0xC0;
constexpr std::uint8_t kPointerType = 0xC0;
constexpr std::uint16_t kPointerOffsetMask = 0x3FFF;
// The smallest question (root name, type, class) and record (the same, TTL, data length).
constexpr std::size_t kMinQuestionSize = 1 + 4;
constexpr std::size_t kMinRecordSize = 1 + 10;
constexpr std::size_t kSrvFixedSize = 6;
constexpr std::size_t kAddressSize = 4;

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

std::string LowerText(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), LowerAscii);
    return lower;
}

// Writes names, pointing at any ending of a name written before; the keys are the endings in
// lower case with their labels' length bytes, so that different splits never meet.
class CNameWriter
{
public:
    explicit CNameWriter(CByteWriter& writer) : m_writer(writer) {}

    // compress: whether the name may end in a pointer, and later names point into it.
    bool Write(const DnsName& name, bool compress = true)
    {
        std::size_t wireSize = 1;
        for (const std::string& label : name)
        {
            if (label.empty() || label.size() > kDnsMaxLabel)
                return false;
            wireSize += 1 + label.size();
        }
        if (wireSize > kDnsMaxName)
            return false;
        for (std::size_t i = 0; i < name.size(); ++i)
        {
            const std::string key = Key(name, i);
            const auto known = m_offsets.find(key);
            if (compress && known != m_offsets.end())
            {
                m_writer.U16Be(static_cast<std::uint16_t>((kPointerType << 8) | known->second));
                return true;
            }
            if (compress && m_writer.Size() <= kPointerOffsetMask)
                m_offsets.emplace(key, static_cast<std::uint16_t>(m_writer.Size()));
            m_writer.U8(static_cast<std::uint8_t>(name[i].size()));
            m_writer.Bytes(
                std::span(reinterpret_cast<const std::uint8_t*>(name[i].data()), name[i].size()));
        }
        m_writer.U8(0);
        return true;
    }

private:
    static std::string Key(const DnsName& name, std::size_t from)
    {
        std::string key;
        for (std::size_t i = from; i < name.size(); ++i)
        {
            key.push_back(static_cast<char>(name[i].size()));
            key += LowerText(name[i]);
        }
        return key;
    }

    CByteWriter& m_writer;
    std::map<std::string, std::uint16_t> m_offsets;
};

bool WriteRecord(CByteWriter& writer, CNameWriter& names, const DnsRecord& record)
{
    if (!names.Write(record.m_name))
        return false;
    writer.U16Be(static_cast<std::uint16_t>(record.m_type))
        .U16Be(static_cast<std::uint16_t>(record.m_class |
                                          (record.m_cacheFlush ? kDnsClassTopBit : 0)))
        .U32Be(record.m_ttl);
    const std::size_t lengthAt = writer.Size();
    writer.U16Be(0);
    switch (record.m_type)
    {
    case DnsType::kPtr:
        if (!names.Write(record.m_target))
            return false;
        break;
    case DnsType::kSrv:
        writer.U16Be(record.m_priority).U16Be(record.m_weight).U16Be(record.m_port);
        // Written whole, as unicast DNS requires of an SRV target.
        if (!names.Write(record.m_target, false))
            return false;
        break;
    default:
        writer.Bytes(record.m_data);
        break;
    }
    const std::size_t dataSize = writer.Size() - lengthAt - 2;
    if (dataSize > 0xFFFF)
        return false;
    writer.PatchU16Be(lengthAt, static_cast<std::uint16_t>(dataSize));
    return true;
}

// Reads names from anywhere in one message.
class CNameReader
{
public:
    explicit CNameReader(std::span<const std::uint8_t> message) : m_message(message) {}

    // The name at the reader's position; the reader moves past its bytes in place (up to and
    // including the first pointer). Fails the reader on any fault.
    DnsName Read(CByteReader& reader)
    {
        DnsName name;
        std::size_t wireSize = 1;
        std::size_t hops = 0;
        CByteReader at = reader;
        bool followed = false;
        // Every pointer must go below the start of the labels that led to it, so that the
        // reading always moves back and ends.
        std::size_t lowest = reader.Position();
        for (;;)
        {
            const std::uint8_t length = at.U8();
            if (!at.Ok())
                return Fail(reader);
            if (length == 0)
                break;
            const std::uint8_t kind = length & kLabelTypeMask;
            if (kind == kPointerType)
            {
                const std::size_t target =
                    ((static_cast<std::size_t>(length) << 8) | at.U8()) & kPointerOffsetMask;
                if (!at.Ok() || target >= lowest || ++hops > kDnsMaxPointerHops)
                    return Fail(reader);
                if (!followed)
                    reader = at;
                followed = true;
                lowest = target;
                at = CByteReader(m_message);
                at.Skip(target);
                continue;
            }
            if (kind != 0)
                return Fail(reader);
            wireSize += 1 + length;
            const auto bytes = at.Bytes(length);
            if (!at.Ok() || wireSize > kDnsMaxName)
                return Fail(reader);
            name.emplace_back(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        }
        if (!followed)
            reader = at;
        return name;
    }

private:
    static DnsName Fail(CByteReader& reader)
    {
        reader.Skip(reader.Remaining() + 1);
        return {};
    }

    std::span<const std::uint8_t> m_message;
};

bool ReadRecord(CByteReader& reader, CNameReader& names, DnsRecord& record)
{
    record.m_name = names.Read(reader);
    record.m_type = static_cast<DnsType>(reader.U16Be());
    const std::uint16_t rrClass = reader.U16Be();
    record.m_class = rrClass & ~kDnsClassTopBit;
    record.m_cacheFlush = (rrClass & kDnsClassTopBit) != 0;
    record.m_ttl = reader.U32Be();
    const std::size_t length = reader.U16Be();
    if (!reader.Ok() || length > reader.Remaining())
        return false;
    const std::size_t end = reader.Position() + length;
    switch (record.m_type)
    {
    case DnsType::kPtr:
        record.m_target = names.Read(reader);
        break;
    case DnsType::kSrv:
        record.m_priority = reader.U16Be();
        record.m_weight = reader.U16Be();
        record.m_port = reader.U16Be();
        if (length < kSrvFixedSize)
            return false;
        record.m_target = names.Read(reader);
        break;
    case DnsType::kA:
        if (length != kAddressSize)
            return false;
        [[fallthrough]];
    default:
    {
        const auto data = reader.Bytes(length);
        record.m_data.assign(data.begin(), data.end());
        break;
    }
    }
    // A name inside the data must end exactly where the data does.
    return reader.Ok() && reader.Position() == end;
}

} // namespace

DnsName DnsNameFromText(std::string_view dotted)
{
    DnsName name;
    while (!dotted.empty())
    {
        const std::size_t dot = dotted.find('.');
        name.emplace_back(dotted.substr(0, dot));
        if (dot == std::string_view::npos)
            break;
        dotted.remove_prefix(dot + 1);
    }
    return name;
}

std::string DnsNameText(const DnsName& name)
{
    std::string text;
    for (const std::string& label : name)
        text += label + ".";
    return text.empty() ? "." : text;
}

bool DnsNamesEqual(const DnsName& a, const DnsName& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](const std::string& x, const std::string& y)
                                              { return LowerText(x) == LowerText(y); });
}

std::vector<std::uint8_t> BuildDnsMessage(const DnsMessage& message)
{
    const std::size_t records =
        message.m_answers.size() + message.m_authorities.size() + message.m_additionals.size();
    if (message.m_questions.size() > 0xFFFF || records > 0xFFFF)
        return {};
    CByteWriter writer(512);
    writer.U16Be(message.m_id)
        .U16Be(message.m_flags)
        .U16Be(static_cast<std::uint16_t>(message.m_questions.size()))
        .U16Be(static_cast<std::uint16_t>(message.m_answers.size()))
        .U16Be(static_cast<std::uint16_t>(message.m_authorities.size()))
        .U16Be(static_cast<std::uint16_t>(message.m_additionals.size()));
    CNameWriter names(writer);
    for (const DnsQuestion& question : message.m_questions)
    {
        if (!names.Write(question.m_name))
            return {};
        writer.U16Be(static_cast<std::uint16_t>(question.m_type))
            .U16Be(static_cast<std::uint16_t>(question.m_class |
                                              (question.m_unicastResponse ? kDnsClassTopBit : 0)));
    }
    for (const auto* section : {&message.m_answers, &message.m_authorities, &message.m_additionals})
        for (const DnsRecord& record : *section)
            if (!WriteRecord(writer, names, record))
                return {};
    if (writer.Size() > kMdnsMaxMessage)
        return {};
    return writer.Take();
}

std::optional<DnsMessage> ParseDnsMessage(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() > kMdnsMaxMessage)
        return std::nullopt;
    CByteReader reader(bytes);
    DnsMessage message;
    message.m_id = reader.U16Be();
    message.m_flags = reader.U16Be();
    const std::size_t questions = reader.U16Be();
    const std::size_t counts[3] = {reader.U16Be(), reader.U16Be(), reader.U16Be()};
    if (!reader.Ok() ||
        questions * kMinQuestionSize + (counts[0] + counts[1] + counts[2]) * kMinRecordSize >
            reader.Remaining())
        return std::nullopt;
    CNameReader names(bytes);
    message.m_questions.resize(questions);
    for (DnsQuestion& question : message.m_questions)
    {
        question.m_name = names.Read(reader);
        question.m_type = static_cast<DnsType>(reader.U16Be());
        const std::uint16_t qClass = reader.U16Be();
        question.m_class = qClass & ~kDnsClassTopBit;
        question.m_unicastResponse = (qClass & kDnsClassTopBit) != 0;
    }
    std::vector<DnsRecord>* sections[3] = {&message.m_answers, &message.m_authorities,
                                           &message.m_additionals};
    for (std::size_t s = 0; s < 3; ++s)
    {
        sections[s]->resize(counts[s]);
        for (DnsRecord& record : *sections[s])
            if (!ReadRecord(reader, names, record))
                return std::nullopt;
    }
    if (!reader.AtEnd())
        return std::nullopt;
    return message;
}

} // namespace velt
