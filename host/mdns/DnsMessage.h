#pragma once

// DNS messages as multicast DNS carries them: the builder and the parser, nothing else. Every
// message that reaches the parser comes from the network, so it reads through the
// bounds-checked reader, follows compressed names only backwards and a bounded number of times,
// and checks the section counts against the bytes there are before it keeps anything.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace velt
{

// Record types.
enum class DnsType : std::uint16_t
{
    kA = 1,
    kPtr = 12,
    kTxt = 16,
    kAaaa = 28,
    kSrv = 33,
    kBlizzardGame = 66, // the game's own record: a protobuf message about one game
    kAny = 255,         // in questions only
};

constexpr std::uint16_t kDnsClassIn = 1;
constexpr std::uint16_t kDnsClassAny = 255;
// The top bit of a question's class asks for a unicast answer; of a record's class, it says the
// record replaces every older one of its name and type (cache flush).
constexpr std::uint16_t kDnsClassTopBit = 0x8000;

// Header flags.
constexpr std::uint16_t kDnsFlagResponse = 0x8000;      // QR
constexpr std::uint16_t kDnsFlagAuthoritative = 0x0400; // AA
constexpr std::uint16_t kDnsOpcodeMask = 0x7800;

// Bounds that the builder and the parser keep.
constexpr std::size_t kDnsHeaderSize = 12;
constexpr std::size_t kDnsMaxLabel = 63;
constexpr std::size_t kDnsMaxName = 255; // wire bytes of a whole name, its root byte included
// Compression pointers followed for one name; each must point before the one that led to it,
// so this only bounds the work a crafted name can cause.
constexpr std::size_t kDnsMaxPointerHops = 32;
// The largest message multicast DNS sends or takes (9000-byte jumbo frames less the IP and UDP
// heads).
constexpr std::size_t kMdnsMaxMessage = 8972;

// A name as its labels, without the root: {"_blizzard", "_udp", "local"}. Labels are bytes; the
// dots of the text form are separators, so a label may hold anything, dots included.
using DnsName = std::vector<std::string>;

// "a.b.local" as labels; no escapes are read, so a label with a dot cannot be written this way.
DnsName DnsNameFromText(std::string_view dotted);
// The text form with a closing dot, for messages to people.
std::string DnsNameText(const DnsName& name);
// Names compare without regard to ASCII case.
bool DnsNamesEqual(const DnsName& a, const DnsName& b);

struct DnsQuestion
{
    DnsName m_name;
    DnsType m_type = DnsType::kAny;
    std::uint16_t m_class = kDnsClassIn; // without the top bit
    bool m_unicastResponse = false;      // the top bit

    bool operator==(const DnsQuestion&) const = default;
};

// One record. The data is held in the form that its type gives it: a target name for PTR and
// SRV (with SRV's numbers), four bytes for A, the raw bytes for every other type.
struct DnsRecord
{
    DnsName m_name;
    DnsType m_type = DnsType::kA;
    std::uint16_t m_class = kDnsClassIn; // without the top bit
    bool m_cacheFlush = false;           // the top bit
    std::uint32_t m_ttl = 0;

    DnsName m_target;                 // PTR, SRV
    std::uint16_t m_priority = 0;     // SRV
    std::uint16_t m_weight = 0;       // SRV
    std::uint16_t m_port = 0;         // SRV
    std::vector<std::uint8_t> m_data; // every other type

    bool operator==(const DnsRecord&) const = default;
};

struct DnsMessage
{
    std::uint16_t m_id = 0;
    std::uint16_t m_flags = 0;
    std::vector<DnsQuestion> m_questions;
    std::vector<DnsRecord> m_answers;
    std::vector<DnsRecord> m_authorities;
    std::vector<DnsRecord> m_additionals;

    bool IsResponse() const { return (m_flags & kDnsFlagResponse) != 0; }
    bool operator==(const DnsMessage&) const = default;
};

// Layout (all integers big-endian):
//   0   u16  id               2   u16  flags
//   4   u16  questions        6   u16  answers
//   8   u16  authorities      10  u16  additionals
//   12  questions: name, u16 type, u16 class
//   ..  records:   name, u16 type, u16 class, u32 TTL, u16 data length, data
// A name is labels (a length byte of at most 63, then the bytes) ending in a zero byte, or in a
// two-byte pointer (top bits 11) to an earlier name's rest. The builder points at names and
// name ends already written, except that an SRV record's target is written whole and never
// pointed into, for readers that take SRV data as it is. Nothing when a label or name is too
// long or the message would outgrow kMdnsMaxMessage.
std::vector<std::uint8_t> BuildDnsMessage(const DnsMessage& message);

// The whole message, or nothing when any part of it is malformed: a count that the bytes
// cannot hold, a name that loops, points forward, runs past 255 bytes or uses a label type
// other than plain and pointer, record data that does not fill its length exactly, or bytes
// left over at the end.
std::optional<DnsMessage> ParseDnsMessage(std::span<const std::uint8_t> bytes);

} // namespace velt
