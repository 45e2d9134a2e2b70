#include "server/ServerConnection.h"

#include "platform/Socket.h"

namespace velt
{

bool ConnectToServer(CMatchServerClient& client, std::string& hostText, std::uint16_t port,
                     std::uint32_t timeoutMs, const std::function<bool()>& cancelled)
{
    if (auto dotted = ResolveHostIPv4(hostText))
        hostText = *dotted;
    if (!client.Connect(hostText, port, timeoutMs, cancelled))
    {
        if (!cancelled || !cancelled())
            client.Notices().Notify(kConnectFailedMessage);
        return false;
    }
    return true;
}

bool RetrieveMatchList(CMatchServerClient& client, std::string& hostText, std::uint16_t port,
                       std::uint32_t timeoutMs, const std::function<bool()>& cancelled)
{
    if (!client.IsConnected() && !ConnectToServer(client, hostText, port, timeoutMs, cancelled))
        return false;
    switch (client.FetchMatchList(timeoutMs, cancelled))
    {
    case CMatchServerClient::ListOutcome::kListEnd:
        return true;
    case CMatchServerClient::ListOutcome::kChannelInvalid:
        client.Notices().Notify(kChannelInvalidMessage);
        return false;
    case CMatchServerClient::ListOutcome::kCancelled:
        return false;
    case CMatchServerClient::ListOutcome::kTimeOut:
    case CMatchServerClient::ListOutcome::kConnectionLost:
        // The list's one failure text: no answer, whether the server went quiet or away.
        break;
    }
    client.Notices().Notify(kListTimeOutMessage);
    return false;
}

} // namespace velt
