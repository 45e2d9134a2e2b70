#pragma once

#include "platform/Event.h"
#include "platform/Thread.h"
#include "tools/standins/CStandInServer.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace velt
{

// The stand-in match server that "veltplayer --demo" runs inside the program: made-up matches,
// a few of them live and some visited and rated, served on a free port of 127.0.0.1. Making up
// the matches takes seconds on a slow machine, so the program starts it in the background and
// shows its window meanwhile.
class CDemoServer
{
public:
    static constexpr std::uint32_t kMatchCount = 12;
    static constexpr std::uint32_t kLiveCount = 2;
    static constexpr std::uint64_t kSeed = 7;

    CDemoServer();
    ~CDemoServer();
    CDemoServer(const CDemoServer&) = delete;
    CDemoServer& operator=(const CDemoServer&) = delete;

    // Makes up the matches and listens. False, with the reason in LastError(), when the server
    // cannot listen.
    bool Start();
    // Start on a thread of its own; WaitStarted tells how it went.
    bool StartInBackground();
    // The port once a background start has succeeded; nothing when it failed or has not ended
    // within the time-out.
    std::optional<std::uint16_t> WaitStarted(std::uint32_t timeoutMs);
    void Stop();
    // Valid after Start, or after WaitStarted gave a port.
    std::uint16_t Port() const;
    std::string LastError() const { return m_error; }

private:
    std::unique_ptr<CStandInServer> m_server;
    std::string m_error;
    CEvent m_started{CEvent::Kind::kManualReset};
    std::atomic<bool> m_listening{false};
    CThread m_starter; // last: joined before the members it uses go
};

} // namespace velt
