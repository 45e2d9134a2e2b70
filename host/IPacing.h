#pragma once

#include <cstdint>
#include <functional>

#include "host/HostResult.h"

namespace velt
{

// What the live edge drives play with: the pacing's steps, speeds, holds and halts. The feed
// implements it.
class IPacing
{
public:
    // The fastest of the viewer's levels, which fast-forwards run at.
    static constexpr std::uint8_t kFastestLevel = 4;

    virtual ~IPacing() = default;

    // Where play stands (the values of the last step that finished).
    virtual std::uint32_t GameTimeMs() const = 0;
    virtual std::uint32_t ReadPos() const = 0;
    // The speed the feed runs at: 1 at normal speed, more slots per step above it.
    virtual std::uint8_t Speed() const = 0;
    // The level the viewer sees, 1 to 4.
    virtual std::uint8_t ShownLevel() const = 0;
    virtual bool Paused() const = 0;

    // One step of play on the session thread, up to a time slot and its keepalive.
    virtual HostResult Step() = 0;
    virtual HostResult SetSpeed(std::uint8_t level) = 0;
    virtual HostResult HoldWhilePaused() = 0;
    // Holds the game while holding() is true; normal speed comes back after, unless the viewer
    // chose a level meanwhile.
    virtual HostResult HoldBehindLive(const std::function<bool()>& holding) = 0;
    // Runs run() as play that no hold behind live holds, and the hold as it was after.
    virtual HostResult RunUnheld(const std::function<HostResult()>& run) = 0;
    // Halts the game, asking the server for more each halt period, while waiting() is true.
    virtual HostResult HaltWhileWaiting(const std::function<bool()>& waiting) = 0;
};

} // namespace velt
