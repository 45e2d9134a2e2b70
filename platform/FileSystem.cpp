#include "platform/FileSystem.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace velt
{

namespace
{

std::vector<std::string_view> SplitComponents(std::string_view path)
{
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size(); ++i)
    {
        if (i == path.size() || path[i] == '\\' || path[i] == '/')
        {
            if (i > start)
                parts.push_back(path.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

} // namespace

std::filesystem::path PathFromUtf8(std::string_view text)
{
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string PathToUtf8(const std::filesystem::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string JoinPath(std::string_view folder, std::string_view name)
{
    std::string out(folder);
    if (!out.empty() && out.back() != '/' && out.back() != '\\')
        out.push_back(kPathSeparator);
    out.append(name);
    return out;
}

std::filesystem::path MakeFreshTempFolder(std::string_view prefix)
{
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path temp = fs::temp_directory_path(error);
    if (error)
        return {};
    std::random_device random;
    // create_directory fails on a name that exists, so a name is ours once it succeeds.
    for (int attempt = 0; attempt < 100; ++attempt)
    {
        const fs::path folder = temp / PathFromUtf8(std::string(prefix) + std::to_string(random()) +
                                                    std::to_string(random()));
        if (fs::create_directory(folder, error))
            return folder;
    }
    return {};
}

bool EqualAsciiNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](unsigned char x, unsigned char y)
                                              { return std::tolower(x) == std::tolower(y); });
}

std::optional<std::string> FindFileNoCase(std::string_view folder, std::string_view relativePath)
{
    namespace fs = std::filesystem;
    const auto parts = SplitComponents(relativePath);
    if (parts.empty())
        return std::nullopt;
    fs::path current = folder.empty() ? fs::path(".") : PathFromUtf8(folder);
    std::error_code error;
    for (std::size_t i = 0; i < parts.size(); ++i)
    {
        const std::string_view part = parts[i];
        if (part == "." || part == "..")
            return std::nullopt;
        const bool last = i + 1 == parts.size();
        fs::path exact = current / PathFromUtf8(part);
        if (fs::exists(exact, error))
        {
            current = exact;
        }
        else
        {
            std::optional<fs::path> found;
            for (fs::directory_iterator it(current, error), end; !error && it != end;
                 it.increment(error))
            {
                if (EqualAsciiNoCase(PathToUtf8(it->path().filename()), part))
                {
                    found = it->path();
                    break;
                }
            }
            if (!found)
                return std::nullopt;
            current = *found;
        }
        if (!last && !fs::is_directory(current, error))
            return std::nullopt;
    }
    if (!fs::is_regular_file(current, error))
        return std::nullopt;
    return PathToUtf8(current);
}

std::string CurrentDirectory()
{
    std::error_code error;
    auto path = std::filesystem::current_path(error);
    return error ? std::string() : PathToUtf8(path);
}

LocalFileRead ReadLocalFile(const std::string& path, std::size_t maxBytes)
{
    LocalFileRead result;
    const std::filesystem::path target = PathFromUtf8(path);
    // Looked at before it is opened: opening a FIFO for reading would wait for a writer.
    std::error_code error;
    const auto status = std::filesystem::status(target, error);
    if (error || !std::filesystem::exists(status))
        return result;
    if (!std::filesystem::is_regular_file(status))
    {
        result.m_status = LocalFileRead::Status::kNotRegular;
        return result;
    }
    const std::uintmax_t size = std::filesystem::file_size(target, error);
    if (!error && size > maxBytes)
    {
        result.m_status = LocalFileRead::Status::kTooLarge;
        return result;
    }
    std::ifstream file(target, std::ios::binary);
    if (!file)
        return result;
    // The size may change meanwhile: at most one byte past the bound is read, to tell.
    result.m_bytes.resize(
        std::min<std::size_t>(maxBytes + 1, error ? 4096 : static_cast<std::size_t>(size) + 1));
    std::size_t got = 0;
    while (file && got < maxBytes + 1)
    {
        if (got == result.m_bytes.size())
            result.m_bytes.resize(std::min(maxBytes + 1, got * 2 + 1));
        file.read(result.m_bytes.data() + got,
                  static_cast<std::streamsize>(result.m_bytes.size() - got));
        got += static_cast<std::size_t>(file.gcount());
    }
    result.m_bytes.resize(got);
    if (got > maxBytes)
    {
        result.m_bytes.clear();
        result.m_status = LocalFileRead::Status::kTooLarge;
        return result;
    }
    result.m_status = LocalFileRead::Status::kRead;
    return result;
}

bool IsNonRegularFile(const std::string& path)
{
    std::error_code error;
    const auto status = std::filesystem::status(PathFromUtf8(path), error);
    return !error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status);
}

bool LocalFileWritable(const std::string& path)
{
    if (IsNonRegularFile(path))
        return false;
    const std::filesystem::path target = PathFromUtf8(path);
    return !std::ifstream(target).good() || std::ofstream(target, std::ios::app).good();
}

bool ReplaceLocalFile(const std::string& path, std::string_view bytes)
{
    const std::filesystem::path target = PathFromUtf8(path);
    const std::filesystem::path temporary = PathFromUtf8(std::string(path) + ".tmp");
    std::error_code error;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out || !out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) ||
            !out.flush())
        {
            out.close();
            std::filesystem::remove(temporary, error);
            return false;
        }
    }
    std::filesystem::rename(temporary, target, error);
    if (error)
    {
        std::filesystem::remove(temporary, error);
        return false;
    }
    return true;
}

} // namespace velt
