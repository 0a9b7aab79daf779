#pragma once
// A fresh folder under the system's temporary folder, removed with everything
// in it when the test ends; plus the small file helpers the fixtures use.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

class TemporaryFolder {
public:
    TemporaryFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "korvo-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        path = pattern;
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    // path / relative, with the folders on the way created.
    std::filesystem::path Make(const std::string& relative) const {
        std::filesystem::path full = path / relative;
        std::filesystem::create_directories(full.parent_path());
        return full;
    }
    void Write(const std::string& relative, const std::string& content) const {
        std::ofstream(Make(relative), std::ios::binary) << content;
    }
    std::string Read(const std::string& relative) const {
        std::ifstream in(path / relative, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    bool Exists(const std::string& relative) const { return std::filesystem::exists(path / relative); }

    std::filesystem::path path;
};
