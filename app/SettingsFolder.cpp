#include "app/SettingsFolder.h"

#include "browser/CVELTTopView.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace velt
{

namespace
{

bool IsAbsoluteFolder(const std::string& folder)
{
    return !folder.empty() && folder.front() == '/';
}

} // namespace

std::string ChooseSettingsFolder(const SettingsFolderFacts& facts)
{
    if (!facts.m_installed || facts.m_workingDirectoryHasSettings)
        return {};
    // An XDG variable that is not absolute is to be ignored.
    if (IsAbsoluteFolder(facts.m_xdgConfigHome))
        return facts.m_xdgConfigHome + "/veltplayer";
    if (IsAbsoluteFolder(facts.m_home))
        return facts.m_home + "/.config/veltplayer";
    return {};
}

SettingsFolderFacts SettingsFolderFactsOfThisRun()
{
    SettingsFolderFacts facts;
    // The build folder is known when the program is built; anywhere else it was installed.
    const QString buildFolder = QDir(QStringLiteral(VELT_BUILD_FOLDER)).canonicalPath();
    const QString programFolder = QDir(QCoreApplication::applicationDirPath()).canonicalPath();
    facts.m_installed = buildFolder.isEmpty() ||
                        !(programFolder == buildFolder ||
                          programFolder.startsWith(buildFolder + QLatin1Char('/')));
    facts.m_workingDirectoryHasSettings =
        QFileInfo(QDir::current().filePath(QLatin1String(CVELTTopView::kSettingsFileName)))
            .isFile();
    facts.m_xdgConfigHome = qEnvironmentVariable("XDG_CONFIG_HOME").toStdString();
    facts.m_home = qEnvironmentVariable("HOME").toStdString();
    return facts;
}

std::string SettingsFolderOfThisRun()
{
    const std::string folder = ChooseSettingsFolder(SettingsFolderFactsOfThisRun());
    if (folder.empty() || !QDir().mkpath(QString::fromStdString(folder)))
        return {};
    return folder;
}

} // namespace velt
