#include "app/COpenedReplay.h"

#include "server/CMatchServerClient.h"

namespace velt
{

COpenedReplay::COpenedReplay(std::string path) : m_path(std::move(path)) {}

COpenedReplay::~COpenedReplay()
{
    m_client.reset();
    if (m_server)
        m_server->Stop();
}

std::unique_ptr<COpenedReplay> COpenedReplay::Open(const std::string& path,
                                                   const DesktopSeams& seams, std::string& problem)
{
    std::unique_ptr<COpenedReplay> opened(new COpenedReplay(path));
    opened->m_server = CStandInServer::ReplayFile(path);
    if (!opened->m_server->Start())
    {
        problem = opened->m_server->Problem();
        return nullptr;
    }
    // A file's client counts its ports from the first one as every client does, and would ask
    // for the port of the server's first match; a free port keeps the two apart.
    opened->m_client = std::make_unique<CMatchServerClient>(
        *seams.m_notices, LocalPortSettings{seams.m_ports.m_announcePort, 0});
    CMatchServerClient& client = *opened->m_client;
    client.SetHostTimings(seams.m_hostTimings);
    client.SuperviseServerLink(ReconnectPolicy{});
    if (!client.Connect("127.0.0.1", opened->m_server->Port(), seams.m_listWaitMs) ||
        client.FetchMatchList(seams.m_listWaitMs) != CMatchServerClient::ListOutcome::kListEnd)
    {
        problem = path + ": the program's own server for the file did not answer";
        return nullptr;
    }
    return opened;
}

} // namespace velt
