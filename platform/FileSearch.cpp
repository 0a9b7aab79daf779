#include "FileSearch.h"

#include <dirent.h>
#include <fnmatch.h>

#include <algorithm>
#include <cstring>

namespace platform {

std::vector<std::string> FindFiles(const std::string& directory, const std::string& pattern) {
    std::vector<std::string> names;
    DIR* folder = opendir(directory.empty() ? "." : directory.c_str());
    if (folder == nullptr) return names;
    // On Windows "*.*" also finds names without a dot; fnmatch would not.
    bool everything = pattern == "*.*";
    while (dirent* entry = readdir(folder)) {
        const char* name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
        if (everything || fnmatch(pattern.c_str(), name, 0) == 0) names.emplace_back(name);
    }
    closedir(folder);
    // std::string compares as unsigned bytes: the order does not follow the locale.
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace platform
