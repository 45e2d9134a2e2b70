#include "host/mdns/CMdnsResponder.h"

#include <algorithm>
#include <chrono>
#include <memory>

#include "host/mdns/BlizzardGameRecord.h"

namespace velt
{

namespace
{

// RFC 6762 asks for IP TTL 255 on every multicast DNS datagram; receivers may check it.
constexpr int kMdnsMulticastTtl = 255;
// An asker from an address not known as this machine's makes the interfaces be read again at
// most this often (the LAN's other machines ask too).
constexpr std::uint64_t kUnknownAskerCheckMs = 1000;
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

// Every holder's notices; the oldest still there is told.
class CHolderNotices final : public IUserNotice
{
public:
    void Notify(std::string_view text) override
    {
        std::lock_guard lock(m_mutex);
        if (!m_holders.empty())
            m_holders.front()->Notify(text);
    }
    void Inform(std::string_view text) override
    {
        std::lock_guard lock(m_mutex);
        if (!m_holders.empty())
            m_holders.front()->Inform(text);
    }
    void Add(IUserNotice& notices)
    {
        std::lock_guard lock(m_mutex);
        m_holders.push_back(&notices);
    }
    void Remove(IUserNotice& notices)
    {
        std::lock_guard lock(m_mutex);
        const auto found = std::find(m_holders.begin(), m_holders.end(), &notices);
        if (found != m_holders.end())
            m_holders.erase(found);
    }

private:
    std::mutex m_mutex;
    std::vector<IUserNotice*> m_holders;
};

struct SharedResponder
{
    std::mutex m_mutex;
    std::weak_ptr<CMdnsResponder> m_responder;
    CHolderNotices m_notices;
};

SharedResponder& TheSharedResponder()
{
    static SharedResponder shared;
    return shared;
}

std::atomic<bool> g_toldInProcess{false};

bool IsLoopback(const std::string& address)
{
    return address.rfind("127.", 0) == 0;
}

} // namespace

CSharedMdnsResponder::CSharedMdnsResponder(IUserNotice& notices) : m_notices(notices)
{
    SharedResponder& shared = TheSharedResponder();
    shared.m_notices.Add(notices);
    std::lock_guard lock(shared.m_mutex);
    m_responder = shared.m_responder.lock();
    if (!m_responder)
    {
        MdnsSettings settings;
        settings.m_tellOncePerProcess = true;
        m_responder = std::make_shared<CMdnsResponder>(shared.m_notices,
                                                       CSystemClock::Instance(), settings);
        shared.m_responder = m_responder;
    }
}

CSharedMdnsResponder::~CSharedMdnsResponder()
{
    SharedResponder& shared = TheSharedResponder();
    {
        std::lock_guard lock(shared.m_mutex);
        m_responder.reset(); // the last holder's goodbyes go out here
    }
    shared.m_notices.Remove(m_notices);
}

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
    const std::uint64_t now = m_clock.NowMs();
    RefreshInterfacesLocked(now);
    const std::uint64_t createTime =
        m_settings.m_unixSeconds ? m_settings.m_unixSeconds() : SystemUnixSeconds();
    Send(m_zone.Publish(host, announcement, now, createTime));
    m_socket.Wake(); // the thread's next deadline may be sooner now
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
        m_socket.Wake();
    }
    m_thread.Join();
    std::lock_guard lock(m_mutex);
    m_socket.Close();
    m_interfaces.clear();
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

bool CMdnsResponder::Announced(const void* host) const
{
    std::lock_guard lock(m_mutex);
    return m_zone.Announced(host);
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
    else if (!m_socket.JoinGroup(kMdnsGroup, m_settings.m_sendInterface))
        why = kNoLoopbackMulticast;
    if (why != nullptr)
    {
        m_socket.Close();
        const bool told =
            m_settings.m_tellOncePerProcess ? g_toldInProcess.exchange(true) : m_told;
        if (!told)
            m_notices.Inform(std::string(kNoticeStart) + why + kNoticeEnd);
        m_told = true;
        return false;
    }
    m_interfaces = {{m_settings.m_sendInterface, true, true}};
    RefreshInterfacesLocked(m_clock.NowMs());
    m_thread.Join();
    if (!m_thread.Start([this] { Run(); }))
    {
        m_socket.Close();
        return false;
    }
    return true;
}

