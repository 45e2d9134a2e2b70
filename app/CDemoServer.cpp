#include "app/CDemoServer.h"

namespace velt
{

CDemoServer::CDemoServer() = default;

CDemoServer::~CDemoServer()
{
    m_starter.Join();
    Stop();
}

bool CDemoServer::Start()
{
    SyntheticServerSettings settings;
    settings.m_seed = kSeed;
    settings.m_count = kMatchCount;
    settings.m_liveCount = kLiveCount;
    settings.m_seedStatistics = true;
    m_server = CStandInServer::Synthetic(settings);
    if (!m_server->Start())
    {
        m_error = m_server->Problem();
        return false;
    }
    m_listening.store(true, std::memory_order_release);
    return true;
}

bool CDemoServer::StartInBackground()
{
    return m_starter.Start(
        [this]
        {
            Start();
            m_started.Set();
        });
}

std::optional<std::uint16_t> CDemoServer::WaitStarted(std::uint32_t timeoutMs)
{
    if (!m_started.Wait(timeoutMs) || !m_listening.load(std::memory_order_acquire))
        return std::nullopt;
    return Port();
}

void CDemoServer::Stop()
{
    if (m_server)
        m_server->Stop();
}

std::uint16_t CDemoServer::Port() const
{
    return m_listening.load(std::memory_order_acquire) ? m_server->Port() : 0;
}

} // namespace velt
