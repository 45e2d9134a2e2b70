#include "server/WarcraftFolder.h"

#include "platform/FileSystem.h"

namespace velt
{

bool FolderFileExists(const std::string& folder, const std::string& relativePath)
{
    // Plain concatenation: a folder without a trailing separator runs into the first component
    // of the relative path, so cut the joined text after the folder's last separator instead.
    const std::string joined = folder + relativePath;
    const std::size_t lastSeparator = folder.find_last_of("/\\");
    if (lastSeparator == std::string::npos)
        return FindFileNoCase("", joined).has_value();
    const std::string base = joined.substr(0, lastSeparator + 1);
    return FindFileNoCase(base, joined.substr(lastSeparator + 1)).has_value();
}

} // namespace velt
