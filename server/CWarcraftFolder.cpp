#include "server/CWarcraftFolder.h"

#include <optional>

#include "platform/FileSystem.h"
#include "platform/Registry.h"

namespace velt
{

void CWarcraftFolder::Set(const std::string& folder)
{
    std::lock_guard lock(m_mutex);
    m_path = folder.substr(0, kMaxPathLength);
}

std::string CWarcraftFolder::Get() const
{
    std::lock_guard lock(m_mutex);
    return m_path;
}

bool CWarcraftFolder::MapFileExists(const std::string& relativePath) const
{
    // Folder and map path meet at exactly one separator, whether or not the folder ends in one,
    // and a folder typed in Windows form is looked up where Wine keeps that drive.
    return FindFileNoCase(LocalFolderPath(Get()), relativePath).has_value();
}

std::string CWarcraftFolder::QueryInstallPath()
{
    const std::optional<std::string> value = ReadUserRegistryString(
        "Software\\Blizzard Entertainment\\Warcraft III", "InstallPathX", kInstallPathBytes);
    if (!value)
        return {};
    const std::optional<std::string> local = WindowsPathToLocal(WinePrefix(), *value);
    if (!local || local->empty())
        return {};
    std::string folder = *local;
    if (folder.back() != kPathSeparator)
        folder.push_back(kPathSeparator);
    Set(folder);
    return Get();
}

} // namespace velt
