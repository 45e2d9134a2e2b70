#include "platform/Registry.h"

#include <cctype>
#include <filesystem>

#include "platform/FileSystem.h"
#include "platform/Utf8.h"

namespace velt
{

std::optional<std::string> ReadUserRegistryString(std::string_view keyPath,
                                                  std::string_view valueName, std::size_t maxBytes)
{
    return ReadWineUserRegistryString(WinePrefix(), keyPath, valueName, maxBytes);
}

std::optional<std::string> WindowsPathToLocal(const std::string& prefix,
                                              std::string_view windowsPath)
{
    namespace fs = std::filesystem;
    if (windowsPath.size() < 2 || windowsPath[1] != ':' ||
        !std::isalpha(static_cast<unsigned char>(windowsPath[0])))
        return std::nullopt;
    const char drive = static_cast<char>(std::tolower(static_cast<unsigned char>(windowsPath[0])));
    fs::path root = fs::path(prefix) / "dosdevices" / (std::string(1, drive) + ":");
    std::error_code error;
    if (!fs::exists(root, error))
    {
        if (drive != 'c')
            return std::nullopt;
        root = fs::path(prefix) / "drive_c";
    }
    // Follow the components without regard to case, as Windows would; a component that does
    // not exist is kept as written.
    fs::path current = root;
    std::string_view rest = windowsPath.substr(2);
    std::size_t start = 0;
    for (std::size_t i = 0; i <= rest.size(); ++i)
    {
        if (i < rest.size() && rest[i] != '\\' && rest[i] != '/')
            continue;
        const std::string part(rest.substr(start, i - start));
        start = i + 1;
        if (part.empty() || part == ".")
            continue;
        if (part == "..")
            return std::nullopt;
        fs::path next = current / part;
        if (!fs::exists(next, error) && fs::is_directory(current, error))
        {
            for (fs::directory_iterator it(current, error), end; !error && it != end;
                 it.increment(error))
            {
                if (EqualAsciiNoCase(it->path().filename().string(), part))
                {
                    next = it->path();
                    break;
                }
            }
        }
        current = next;
    }
    return PathToUtf8(current);
}

std::string LocalFolderPath(const std::string& folder)
{
    if (folder.size() < 2 || folder[1] != ':' ||
        !std::isalpha(static_cast<unsigned char>(folder[0])))
        return folder;
    return WindowsPathToLocal(WinePrefix(), folder).value_or(folder);
}

} // namespace velt
