#include "platform/UserFolders.h"

#ifdef _WIN32
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

#include "platform/WideText.h"
#endif

namespace velt
{

std::string ShellRoamingAppDataFolder()
{
#ifdef _WIN32
    PWSTR folder = nullptr;
    // Not created here: the caller creates only its own folder inside, and only when it is used.
    const HRESULT result =
        ::SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_DONT_VERIFY, nullptr, &folder);
    std::string text;
    if (SUCCEEDED(result) && folder != nullptr)
        text = Utf8FromWide(folder);
    ::CoTaskMemFree(folder);
    return text;
#else
    return {};
#endif
}

} // namespace velt
