#pragma once

#include "server/CMatchServerClient.h"
#include "server/CMatchServerConnection.h"

namespace velt
{

// The connection inside a client, for tests, fuzz targets and benchmarks that work below the
// front ends' calls: raw sends, a frame dispatched without a socket, and the receive side's
// counters to wait on. The shipped client offers none of this.
struct ClientTestAccess
{
    static CMatchServerConnection& Connection(CMatchServerClient& client)
    {
        return client.m_connection;
    }
};

} // namespace velt
