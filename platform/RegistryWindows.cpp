#include "platform/Registry.h"

#include <vector>
#include <windows.h>

#include "platform/WideText.h"

namespace velt
{

std::optional<std::string> ReadUserRegistryString(std::string_view keyPath,
                                                  std::string_view valueName, std::size_t maxBytes)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, WideFromUtf8(NormaliseRegistryKey(keyPath)).c_str(), 0,
                        KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return std::nullopt;
    const std::wstring name = WideFromUtf8(valueName);
    // Characters that fit maxBytes, and one more for a terminator that the value may lack.
    std::vector<wchar_t> buffer(maxBytes + 1, L'\0');
    DWORD type = 0;
    DWORD bytes = static_cast<DWORD>(maxBytes * sizeof(wchar_t));
    const LONG status = ::RegQueryValueExW(key, name.c_str(), nullptr, &type,
                                           reinterpret_cast<BYTE*>(buffer.data()), &bytes);
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    std::wstring_view wide(buffer.data(), bytes / sizeof(wchar_t));
    if (const auto nul = wide.find(L'\0'); nul != std::wstring_view::npos)
        wide = wide.substr(0, nul);
    std::string value = Utf8FromWide(wide);
    if (value.size() + 1 > maxBytes)
        return std::nullopt;
    return value;
}

std::optional<std::string> WindowsPathToLocal(const std::string& prefix,
                                              std::string_view windowsPath)
{
    // The game's own system: its paths are this system's paths.
    (void)prefix;
    if (windowsPath.empty())
        return std::nullopt;
    return std::string(windowsPath);
}

std::string LocalFolderPath(const std::string& folder)
{
    return folder;
}

} // namespace velt
