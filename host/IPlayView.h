#pragma once

#include <cstdint>

#include "host/FeedState.h"

namespace velt
{

// Where play stands, as both the viewer's commands and the live edge read it. The feed
// implements it; any thread may read it (the values of the feed's last step).
class IPlayView
{
public:
    virtual ~IPlayView() = default;

    virtual std::uint32_t GameTimeMs() const = 0;
    // The level the viewer sees, 1 to 4; while play is held, the level its end brings back.
    virtual std::uint8_t ShownLevel() const = 0;
    // The viewer has paused; a pause typed during a halt holds the game once the halt is over.
    virtual bool Paused() const = 0;
    virtual FeedState State() const = 0;
};

} // namespace velt
