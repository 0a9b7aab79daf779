#pragma once
// A fresh folder under the system's temporary folder, removed with everything
// in it (read-only parts included) when the object goes; plus the small file
// helpers the fixtures use. A folder that cannot be made throws, which fails
// the test that asked for it.

#include <filesystem>
#include <string>

namespace korvotest {

class TemporaryFolder {
public:
    // prefix names the folder ("korvo-XXXXXX" by default) so that a folder
    // left by a killed run shows which test made it.
    explicit TemporaryFolder(const std::string& prefix = "korvo");
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    // path / relative, with the folders on the way created.
    std::filesystem::path Make(const std::string& relative) const;
    void Write(const std::string& relative, const std::string& content) const;
    std::string Read(const std::string& relative) const;
    bool Exists(const std::string& relative) const;

    std::filesystem::path path;
};

}  // namespace korvotest
