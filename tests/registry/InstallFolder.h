#pragma once
// A throw-away installation for registry and project tests:
//   <root>/bin/             the program folder given to the registry
//   <root>/Repository/      the description files *.scm
//   <root>/cache/           $XDG_CACHE_HOME while the fixture lives
//   <root>/data/            $XDG_DATA_HOME while the fixture lives, so the
//                           user's description folder is data/program/Repository
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
        for (Variable& v : variables) {
            const char* old = g_getenv(v.name);
            if (old) v.old = old, v.had = true;
            g_setenv(v.name, (path / v.folder).c_str(), TRUE);
        }
    }
    ~InstallFolder() {
        for (Variable& v : variables) {
            if (v.had) g_setenv(v.name, v.old.c_str(), TRUE);
            else g_unsetenv(v.name);
        }
    }

    String ProgramFolder() const { return String::FromUtf8((path / "bin").string() + "/"); }
    std::string Bin(const std::string& name) const { return (path / "bin" / name).string(); }

    // A description file Repository/<file> with the attributes given as written
    // (for example R"(name="Alpha" class="a" path="...")").
    // A file name with a folder ("data/program/Repository/x.scm") goes there.
    void Describe(const std::string& file, const std::string& attributes) const {
        Write((file.find('/') == std::string::npos ? "Repository/" : "") + file,
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
    struct Variable {
        const char* name;
        const char* folder;
        std::string old;
        bool had = false;
    } variables[2] = {{"XDG_CACHE_HOME", "cache", {}, false}, {"XDG_DATA_HOME", "data", {}, false}};
};