void CMdnsResponder::RefreshInterfacesLocked(std::uint64_t nowMs)
{
    m_nextInterfaceCheckMs = nowMs + m_settings.m_interfaceCheckMs;
    const std::vector<LocalInterfaceAddress> now = LocalIPv4Addresses();
    m_ownAddresses.clear();
    for (const LocalInterfaceAddress& address : now)
        m_ownAddresses.push_back(address.m_address);
    // Gone: left (the system has left the group already when the interface itself went).
    for (auto it = m_interfaces.begin() + 1; it != m_interfaces.end();)
    {
        const bool stays = std::any_of(now.begin(), now.end(), [&](const auto& address) {
            return address.m_address == it->m_address;
        });
        if (stays && m_settings.m_hearOtherInterfaces)
        {
            ++it;
            continue;
        }
        if (it->m_joined)
            m_socket.LeaveGroup(kMdnsGroup, it->m_address);
        it = m_interfaces.erase(it);
    }
    if (!m_settings.m_hearOtherInterfaces)
        return;
    bool added = false;
    for (const LocalInterfaceAddress& address : now)
    {
        if (address.m_loopback || !address.m_multicast ||
            std::any_of(m_interfaces.begin(), m_interfaces.end(),
                        [&](const Interface& known) { return known.m_address == address.m_address; }))
            continue;
        // A join that fails (a second address of one interface) costs nothing: the interface
        // hears the group through its first.
        const bool joined = m_socket.JoinGroup(kMdnsGroup, address.m_address);
        m_interfaces.push_back({address.m_address, false, joined});
        added = true;
    }
    // A game that listens on a new interface hears the games at once, not at the refresh.
    if (added)
        m_zone.AnnounceAgain(nowMs);
}

void CMdnsResponder::Run()
{
    // One byte more than a message may have, so that a longer one is seen as too long.
    std::vector<std::uint8_t> buffer(kMdnsMaxMessage + 1);
    int waitMs = 0;
    while (!m_stopping.load())
    {
        DatagramSource source;
        const int size = m_socket.RecvFrom(buffer.data(), buffer.size(), waitMs, source);
        std::lock_guard lock(m_mutex);
        if (m_stopping.load())
            break;
        const std::uint64_t now = m_clock.NowMs();
        if (size > 0)
            Send(m_zone.Answer(std::span(buffer).first(static_cast<std::size_t>(size)),
                               Classify(source, now), now));
        if (now >= m_nextInterfaceCheckMs)
            RefreshInterfacesLocked(now);
        Send(m_zone.Due(now));
        // Until the next deadline: the zone's, or the interface check.
        std::uint64_t next = m_nextInterfaceCheckMs;
        if (const auto due = m_zone.NextDueMs())
            next = std::min(next, *due);
        waitMs = static_cast<int>(std::min<std::uint64_t>(next > now ? next - now : 0, 3600000));
        if (m_settings.m_pollMs > 0)
            waitMs = std::min(waitMs, static_cast<int>(m_settings.m_pollMs));
    }
}

void CMdnsResponder::Send(const std::vector<MdnsDatagram>& datagrams)
{
    for (const MdnsDatagram& datagram : datagrams)
    {
        if (datagram.m_address != kMdnsGroup)
        {
            m_socket.SendTo(datagram.m_address, datagram.m_port, datagram.m_bytes.data(),
                            datagram.m_bytes.size());
            continue;
        }
        // To the group on every interface: loopback at TTL 255, the others at a TTL that keeps
        // the datagram on this machine.
        for (const Interface& each : m_interfaces)
        {
            if (!m_socket.SetMulticastInterface(each.m_address) ||
                !m_socket.SetMulticastTtl(each.m_loopback ? kMdnsMulticastTtl
                                                          : m_settings.m_otherInterfacesTtl))
                continue;
            m_socket.SendTo(datagram.m_address, datagram.m_port, datagram.m_bytes.data(),
                            datagram.m_bytes.size());
        }
    }
}

MdnsAsker CMdnsResponder::Classify(const DatagramSource& source, std::uint64_t nowMs)
{
    const auto own = [&] {
        return std::find(m_ownAddresses.begin(), m_ownAddresses.end(), source.m_address) !=
               m_ownAddresses.end();
    };
    MdnsAsker asker;
    asker.m_address = source.m_address;
    asker.m_port = source.m_port;
    asker.m_loopback = IsLoopback(source.m_address);
    asker.m_thisMachine = asker.m_loopback || own();
    // An address not known: perhaps one that this machine has just gained.
    if (!asker.m_thisMachine && nowMs >= m_lastUnknownCheckMs + kUnknownAskerCheckMs)
    {
        m_lastUnknownCheckMs = nowMs;
        RefreshInterfacesLocked(nowMs);
        asker.m_thisMachine = own();
    }
    return asker;
}

} // namespace velt
