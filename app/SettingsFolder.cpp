#include "app/SettingsFolder.h"

#include "browser/CVELTTopView.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cctype>

namespace velt
{

namespace
{

bool IsAbsolutePosixFolder(const std::string& folder)
{
    return !folder.empty() && folder.front() == '/';
}

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// A drive and its root (C:\...) or a share (\\server\...). "C:folder" is relative to that
// drive's working directory and "\folder" to the working directory's drive: neither is a place.
bool IsAbsoluteWindowsFolder(const std::string& folder)
{
    if (folder.size() >= 3 && std::isalpha(static_cast<unsigned char>(folder[0])) &&
        folder[1] == ':' && IsSeparator(folder[2]))
        return true;
    return folder.size() >= 3 && IsSeparator(folder[0]) && IsSeparator(folder[1]) &&
           !IsSeparator(folder[2]);
}

std::string WindowsSubfolder(const std::string& folder, const char* name)
{
    return IsSeparator(folder.back()) ? folder + name : folder + '\\' + name;
}

std::string ChooseXdgFolder(const SettingsFolderFacts& facts)
{
    // An XDG variable that is not absolute is to be ignored.
    if (IsAbsolutePosixFolder(facts.m_xdgConfigHome))
        return facts.m_xdgConfigHome + "/veltplayer";
    if (IsAbsolutePosixFolder(facts.m_home))
        return facts.m_home + "/.config/veltplayer";
    return {};
}

std::string ChooseWindowsFolder(const SettingsFolderFacts& facts)
{
    for (const std::string* folder : {&facts.m_appData, &facts.m_shellAppData})
        if (IsAbsoluteWindowsFolder(*folder))
            return WindowsSubfolder(*folder, "VELTPlayer");
    return {};
}

} // namespace

std::string ChooseSettingsFolder(const SettingsFolderFacts& facts)
{
    if (!facts.m_installed || facts.m_workingDirectoryHasSettings)
        return {};
    return facts.m_convention == SettingsConvention::kWindows ? ChooseWindowsFolder(facts)
                                                              : ChooseXdgFolder(facts);
}

SettingsFolderFacts SettingsFolderFactsOf(const std::string& programFolder)
{
    SettingsFolderFacts facts;
    const QDir program(QString::fromStdString(programFolder));
    if (facts.m_convention == SettingsConvention::kWindows)
    {
        facts.m_installed =
            QFileInfo(program.filePath(QLatin1String(kUninstallerFileName))).isFile();
    }
    else
    {
        // The build folder is known when the program is built; anywhere else it was installed.
        const QString buildFolder = QDir(QStringLiteral(VELT_BUILD_FOLDER)).canonicalPath();
        const QString programPath = program.canonicalPath();
        facts.m_installed =
            buildFolder.isEmpty() ||
            !(programPath == buildFolder || programPath.startsWith(buildFolder + QLatin1Char('/')));
    }
    facts.m_workingDirectoryHasSettings =
        QFileInfo(QDir::current().filePath(QLatin1String(CVELTTopView::kSettingsFileName)))
            .isFile();
    facts.m_xdgConfigHome = qEnvironmentVariable("XDG_CONFIG_HOME").toStdString();
    facts.m_home = qEnvironmentVariable("HOME").toStdString();
    facts.m_appData = qEnvironmentVariable("APPDATA").toStdString();
    facts.m_shellAppData = ShellRoamingAppDataFolder();
    return facts;
}

std::string PrepareSettingsFolder(const SettingsFolderFacts& facts)
{
    const std::string folder = ChooseSettingsFolder(facts);
    if (folder.empty() || !QDir().mkpath(QString::fromStdString(folder)))
        return {};
    return folder;
}

std::string SettingsFolderOfThisRun()
{
    return PrepareSettingsFolder(
        SettingsFolderFactsOf(QCoreApplication::applicationDirPath().toStdString()));
}

} // namespace velt
