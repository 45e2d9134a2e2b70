#include "platform/Registry.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Utf8.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/WideText.h"
#endif

namespace velt
{

namespace
{

// A registry file holds one line per value; anything longer is not a value we read.
constexpr std::size_t kMaxRegistryLine = 64 * 1024;
// A real prefix's user registry is a few megabytes; a larger file is not read at all.
constexpr std::size_t kMaxRegistryFileBytes = 64 * 1024 * 1024;

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}


// Reads a quoted text of a registry file from pos (at the opening quote); Wine escapes
// backslashes, quotes, control characters and non-ASCII characters (\xHHHH).
std::optional<std::string> ReadQuoted(std::string_view line, std::size_t& pos)
{
    if (pos >= line.size() || line[pos] != '"')
        return std::nullopt;
    std::string out;
    for (++pos; pos < line.size(); ++pos)
    {
        const char c = line[pos];
        if (c == '"')
        {
            ++pos;
            return out;
        }
        if (c != '\\')
        {
            out.push_back(c);
            continue;
        }
        if (++pos >= line.size())
            return std::nullopt;
        switch (const char e = line[pos])
        {
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case '0': out.push_back('\0'); break;
        case 'x':
        {
            unsigned code = 0;
            int digits = 0;
            while (digits < 4 && pos + 1 < line.size() &&
                   std::isxdigit(static_cast<unsigned char>(line[pos + 1])))
            {
                const char h = static_cast<char>(std::tolower(static_cast<unsigned char>(line[++pos])));
                code = code * 16 + static_cast<unsigned>(h <= '9' ? h - '0' : h - 'a' + 10);
                ++digits;
            }
            AppendUtf8(out, code);
            break;
        }
        default: out.push_back(e); break;
        }
    }
    return std::nullopt;
}

// "[Software\\Blizzard Entertainment\\Warcraft III] 1700000000" -> the key path.
std::optional<std::string> SectionKey(std::string_view line)
{
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    const auto close = line.rfind(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    std::string key;
    for (std::size_t i = 1; i < close; ++i)
    {
        if (line[i] == '\\' && i + 1 < close && line[i + 1] == '\\')
            ++i;
        key.push_back(line[i]);
    }
    return key;
}

std::string NormaliseKey(std::string_view key)
{
    std::string out(key);
    while (!out.empty() && out.back() == '\\')
        out.pop_back();
    while (!out.empty() && out.front() == '\\')
        out.erase(out.begin());
    return out;
}

} // namespace

std::string WinePrefix()
{
    if (const char* prefix = std::getenv("WINEPREFIX"); prefix != nullptr && *prefix != '\0')
        return prefix;
    const char* home = std::getenv("HOME");
    return JoinPath(home != nullptr ? home : "", ".wine");
}

std::optional<std::string> ReadWineUserRegistryString(const std::string& prefix,
                                                      std::string_view keyPath,
                                                      std::string_view valueName,
                                                      std::size_t maxBytes)
{
    const LocalFileRead read = ReadLocalFile(JoinPath(prefix, "user.reg"), kMaxRegistryFileBytes);
    if (read.m_status != LocalFileRead::Status::kRead)
        return std::nullopt;
    const std::string wanted = NormaliseKey(keyPath);
    bool inKey = false;
    const std::string_view text = read.m_bytes;
    for (std::size_t start = 0; start < text.size();)
    {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::size_t length = end - start;
        const std::size_t lineStart = start;
        start = end + 1;
        if (length > kMaxRegistryLine)
            continue;
        std::string line(text.substr(lineStart, length));
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (auto key = SectionKey(line))
        {
            inKey = EqualNoCase(NormaliseKey(*key), wanted);
            continue;
        }
        if (!inKey || line.empty() || line.front() != '"')
            continue;
        std::size_t pos = 0;
        const auto name = ReadQuoted(line, pos);
        if (!name || !EqualNoCase(*name, valueName) || pos >= line.size() || line[pos] != '=')
            continue;
        ++pos;
        // REG_SZ is written as "text", REG_EXPAND_SZ as str(2):"text".
        if (line.compare(pos, 7, "str(2):") == 0)
            pos += 7;
        auto value = ReadQuoted(line, pos);
        if (!value || value->size() + 1 > maxBytes)
            return std::nullopt;
        return value;
    }
    return std::nullopt;
}

#ifdef _WIN32
std::optional<std::string> ReadUserRegistryString(std::string_view keyPath,
                                                  std::string_view valueName, std::size_t maxBytes)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, WideFromUtf8(NormaliseKey(keyPath)).c_str(), 0,
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
#else
std::optional<std::string> ReadUserRegistryString(std::string_view keyPath,
                                                  std::string_view valueName, std::size_t maxBytes)
{
    return ReadWineUserRegistryString(WinePrefix(), keyPath, valueName, maxBytes);
}
#endif

std::optional<std::string> WindowsPathToLocal(const std::string& prefix, std::string_view windowsPath)
{
#ifdef _WIN32
    // The game's own system: its paths are this system's paths.
    (void)prefix;
    if (windowsPath.empty())
        return std::nullopt;
    return std::string(windowsPath);
#else
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
                if (EqualNoCase(it->path().filename().string(), part))
                {
                    next = it->path();
                    break;
                }
            }
        }
        current = next;
    }
    return PathToUtf8(current);
#endif
}

std::string LocalFolderPath(const std::string& folder)
{
#ifdef _WIN32
    return folder;
#else
    if (folder.size() < 2 || folder[1] != ':' || !std::isalpha(static_cast<unsigned char>(folder[0])))
        return folder;
    return WindowsPathToLocal(WinePrefix(), folder).value_or(folder);
#endif
}

} // namespace velt
