#pragma once

#include <cstdint>

#include "host/HostResult.h"
#include "host/IPlayView.h"

namespace velt
{

// What the viewer's commands do to play. The feed implements it; the commands see play only
// through it. Each call takes effect at once, or, during a hold or halt, at its end.
class IPlayControl : public IPlayView
{
public:
    static constexpr std::uint32_t kMaxLiveDelaySeconds = 600;

    // level 1 (normal) to 4.
    virtual HostResult ChooseSpeed(std::uint8_t level) = 0;
    virtual HostResult Pause() = 0;
    virtual HostResult Resume() = 0;
    // Halts the game for ms milliseconds (/syncdown); typed during a halt, it makes that one
    // last at least as long.
    virtual HostResult HaltFor(std::uint32_t ms) = 0;
    // Fast-forwards to the game time (/goto, /syncup), after the keepalive that the step under
    // way waits for; typed during a halt, the jump follows once the halt is over.
    virtual HostResult JumpForward(std::uint64_t targetMs) = 0;

    // Seconds of game time play stays behind the live edge.
    virtual std::uint32_t LiveDelay() const = 0;
    virtual void SetLiveDelay(std::uint32_t seconds) = 0;
};

} // namespace velt
