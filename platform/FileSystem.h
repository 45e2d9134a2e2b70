#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace velt
{

// The separator of this system's paths.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// Paths are UTF-8 text in this program; these convert at std::filesystem's boundary, which on
// Windows would otherwise read narrow text in the ANSI code page.
std::filesystem::path PathFromUtf8(std::string_view text);
std::string PathToUtf8(const std::filesystem::path& path);

// Joins a folder and a name with one separator; a folder that already ends in a slash or a
// backslash gets no second one. An empty folder leaves the name relative to the working directory.
std::string JoinPath(std::string_view folder, std::string_view name);

// Makes a new, empty folder in the system's temporary folder whose name begins with prefix and
// that no other process has; the empty path when none can be made.
std::filesystem::path MakeFreshTempFolder(std::string_view prefix);

// Whether two names are the same but for the case of ASCII letters, as Windows compares them.
bool EqualAsciiNoCase(std::string_view a, std::string_view b);

// Finds the file that a Windows-style relative path names below a folder. Backslashes and slashes
// both separate components, and each component matches without regard to case, because the
// game's files come from a Windows install. Components "." and ".." are refused.
std::optional<std::string> FindFileNoCase(std::string_view folder, std::string_view relativePath);

// A local file read whole, or why not.
struct LocalFileRead
{
    enum class Status
    {
        kRead,
        kMissing,    // absent or cannot be opened
        kNotRegular, // a folder, a device, a pipe ...
        kTooLarge,   // more than the caller's bound
    };
    Status m_status = Status::kMissing;
    std::string m_bytes;
};

// Reads a regular file of at most maxBytes. Opening never waits (a FIFO without a writer does
// not hold it up), anything but a regular file is refused, and no more than maxBytes + 1 bytes
// are ever read, so a file that grows or lies about its size cannot make it grow without bound.
LocalFileRead ReadLocalFile(const std::string& path, std::size_t maxBytes);

// Whether the path names something that is not a regular file (without opening it). False
// when nothing is there.
bool IsNonRegularFile(const std::string& path);

// Whether a write may replace the file: nothing is there yet, or a regular file that can be
// opened for writing. Anything that is not a regular file is refused without being opened
// (opening a FIFO would wait for its other end).
bool LocalFileWritable(const std::string& path);

// Writes the bytes beside the file and renames them over it, so that a failed write never
// truncates the old file. True when the file holds the bytes.
bool ReplaceLocalFile(const std::string& path, std::string_view bytes);

// The process's working directory, or an empty text when it cannot be read.
std::string CurrentDirectory();

} // namespace velt
