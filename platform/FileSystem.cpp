#include "platform/FileSystem.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace velt
{

namespace
{

bool EqualNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

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

std::string JoinPath(std::string_view folder, std::string_view name)
{
    std::string out(folder);
    if (!out.empty() && out.back() != '/' && out.back() != '\\')
        out.push_back(kPathSeparator);
    out.append(name);
    return out;
}

std::optional<std::string> FindFileNoCase(std::string_view folder, std::string_view relativePath)
{
    namespace fs = std::filesystem;
    const auto parts = SplitComponents(relativePath);
    if (parts.empty())
        return std::nullopt;
    fs::path current = folder.empty() ? fs::path(".") : fs::path(std::string(folder));
    std::error_code error;
    for (std::size_t i = 0; i < parts.size(); ++i)
    {
        const std::string_view part = parts[i];
        if (part == "." || part == "..")
            return std::nullopt;
        const bool last = i + 1 == parts.size();
        fs::path exact = current / std::string(part);
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
                if (EqualNoCase(it->path().filename().string(), part))
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
    return current.string();
}

std::string CurrentDirectory()
{
    std::error_code error;
    auto path = std::filesystem::current_path(error);
    return error ? std::string() : path.string();
}

LocalFileRead ReadLocalFile(const std::string& path, std::size_t maxBytes)
{
    LocalFileRead result;
    // Non-blocking, so that opening a FIFO returns at once; the check below then refuses it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return result;
    struct stat info{};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
    {
        ::close(fd);
        result.m_status = LocalFileRead::Status::kNotRegular;
        return result;
    }
    if (static_cast<std::uint64_t>(info.st_size) > maxBytes)
    {
        ::close(fd);
        result.m_status = LocalFileRead::Status::kTooLarge;
        return result;
    }
    // The size may change meanwhile: read at most one byte past the bound, to tell.
    result.m_bytes.resize(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t got = 0;
    for (;;)
    {
        if (got == result.m_bytes.size())
        {
            if (got > maxBytes)
                break;
            result.m_bytes.resize(std::min(maxBytes + 1, got * 2 + 1));
        }
        const ssize_t n = ::read(fd, result.m_bytes.data() + got, result.m_bytes.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
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
    const auto status = std::filesystem::status(path, error);
    return !error && std::filesystem::exists(status) && !std::filesystem::is_regular_file(status);
}

} // namespace velt
