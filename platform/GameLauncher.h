#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/UserNotice.h"

namespace velt
{

// Finds the running game's top-level window by its exact title and brings it to the front,
// restoring it when minimised.
class IGameWindow
{
public:
    virtual ~IGameWindow() = default;
    virtual bool RaiseWindowTitled(const std::string& title) = 0;
};

// Starts a program without a shell, in the client's working directory and environment, without
// waiting for it and without keeping a handle.
class IProcessStarter
{
public:
    virtual ~IProcessStarter() = default;
    virtual bool Start(const std::vector<std::string>& argv) = 0;
};

struct WarcraftLaunch
{
    std::string m_folder;     // folder of war3.exe, with or without a trailing separator
    bool m_windowMode = false;
    bool m_openGlMode = false;
};

enum class LaunchResult
{
    kRaised,       // a running game was brought to the front
    kStarted,      // the game was started
    kStartFailed,  // the program could not be started (not reported to the user)
    kNoFolder,     // no folder, or the command line does not fit: the user was told
};

inline constexpr const char* kWarcraftWindowTitle = "Warcraft III";
inline constexpr const char* kNoWarcraftPathMessage =
    "Can't find warcraft execute path, please start game manually!";
// The command line buffer holds this many characters with its terminator.
inline constexpr std::size_t kCommandLineBuffer = 260;

// The game's command line as the platform shows it: folder, war3.exe, then " -window" and
// " -opengl" in that order. Nothing when it does not fit the command line buffer.
std::optional<std::string> WarcraftCommandLine(const WarcraftLaunch& launch);

// The program and arguments to start: on Windows the command line's words; elsewhere Wine with
// the folder's war3.exe and the same switches.
std::vector<std::string> WarcraftArgv(const WarcraftLaunch& launch);

// The arguments as one Windows command line, each quoted only when it must be, so that the
// program's start-up code splits it back into the same words (a path with blanks stays one word,
// and the system never guesses the program from a prefix of it).
std::string WindowsCommandLine(const std::vector<std::string>& argv);

// Raises a running game or starts one. Tells the user through the notice sink when there is no
// folder or the command line does not fit.
LaunchResult LaunchWarcraft(const WarcraftLaunch& launch, IGameWindow& window,
                            IProcessStarter& starter, IUserNotice& notices);

// The real window lookup: on Windows FindWindow; on Linux an X11 top-level window (EWMH client
// list, then WM_NAME).
IGameWindow& SystemGameWindow();
// The real process start.
IProcessStarter& SystemProcessStarter();

} // namespace velt
