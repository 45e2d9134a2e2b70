#pragma once

#include <cstddef>
#include <mutex>
#include <string>

namespace velt
{

// Where Warcraft III is installed on this machine, as the viewer chose it or its registry entry
// says: the folder that map paths are looked up under. Safe from any thread.
class CWarcraftFolder
{
public:
    // Longest folder text kept (a 292-byte field with its NUL).
    static constexpr std::size_t kMaxPathLength = 291;
    // The registry value is read into a buffer of this size, its terminator included.
    static constexpr std::size_t kInstallPathBytes = 255;

    // The folder, normally ending in a separator; cut to kMaxPathLength.
    void Set(const std::string& folder);
    std::string Get() const;
    // Whether the folder text followed by the relative path names an existing file.
    bool MapFileExists(const std::string& relativePath) const;
    // The folder from Warcraft III's registry entry (under Wine, the prefix's user registry),
    // ending in a separator; also stored as the folder. Empty, and the folder unchanged, when
    // there is no entry.
    std::string QueryInstallPath();

private:
    // The front end's thread sets the folder; the hosts' session threads look maps up in it.
    mutable std::mutex m_mutex;
    std::string m_path;
};

} // namespace velt
