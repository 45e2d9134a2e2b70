#pragma once

#include "browser/DesktopSeams.h"

#include <cstdint>
#include <vector>

namespace velt
{

class CMatchServerClient;
class CVELTListView;
class CVELTTopView;
class IUserNotice;

// What the views of the match browser use of the window that holds them: its seams, the
// current channel's client and the other view. The main window implements it; the views never
// see the window's own class.
class IBrowserWindow
{
public:
    virtual ~IBrowserWindow() = default;

    virtual const DesktopSeams& Seams() const = 0;
    virtual IUserNotice& Notices() const = 0;
    // Makes the channel's client current, creating it on first use. True when it already was.
    virtual bool SelectChannel(std::uint32_t channelId) = 0;
    // Connects the current client; the user is told when that fails. True when it is up.
    virtual bool ConnectCurrentClient() = 0;
    virtual CMatchServerClient* CurrentClient() const = 0;
    // Every client the window holds: the channels' and the opened files'.
    virtual std::vector<CMatchServerClient*> Clients() const = 0;
    virtual CVELTListView* ListView() const = 0;
    virtual CVELTTopView* TopView() const = 0;
};

} // namespace velt
