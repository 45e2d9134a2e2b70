#pragma once

#include "platform/GameLauncher.h"

#include <string>
#include <vector>

namespace velt
{

// Starts the game through another starter, but first makes sure that there is a war3.exe in the
// folder, and tells the user once, in words of what is missing, when the game cannot be
// started at all: no war3.exe there, or the program that runs it (Wine) not to be found. A game
// that did start is not reported, whatever it does afterwards.
class CCheckedGameStarter final : public IProcessStarter
{
public:
    static constexpr const char* kProgramMissingMessage =
        "Warcraft III could not be started: there is no war3.exe in the folder \"%1\".";
    static constexpr const char* kRunnerMissingMessage =
        "Warcraft III could not be started: the program \"%1\" was not found. Install it, or "
        "start the game by hand.";
    static constexpr const char* kStartFailedMessage =
        "Warcraft III could not be started from the folder \"%1\".";

    CCheckedGameStarter(IProcessStarter& starter, IUserNotice& notices, std::string folder);

    bool Start(const std::vector<std::string>& argv) override;

private:
    void Tell(const char* message, const std::string& detail);

    IProcessStarter& m_starter;
    IUserNotice& m_notices;
    std::string m_folder;
};

} // namespace velt
