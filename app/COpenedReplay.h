#pragma once

#include "browser/DesktopSeams.h"
#include "tools/standins/CStandInServer.h"

#include <cstdint>
#include <memory>
#include <string>

namespace velt
{

class CMatchServerClient;

// A replay file that the desktop client opened: served by a stand-in server of its own on a
// free port of 127.0.0.1 and listed by a match server client of its own, so that its row in the
// match list is watched exactly as a server's match is. Lives as long as the main window.
class COpenedReplay
{
public:
    // Reads the file, serves it and lists it; blocks for as long as that takes (the file is read
    // whole). Nothing, with one line naming the file and what is wrong in problem, when the file
    // cannot be served or its server cannot be reached.
    static std::unique_ptr<COpenedReplay> Open(const std::string& path, const DesktopSeams& seams,
                                               std::string& problem);
    // The client first: it talks to the server until it is gone.
    ~COpenedReplay();
    COpenedReplay(const COpenedReplay&) = delete;
    COpenedReplay& operator=(const COpenedReplay&) = delete;

    const std::string& Path() const { return m_path; }
    CMatchServerClient& Client() { return *m_client; }
    static constexpr std::uint32_t kMatchId = CStandInServer::kReplayFileMatchId;

private:
    explicit COpenedReplay(std::string path);

    std::string m_path;
    std::unique_ptr<CStandInServer> m_server;
    std::unique_ptr<CMatchServerClient> m_client;
};

} // namespace velt
