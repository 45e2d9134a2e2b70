#pragma once

#include <string>

namespace velt
{

// Whether the folder text followed directly by the relative path names an existing file. The
// texts are joined as they are (the folder normally ends in a separator); backslashes and
// slashes both separate, and components match without regard to case, because map paths come
// from a Windows installation. An empty folder leaves the path relative to the working folder.
bool FolderFileExists(const std::string& folder, const std::string& relativePath);

} // namespace velt
