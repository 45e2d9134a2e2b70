#pragma once

#include <cstdint>

#include "host/HostResult.h"

namespace velt
{

// What the viewer's commands may do to play, and what they may ask of it. The feed implements
// it; the commands see play only through it.
class IPlayControl
{
public:
    static constexpr std::uint32_t kMaxLiveDelaySeconds = 600;

    virtual ~IPlayControl() = default;

    // Where play stands.
    virtual std::uint32_t GameTimeMs() const = 0;
    // The level the viewer sees: 1.0, 2.0, 3.0 or 4.0.
    virtual std::uint8_t ShownLevel() const = 0;
    virtual bool Paused() const = 0;
    // Buffering, waiting for the server or /syncdown: what the viewer changes waits for its end.
    virtual bool Halted() const = 0;
    // Time slots sent whose keepalives have not been read yet.
    virtual std::uint32_t SlotsInFlight() const = 0;

    // level 1 (normal) to 4; while play is held, the level waits for the end of the hold.
    virtual HostResult SetSpeed(std::uint8_t level) = 0;
    virtual HostResult Pause() = 0;
    virtual HostResult Resume() = 0;
    // Halts the game for ms milliseconds (/syncdown); kSpeedChanged when the viewer paused or
    // chose a speed meanwhile.
    virtual HostResult HaltFor(std::uint32_t ms) = 0;
    virtual HostResult FastForwardToTime(std::uint64_t targetMs, bool quiet) = 0;
    // A jump typed during a halt: it follows once the halt is over.
    virtual void JumpWhenHaltEnds(std::uint64_t targetMs) = 0;

    // Seconds of game time play stays behind the live edge.
    virtual std::uint32_t LiveDelay() const = 0;
    virtual void SetLiveDelay(std::uint32_t seconds) = 0;
};

} // namespace velt
