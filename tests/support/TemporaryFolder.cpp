#include "support/TemporaryFolder.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace korvotest {

TemporaryFolder::TemporaryFolder(const std::string& prefix) {
    std::string pattern = (fs::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "cannot make a folder like " + pattern);
    path = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    // Tests make parts read-only on purpose; give the owner back every right
    // on the way down so that remove_all can empty them.
    std::error_code ignored;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (auto it = fs::recursive_directory_iterator(path, ignored); !ignored && it != fs::recursive_directory_iterator();
         it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path, ignored);
}

fs::path TemporaryFolder::Make(const std::string& relative) const {
    fs::path full = path / relative;
    fs::create_directories(full.parent_path());
    return full;
}

void TemporaryFolder::Write(const std::string& relative, const std::string& content) const {
    std::ofstream(Make(relative), std::ios::binary) << content;
}

std::string TemporaryFolder::Read(const std::string& relative) const {
    std::ifstream in(path / relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool TemporaryFolder::Exists(const std::string& relative) const { return fs::exists(path / relative); }

}  // namespace korvotest
