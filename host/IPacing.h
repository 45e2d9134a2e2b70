#pragma once

#include <cstdint>
#include <functional>

#include "host/HostResult.h"
#include "host/IPlayView.h"

namespace velt
{

// What the live edge drives play with: the pacing's steps, speeds, holds and halts. The feed
// implements it, on the session thread.
class IPacing : public IPlayView
{
public:
    // The fastest of the viewer's levels, which fast-forwards run at.
    static constexpr std::uint8_t kFastestLevel = 4;

    virtual std::uint32_t ReadPos() const = 0;
    // The speed the feed runs at: 1 at normal speed, more slots in flight above it.
    virtual std::uint8_t Speed() const = 0;
    // Counts the viewer's choices of speed and pause: a fast-forward that sees it move has been
    // overruled.
    virtual std::uint32_t ViewerChoices() const = 0;

    // One step of play, up to a time slot and its keepalive.
    virtual HostResult Step() = 0;
    // The speed that play runs at now, whatever the viewer chose (a fast-forward, its end).
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
