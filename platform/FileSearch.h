#pragma once
// FindFiles: the wildcard file search of the registry. The names come back
// sorted by their bytes, so that "the order of the search" is the same on every
// machine and every file system.

#include <string>
#include <vector>

#include "Export.h"

namespace platform {

// Names (not paths) of the entries of directory that match pattern, a shell
// wildcard ("*", "?", "[...]"); "*.*" matches every name, dotted or not.
// "." and ".." are never returned. A directory that cannot be opened gives an
// empty list.
PLATFORM_API std::vector<std::string> FindFiles(const std::string& directory, const std::string& pattern);

}  // namespace platform
