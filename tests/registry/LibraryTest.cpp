// Library loading: where a bare name is looked for, what failures give, and
// that Free really unloads (the probe library logs its load and unload).

#include "platform/Library.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "ProbeLog.h"
#include "support/TemporaryFolder.h"

using platform::Library;
using platform::LibraryHandle;

namespace {

using Events = std::vector<std::string>;

TEST(Library, LoadsFindsExportsAndUnloads) {
    ProbeLogTake();
    LibraryHandle library = Library::Load(PROBE_MODULES_PATH);
    ASSERT_NE(library, nullptr);
    EXPECT_NE(Library::FindExport(library, "CreateKorvoModule_Alpha"), nullptr);
    EXPECT_NE(Library::FindExport(library, "DeleteKorvoModule"), nullptr);
    EXPECT_EQ(Library::FindExport(library, "CreateKorvoModule_Gamma"), nullptr);
    EXPECT_EQ(Library::FindExport(library, ""), nullptr);
    EXPECT_EQ(Library::FindExport(nullptr, "DeleteKorvoModule"), nullptr);
    Library::Free(library);
    EXPECT_EQ(ProbeLogTake(), (Events{"load libProbeModules.so", "unload libProbeModules.so"}));
    Library::Free(nullptr);
}

TEST(Library, ExportsStayLocalToTheirLibrary) {
    // RTLD_LOCAL: a later dlsym on the program does not see a plug-in's export.
    LibraryHandle library = Library::Load(PROBE_MODULES_PATH);
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(dlsym(RTLD_DEFAULT, "CreateKorvoModule_Alpha"), nullptr);
    Library::Free(library);
    ProbeLogTake();
}

TEST(Library, ProgramFolderIsTheTestProgramsFolder) {
    std::string folder = Library::ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(std::filesystem::equivalent(folder, std::filesystem::path(PROBE_MODULES_PATH).parent_path()));
}

TEST(Library, WhereEachNameIsFound) {
    korvotest::TemporaryFolder temporary;
    struct Case {
        std::string path;
        bool loads;
        const char* why;
    } cases[] = {
        {"libProbeModules.so", true, "bare name found beside the program, which the loader alone would not"},
        {"libm.so.6", true, "bare name not beside the program: the loader's search"},
        {"libRegistryNoSuch.so", false, "bare name found nowhere"},
        {PROBE_MODULES_PATH, true, "full path"},
        {(temporary.path / "libProbeModules.so").string(), false, "full path of a missing file"},
        {"", false, "no name: never the program itself"},
    };
    for (const Case& c : cases) {
        LibraryHandle library = Library::Load(c.path);
        EXPECT_EQ(library != nullptr, c.loads) << c.why;
        Library::Free(library);
    }
    ProbeLogTake();
}

TEST(Library, FileThatIsNotALibraryFails) {
    korvotest::TemporaryFolder temporary;
    temporary.Write("libBroken.so", "not an ELF file");
    EXPECT_EQ(Library::Load((temporary.path / "libBroken.so").string()), nullptr);
}

}  // namespace
