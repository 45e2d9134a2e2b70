#pragma once

#include <string>

namespace velt
{

// What decides where the desktop client keeps VELT.ini and its skin file.
struct SettingsFolderFacts
{
    // The program runs from where it was installed, not from its build folder. Started from
    // the desktop menu, its working directory is / or the home folder.
    bool m_installed = false;
    // The working directory already holds a VELT.ini.
    bool m_workingDirectoryHasSettings = false;
    std::string m_xdgConfigHome; // $XDG_CONFIG_HOME; empty when unset
    std::string m_home;          // $HOME
};

// The settings folder: empty for the working directory, as a program started in a folder of
// the user's uses; for an installed program that was not started in a folder with a VELT.ini,
// "veltplayer" in the user's configuration folder ($XDG_CONFIG_HOME, else ~/.config). Empty as
// well when neither variable names an absolute folder.
std::string ChooseSettingsFolder(const SettingsFolderFacts& facts);

// The facts of this run: the program's own folder, the working directory and the environment.
SettingsFolderFacts SettingsFolderFactsOfThisRun();

// ChooseSettingsFolder for this run, with the folder created when it is missing; empty (the
// working directory) when it cannot be created.
std::string SettingsFolderOfThisRun();

} // namespace velt
