#include "server/ServerConnection.h"

#include "platform/Socket.h"

namespace velt
{

bool ConnectToServer(CMatchServerClient& client, std::string& hostText, std::uint16_t port)
{
    if (auto dotted = ResolveHostIPv4(hostText))
        hostText = *dotted;
    if (!client.Connect(hostText, port))
    {
        client.Notices().Notify(kConnectFailedMessage);
        return false;
    }
    return true;
}

bool RetrieveMatchList(CMatchServerClient& client, std::string& hostText, std::uint16_t port,
                       std::uint32_t timeoutMs)
{
    if (!client.IsConnected() && !ConnectToServer(client, hostText, port))
        return false;
    switch (client.FetchMatchList(timeoutMs))
    {
    case CMatchServerClient::ListOutcome::kListEnd:
        return true;
    case CMatchServerClient::ListOutcome::kChannelInvalid:
        client.Notices().Notify(kChannelInvalidMessage);
        return false;
    case CMatchServerClient::ListOutcome::kTimeOut:
        break;
    }
    client.Notices().Notify(kListTimeOutMessage);
    return false;
}

} // namespace velt
