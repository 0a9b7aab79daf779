#pragma once
// A throw-away installation for registry and project tests:
//   <root>/bin/             the program folder given to the registry
//   <root>/Repository/      the description files *.scm
//   <root>/cache/           $XDG_CACHE_HOME while the fixture lives
// plus helpers that write description files and copy the probe library.

#include <glib.h>

#include <filesystem>
#include <string>

#include "framework/String.h"
#include "support/TemporaryFolder.h"

class InstallFolder : public korvotest::TemporaryFolder {
public:
    InstallFolder() {
        Make("bin/.keep");
        Make("Repository/.keep");
        const char* old = g_getenv("XDG_CACHE_HOME");
        if (old) oldCache = old, hadCache = true;
        g_setenv("XDG_CACHE_HOME", (path / "cache").c_str(), TRUE);
    }
    ~InstallFolder() {
        if (hadCache) g_setenv("XDG_CACHE_HOME", oldCache.c_str(), TRUE);
        else g_unsetenv("XDG_CACHE_HOME");
    }

    String ProgramFolder() const { return String::FromUtf8((path / "bin").string() + "/"); }
    std::string Bin(const std::string& name) const { return (path / "bin" / name).string(); }

    // A description file Repository/<file> with the attributes given as written
    // (for example R"(name="Alpha" class="a" path="...")").
    void Describe(const std::string& file, const std::string& attributes) const {
        Write("Repository/" + file,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<korvo_module " + attributes + "/>\n");
    }
    // The usual description: module name, class and library path.
    void Describe(const std::string& file, const std::string& name, const std::string& moduleClass,
                  const std::string& library) const {
        Describe(file, "name=\"" + name + "\" class=\"" + moduleClass + "\" version=\"1.0\" type=\"probe\" path=\"" +
                           library + "\"");
    }
    // A copy of a library under bin/ (a distinct file, so the loader loads it anew).
    std::string CopyLibrary(const std::string& from, const std::string& name) const {
        std::filesystem::copy_file(from, Bin(name), std::filesystem::copy_options::overwrite_existing);
        return Bin(name);
    }

private:
    std::string oldCache;
    bool hadCache = false;
};
