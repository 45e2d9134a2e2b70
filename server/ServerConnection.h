#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "server/CMatchServerClient.h"

namespace velt
{

inline constexpr const char* kConnectFailedMessage = "Connection to stream velt server failed!";
inline constexpr const char* kChannelInvalidMessage = "The VELT Channel is Invalid!";
inline constexpr const char* kListTimeOutMessage = "Time out when retrieving game list!";

// Resolves the host name and, when that works, replaces the text by the dotted-decimal address
// (later calls resolve the address, which yields itself); then connects, for at most timeoutMs.
// Tells the user through the client's notice sink when the connection fails (not when
// cancelled() ended it).
bool ConnectToServer(CMatchServerClient& client, std::string& hostText, std::uint16_t port,
                     std::uint32_t timeoutMs = kListWaitMs,
                     const std::function<bool()>& cancelled = {});

// What the user is told when a list exchange did not end with the list: the refusal of the
// channel; a connection that the server ended before the list (a full server takes the
// connection and closes it at once: a connection that failed, not a wait that ran out); the
// time-out. Nothing for the list's end and for a cancelled wait.
const char* ListFailureMessage(CMatchServerClient::ListOutcome outcome);

// The list retrieval of the front ends: connects first when the client is not connected (the
// connect bounded by the same time-out), then fetches the list and tells the user about a
// refusal, a time-out or a lost connection. True when the list ended; false without a word
// when cancelled() ended it.
bool RetrieveMatchList(CMatchServerClient& client, std::string& hostText, std::uint16_t port,
                       std::uint32_t timeoutMs = kListWaitMs,
                       const std::function<bool()>& cancelled = {});

} // namespace velt
