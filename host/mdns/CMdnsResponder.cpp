#include "host/mdns/CMdnsResponder.h"

#include <algorithm>
#include <chrono>

#include "host/mdns/BlizzardGameRecord.h"

namespace velt
{

namespace
{

// RFC 6762 asks for IP TTL 255 on every multicast DNS datagram; receivers may check it.
constexpr int kMdnsMulticastTtl = 255;
constexpr const char* kNoticeStart =
    "Warcraft III 1.30 and newer will not list this match on its Local Area Network screen: ";
constexpr const char* kNoticeEnd = ". Versions up to 1.29 list it as before.";
constexpr const char* kPortUnusable = "UDP port 5353 (multicast DNS) cannot be opened";
constexpr const char* kNoLoopbackMulticast =
    "the loopback interface does not take part in multicast (joining 224.0.0.251 there failed)";

std::uint64_t SystemUnixSeconds()
{
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                          std::chrono::system_clock::now().time_since_epoch())
                                          .count());
}

} // namespace

CMdnsResponder::CMdnsResponder(IUserNotice& notices, IClock& clock, MdnsSettings settings)
    : m_notices(notices), m_clock(clock), m_settings(std::move(settings)),
      m_zone(m_settings.m_timings)
{
}

CMdnsResponder::~CMdnsResponder()
{
    Stop();
}

void CMdnsResponder::Publish(const void* host, std::span<const std::uint8_t> announcement)
{
    const auto info = ParseGameInfoFields(announcement);
    std::lock_guard lock(m_mutex);
    if (!info || !FindsGamesOverMdns(info->m_version))
    {
        Send(m_zone.Withdraw(host));
        return;
    }
    if (!EnsureOpenLocked())
        return;
    const std::uint64_t createTime =
        m_settings.m_unixSeconds ? m_settings.m_unixSeconds() : SystemUnixSeconds();
    Send(m_zone.Publish(host, announcement, m_clock.NowMs(), createTime));
}

void CMdnsResponder::Withdraw(const void* host)
{
    std::lock_guard lock(m_mutex);
    Send(m_zone.Withdraw(host));
}

void CMdnsResponder::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        Send(m_zone.WithdrawAll());
        m_stopping.store(true);
    }
    m_thread.Join();
    std::lock_guard lock(m_mutex);
    m_socket.Close();
    m_stopping.store(false);
}

bool CMdnsResponder::Running() const
{
    return m_socket.IsValid() && m_thread.IsRunning();
}

bool CMdnsResponder::Shows(const void* host) const
{
    std::lock_guard lock(m_mutex);
    return m_zone.Shows(host);
}

std::optional<DnsName> CMdnsResponder::InstanceOf(const void* host) const
{
    std::lock_guard lock(m_mutex);
    return m_zone.InstanceOf(host);
}

bool CMdnsResponder::EnsureOpenLocked()
{
    if (m_socket.IsValid())
        return true;
    if (m_stopping.load())
        return false;
    const char* why = nullptr;
    if (m_socket.Open(m_settings.m_port, kMdnsMulticastTtl) != CMulticastSocket::Error::kNone)
        why = kPortUnusable;
    else if (!m_socket.JoinGroup(kMdnsGroup, m_settings.m_sendInterface) ||
             !m_socket.SetMulticastInterface(m_settings.m_sendInterface))
        why = kNoLoopbackMulticast;
    if (why != nullptr)
    {
        m_socket.Close();
        if (!m_told)
            m_notices.Inform(std::string(kNoticeStart) + why + kNoticeEnd);
        m_told = true;
        return false;
    }
    m_ownAddresses.clear();
    for (const LocalInterfaceAddress& address : LocalIPv4Addresses())
    {
        m_ownAddresses.push_back(address.m_address);
        // A join that fails on another interface only costs hearing the game ask there.
        if (m_settings.m_hearOtherInterfaces && !address.m_loopback && address.m_multicast)
            m_socket.JoinGroup(kMdnsGroup, address.m_address);
    }
    m_thread.Join();
    if (!m_thread.Start([this] { Run(); }))
    {
        m_socket.Close();
        return false;
    }
    return true;
}

void CMdnsResponder::Run()
{
    // One byte more than a message may have, so that a longer one is seen as too long.
    std::vector<std::uint8_t> buffer(kMdnsMaxMessage + 1);
    while (!m_stopping.load())
    {
        DatagramSource source;
        const int size = m_socket.RecvFrom(buffer.data(), buffer.size(),
                                           static_cast<int>(m_settings.m_pollMs), source);
        std::lock_guard lock(m_mutex);
        if (m_stopping.load())
            break;
        const std::uint64_t now = m_clock.NowMs();
        if (size > 0)
            Send(m_zone.Answer(std::span(buffer).first(static_cast<std::size_t>(size)),
                               Classify(source), now));
        Send(m_zone.Due(now));
    }
}

void CMdnsResponder::Send(const std::vector<MdnsDatagram>& datagrams)
{
    for (const MdnsDatagram& datagram : datagrams)
        m_socket.SendTo(datagram.m_address, datagram.m_port, datagram.m_bytes.data(),
                        datagram.m_bytes.size());
}

MdnsAsker CMdnsResponder::Classify(const DatagramSource& source) const
{
    MdnsAsker asker;
    asker.m_address = source.m_address;
    asker.m_port = source.m_port;
    asker.m_loopback = source.m_address.rfind("127.", 0) == 0;
    asker.m_thisMachine =
        asker.m_loopback || std::find(m_ownAddresses.begin(), m_ownAddresses.end(),
                                      source.m_address) != m_ownAddresses.end();
    return asker;
}

} // namespace velt
