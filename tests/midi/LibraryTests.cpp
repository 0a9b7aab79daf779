// The built libTannevaleMidi.so: its exports, its dependency on the DNS-SD
// stand-in and the Runtime.log it makes sure of at load. Each case loads the
// library in a child process, so every load is a first load.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "framework/PlugIn.h"
#include "platform/ProgramFile.h"
#include "framework/Utf8.h"
#include "platform/VersionInfo.h"

namespace {

namespace fs = std::filesystem;

// Runs body in a child process; returns its exit status (0 = every check held).
template <typename Body>
int InChild(Body body) {
    pid_t child = fork();
    if (child == 0) _exit(body());
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

fs::path TempDirectory() {
    char pattern[] = "/tmp/tannevale-midi-XXXXXX";
    return fs::path(mkdtemp(pattern));
}

std::string Read(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

bool DnsSdLoaded() {
    bool found = false;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            if (info->dlpi_name && std::strstr(info->dlpi_name, "libdante_dnssd.so")) *static_cast<bool*>(data) = true;
            return 0;
        },
        &found);
    return found;
}

TEST(Library, ExportsTheModuleAndNeedsTheDnsSdStandIn) {
    fs::path dir = TempDirectory();
    int status = InChild([&] {
        if (chdir(dir.c_str()) != 0) return 1;
        if (DnsSdLoaded()) return 2;
        void* library = dlopen(TANNEVALE_MIDI_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (!library) return 3;
        if (!DnsSdLoaded()) return 4;
        auto create = reinterpret_cast<CreateKorvoModuleFunction>(dlsym(library, "CreateKorvoModule_TannevaleMidi"));
        auto destroy = reinterpret_cast<DeleteKorvoModuleFunction>(dlsym(library, "DeleteKorvoModule"));
        if (!create || !destroy) return 5;
        KorvoModule* module = create();
        if (!module || module->connectors.Count() != 5 || !module->FindConnector(L"Receive"))
            return 6;
        destroy(module);
        destroy(nullptr);
        return 0;
    });
    EXPECT_EQ(status, 0);
    fs::remove_all(dir);
}

// Loading makes sure Runtime.log exists in the program folder (here the test
// program's), never in the folder the process was started from.
TEST(Library, LoadingMakesSureRuntimeLogExistsInTheProgramFolder) {
    struct Case {
        const char* name;
        const char* existing;  // null: no file before the load
        const char* after;
    };
    const Case cases[] = {
        {"missing", nullptr, ""},
        {"present", "kept line\n", "kept line\n"},
    };
    const fs::path log = fs::path(EncodeUtf8(platform::ProgramFile::Directory())) / "Runtime.log";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::path dir = TempDirectory();
        fs::remove(log);
        if (c.existing) std::ofstream(log) << c.existing;
        int status = InChild([&] {
            if (chdir(dir.c_str()) != 0) return 1;
            return dlopen(TANNEVALE_MIDI_LIBRARY, RTLD_NOW | RTLD_LOCAL) ? 0 : 2;
        });
        EXPECT_EQ(status, 0);
        EXPECT_FALSE(fs::exists(dir / "Runtime.log"));
        ASSERT_TRUE(fs::exists(log));
        EXPECT_EQ(Read(log), c.after);
        fs::remove_all(dir);
    }
}

// A read-only program folder sends Runtime.log to the cache folder beside the
// registry index. The folder is made read-only by a read-only bind mount in a
// mount namespace of the child's own (permissions do not stop root).
TEST(Library, ReadOnlyProgramFolderPutsRuntimeLogInTheCache) {
    const std::string program = EncodeUtf8(platform::ProgramFile::Directory());
    const fs::path expected = "cache/" + EncodeUtf8(platform::VersionInfo::CompanyName()) + "/" +
                              EncodeUtf8(platform::ProgramFile::ExeName()) + "/Runtime.log";
    fs::path dir = TempDirectory();
    fs::create_directory(dir / "start");
    int status = InChild([&] {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(program.c_str(), program.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            mount(nullptr, program.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            return 77;
        if (access(program.c_str(), W_OK) == 0) return 77;
        setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
        if (chdir((dir / "start").c_str()) != 0) return 1;
        return dlopen(TANNEVALE_MIDI_LIBRARY, RTLD_NOW | RTLD_LOCAL) ? 0 : 2;
    });
    if (status == 77) {
        fs::remove_all(dir);
        GTEST_SKIP() << "no private read-only mount can be made here to stand for a read-only program folder";
    }
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(fs::exists(dir / expected)) << expected;
    EXPECT_TRUE(fs::is_empty(dir / "start"));
    fs::remove_all(dir);
}

}  // namespace
