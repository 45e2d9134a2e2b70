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
    const auto outcome = client.FetchMatchList(timeoutMs, cancelled);
    if (const char* message = ListFailureMessage(outcome))
        client.Notices().Notify(message);
    return outcome == CMatchServerClient::ListOutcome::kListEnd;
}

const char* ListFailureMessage(CMatchServerClient::ListOutcome outcome)
{
    switch (outcome)
    {
    case CMatchServerClient::ListOutcome::kListEnd:
    case CMatchServerClient::ListOutcome::kCancelled:
        return nullptr;
    case CMatchServerClient::ListOutcome::kChannelInvalid:
        return kChannelInvalidMessage;
    case CMatchServerClient::ListOutcome::kConnectionLost:
        return kConnectFailedMessage;
    case CMatchServerClient::ListOutcome::kTimeOut:
        break;
    }
    return kListTimeOutMessage;
}

} // namespace velt
