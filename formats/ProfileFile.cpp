#include "formats/ProfileFile.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <vector>

#include "platform/FileSystem.h"

namespace velt
{

namespace
{

// Profile files are small; a larger file is not one of ours and is not read.
constexpr std::size_t kMaxProfileFileSize = 1024 * 1024;

struct ProfileLines
{
    std::vector<std::string> m_lines;
    std::string m_newline = "\r\n"; // the platform writes CRLF; an existing file keeps its own
    bool m_endsWithNewline = true;
};

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

std::optional<ProfileLines> Load(const std::string& path)
{
    LocalFileRead read = ReadLocalFile(path, kMaxProfileFileSize);
    if (read.m_status != LocalFileRead::Status::kRead)
        return std::nullopt;
    const std::string text = std::move(read.m_bytes);
    ProfileLines out;
    if (text.find("\r\n") == std::string::npos && text.find('\n') != std::string::npos)
        out.m_newline = "\n";
    out.m_endsWithNewline = text.empty() || text.back() == '\n';
    std::size_t start = 0;
    while (start < text.size())
    {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        out.m_lines.push_back(std::move(line));
        start = end + 1;
    }
    return out;
}

std::optional<std::string_view> SectionName(std::string_view line)
{
    line = Trim(line);
    if (line.size() < 2 || line.front() != '[')
        return std::nullopt;
    const auto close = line.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return Trim(line.substr(1, close - 1));
}

// The key and value of a "key=value" line; comments and other lines have none.
std::optional<std::pair<std::string_view, std::string_view>> KeyValue(std::string_view line)
{
    const auto trimmed = Trim(line);
    if (trimmed.empty() || trimmed.front() == ';')
        return std::nullopt;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos)
        return std::nullopt;
    return std::make_pair(Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)));
}

struct Location
{
    std::optional<std::size_t> m_section; // line index of the section header
    std::optional<std::size_t> m_key;     // line index of the key
    std::size_t m_sectionEnd = 0;         // index after the section's last non-blank line
};

Location Find(const ProfileLines& profile, std::string_view section, std::string_view key)
{
    Location where;
    bool inSection = false;
    for (std::size_t i = 0; i < profile.m_lines.size(); ++i)
    {
        const auto& line = profile.m_lines[i];
        if (auto name = SectionName(line))
        {
            if (inSection)
                break; // the first matching section is the one that counts
            inSection = EqualNoCase(*name, section);
            if (inSection)
            {
                where.m_section = i;
                where.m_sectionEnd = i + 1;
            }
            continue;
        }
        if (!inSection)
            continue;
        if (!Trim(line).empty())
            where.m_sectionEnd = i + 1;
        if (auto kv = KeyValue(line); kv && !where.m_key && EqualNoCase(kv->first, key))
            where.m_key = i;
    }
    return where;
}

std::optional<std::string> ReadValue(std::string_view section, std::string_view key,
                                     const std::string& path)
{
    const auto profile = Load(path);
    if (!profile)
        return std::nullopt;
    const auto where = Find(*profile, section, key);
    if (!where.m_key)
        return std::nullopt;
    return std::string(KeyValue(profile->m_lines[*where.m_key])->second);
}

} // namespace

int GetPrivateProfileInt(std::string_view section, std::string_view key, int defaultValue,
                         const std::string& path)
{
    const auto value = ReadValue(section, key, path);
    if (!value)
        return defaultValue;
    const char* text = value->c_str();
    bool negative = false;
    if (*text == '-' || *text == '+')
        negative = *text++ == '-';
    long long result = 0;
    while (std::isdigit(static_cast<unsigned char>(*text)) && result < 0x7FFFFFFF)
        result = result * 10 + (*text++ - '0');
    if (negative)
        return 0;
    return static_cast<int>(std::min<long long>(result, 0x7FFFFFFF));
}

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view defaultValue, std::size_t bufferSize,
                                    const std::string& path)
{
    auto value = ReadValue(section, key, path).value_or(std::string(defaultValue));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    if (bufferSize == 0)
        return {};
    if (value.size() > bufferSize - 1)
        value.resize(bufferSize - 1);
    return value;
}

bool WritePrivateProfileString(std::string_view section, std::string_view key,
                               std::string_view value, const std::string& path)
{
    // A file that exists but cannot be written stays as it is; so does anything that is not a
    // regular file.
    if (!LocalFileWritable(path))
        return false;
    ProfileLines profile = Load(path).value_or(ProfileLines{});
    const std::string keyLine = std::string(key) + "=" + std::string(value);
    const auto where = Find(profile, section, key);
    if (where.m_key)
    {
        profile.m_lines[*where.m_key] = keyLine;
    }
    else if (where.m_section)
    {
        profile.m_lines.insert(profile.m_lines.begin() + static_cast<std::ptrdiff_t>(where.m_sectionEnd),
                               keyLine);
    }
    else
    {
        while (!profile.m_lines.empty() && profile.m_lines.back().empty())
            profile.m_lines.pop_back();
        std::string header(1, '[');
        header.append(section).push_back(']');
        profile.m_lines.push_back(std::move(header));
        profile.m_lines.push_back(keyLine);
        profile.m_endsWithNewline = true;
    }

    std::string text;
    for (std::size_t i = 0; i < profile.m_lines.size(); ++i)
    {
        text += profile.m_lines[i];
        if (i + 1 < profile.m_lines.size() || profile.m_endsWithNewline)
            text += profile.m_newline;
    }
    return ReplaceLocalFile(path, text);
}

} // namespace velt
