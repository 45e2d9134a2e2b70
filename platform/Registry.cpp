#include "platform/Registry.h"

#include <cctype>
#include <cstdlib>

#include "platform/FileSystem.h"
#include "platform/Utf8.h"

namespace velt
{

namespace
{

// A registry file holds one line per value; anything longer is not a value we read.
constexpr std::size_t kMaxRegistryLine = 64 * 1024;
// A real prefix's user registry is a few megabytes; a larger file is not read at all.
constexpr std::size_t kMaxRegistryFileBytes = 64 * 1024 * 1024;

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
        case 'n':
            out.push_back('\n');
            break;
        case 'r':
            out.push_back('\r');
            break;
        case 't':
            out.push_back('\t');
            break;
        case '0':
            out.push_back('\0');
            break;
        case 'x':
        {
            unsigned code = 0;
            int digits = 0;
            while (digits < 4 && pos + 1 < line.size() &&
                   std::isxdigit(static_cast<unsigned char>(line[pos + 1])))
            {
                const char h =
                    static_cast<char>(std::tolower(static_cast<unsigned char>(line[++pos])));
                code = code * 16 + static_cast<unsigned>(h <= '9' ? h - '0' : h - 'a' + 10);
                ++digits;
            }
            AppendUtf8(out, code);
            break;
        }
        default:
            out.push_back(e);
            break;
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

} // namespace

std::string NormaliseRegistryKey(std::string_view key)
{
    std::string out(key);
    while (!out.empty() && out.back() == '\\')
        out.pop_back();
    while (!out.empty() && out.front() == '\\')
        out.erase(out.begin());
    return out;
}

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
    const std::string wanted = NormaliseRegistryKey(keyPath);
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
            inKey = EqualAsciiNoCase(NormaliseRegistryKey(*key), wanted);
            continue;
        }
        if (!inKey || line.empty() || line.front() != '"')
            continue;
        std::size_t pos = 0;
        const auto name = ReadQuoted(line, pos);
        if (!name || !EqualAsciiNoCase(*name, valueName) || pos >= line.size() || line[pos] != '=')
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

} // namespace velt
