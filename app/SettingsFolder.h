#pragma once

#include "platform/UserFolders.h"

#include <string>

namespace velt
{

// What decides where the desktop client keeps VELT.ini and its skin file.
struct SettingsFolderFacts
{
    // The program runs from where it was installed: on Linux anywhere but its build folder
    // (started from the desktop menu, its working directory is / or the home folder); on Windows
    // from a folder that the installer's uninstaller shares with it, which an unzipped portable
    // copy and the build folder do not.
    bool m_installed = false;
    // The working directory already holds a VELT.ini.
    bool m_workingDirectoryHasSettings = false;
    std::string m_xdgConfigHome; // $XDG_CONFIG_HOME; empty when unset
    std::string m_home;          // $HOME
    std::string m_appData;       // %APPDATA%; empty when unset
    std::string m_shellAppData;  // the roaming application data folder that the shell knows
    SettingsConvention m_convention = kSystemSettingsConvention;
};

// The uninstaller that the Windows installer leaves beside the programs (CPack's name for it,
// set in cmake/Packaging.cmake).
inline constexpr const char* kUninstallerFileName = "Uninstall.exe";

// The settings folder: empty for the working directory, as a program started in a folder of
// the user's uses. For an installed program that was not started in a folder with a VELT.ini:
// on Linux "veltplayer" in the user's configuration folder ($XDG_CONFIG_HOME, else ~/.config);
// on Windows "VELTPlayer" in the roaming application data (%APPDATA%, else the shell's folder).
// Empty as well when none of these names an absolute folder.
std::string ChooseSettingsFolder(const SettingsFolderFacts& facts);

// The facts of a run of the program in programFolder: that folder, the working directory and
// the environment.
SettingsFolderFacts SettingsFolderFactsOf(const std::string& programFolder);

// ChooseSettingsFolder with the folder created when it is missing; empty (the working directory)
// when it cannot be created.
std::string PrepareSettingsFolder(const SettingsFolderFacts& facts);

// PrepareSettingsFolder for this run.
std::string SettingsFolderOfThisRun();

} // namespace velt
