// The module registry: the index built from the description files, the index
// read back, the place the index goes, and modules made from probe libraries
// (whose load, unload, create and delete events land in the ProbeLog).

#include "host/ModuleRegistry.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "InstallFolder.h"
#include "ProbeLog.h"
#include "support/ForeignLink.h"

namespace {

using Events = std::vector<std::string>;

constexpr const char* Prolog = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";
constexpr const char* IndexRoot = "<korvo_module_registry class=\"0e3ad0ac-7b60-4561-9cc0-9c039840265f\" version=\"1.0\"";

bool NeverWritable(const std::string&) { return false; }

class ModuleRegistryTest : public ::testing::Test {
protected:
    void SetUp() override { ProbeLogReset(); }

    // Builds and reads the index; both must succeed.
    void Ready(KorvoModuleRegistry& registry) {
        ASSERT_EQ(registry.BuildIndex(), 0);
        ASSERT_EQ(registry.LoadIndex(), 0);
    }
    // Makes a module of className, expecting result 0.
    KorvoModule* Make(KorvoModuleRegistry& registry, const wchar_t* className) {
        KorvoModule* module = reinterpret_cast<KorvoModule*>(1);
        EXPECT_EQ(registry.CreateModule(className, module), 0);
        return module;
    }
    static void Delete(KorvoModule* module) {
        static_cast<KorvoModuleRegistryItem*>(module->registryEntry)->deleteModule(module);
    }

    InstallFolder install;
};

TEST_F(ModuleRegistryTest, WithoutDescriptionsTheIndexIsAnEmptyRoot) {
    for (bool withRepository : {true, false}) {
        if (!withRepository) std::filesystem::remove_all(install.path / "Repository");
        KorvoModuleRegistry registry(install.ProgramFolder(), L"Company", L"Program");
        Ready(registry);
        EXPECT_EQ(install.Read("bin/Repository.idx"), std::string(Prolog) + IndexRoot + "/>\r\n");
        EXPECT_EQ(registry.entries.Count(), 0);
        for (const wchar_t* className : {L"a", L"", L"0"}) {
            KorvoModule* module = nullptr;
            EXPECT_EQ(registry.CreateModule(className, module), 3);
            EXPECT_EQ(module, nullptr);
        }
        EXPECT_EQ(registry.handles.Count(), 0);
    }
}

TEST_F(ModuleRegistryTest, IndexCopiesDescriptionsInNameOrder) {
    // Attributes in any order and any case, extra attributes and children
    // ignored, a missing attribute empty; files taken in byte order of their names.
    install.Describe("b.scm", R"(PATH="libB.so" type="t" Class="cb" name="B" version="2" extra="x")");
    install.Write("Repository/C.scm",
                  "<?xml version=\"1.0\"?>\n<KORVO_MODULE class=\"cc\" name=\"C\">\n<child a=\"1\"/>\n</KORVO_MODULE>\n");
    install.Describe("a.scm", R"(name="A&amp;B" class="ca" version="1" type="q&quot;t" path="/x/libA.so")");
    install.Write("Repository/ignored.txt", "not a description");
    KorvoModuleRegistry registry(install.ProgramFolder(), L"Company", L"Program");
    ASSERT_EQ(registry.BuildIndex(), 0);
    EXPECT_EQ(install.Read("bin/Repository.idx"),
              std::string(Prolog) + IndexRoot + ">\r\n" +
                  "\t<module class=\"cc\" version=\"\" name=\"C\" type=\"\" path=\"\"/>\r\n"
                  "\t<module class=\"ca\" version=\"1\" name=\"A&amp;B\" type=\"q&quot;t\" path=\"/x/libA.so\"/>\r\n"
                  "\t<module class=\"cb\" version=\"2\" name=\"B\" type=\"t\" path=\"libB.so\"/>\r\n"
                  "</korvo_module_registry>\r\n");
}

TEST_F(ModuleRegistryTest, IndexReadBackEqualsTheDescriptions) {
    struct Description {
        const char* file;
        const wchar_t* name;
        const wchar_t* className;
        const wchar_t* version;
        const wchar_t* type;
        const wchar_t* path;
    } descriptions[] = {
        {"1.scm", L"JavaScriptWindow", L"{6A1C}", L"1.0", L"window", L"libApplication.so"},
        {"2.scm", L"JavaScriptInterface", L"{6A1D}", L"1.0", L"script", L"libApplication.so"},
        {"3.scm", L"Quotes", L"<\"'&>", L"", L"t y p e", L"/opt/a b/lib.so"},
        {"4.scm", L"Gr\u00fcn", L"\u00e9t\u00e9", L"\u20ac", L"", L"/d\u00e9j\u00e0/libX.so"},
    };
    auto escape = [](const wchar_t* text) {
        return String(text).Replace(L"&", L"&amp;").Replace(L"\"", L"&quot;").Replace(L"'", L"&apos;")
            .Replace(L"<", L"&lt;").Replace(L">", L"&gt;").ToUtf8();
    };
    for (const Description& d : descriptions)
        install.Describe(d.file, "name=\"" + escape(d.name) + "\" class=\"" + escape(d.className) +
                                     "\" version=\"" + escape(d.version) + "\" type=\"" + escape(d.type) +
                                     "\" path=\"" + escape(d.path) + "\"");
    KorvoModuleRegistry registry(install.ProgramFolder(), L"Company", L"Program");
    Ready(registry);
    ASSERT_EQ(registry.entries.Count(), 4);
    for (int i = 0; i < 4; ++i) {
        const KorvoModuleRegistryItem& entry = *registry.entries[i];
        const Description& d = descriptions[i];
        EXPECT_EQ(entry.name, d.name) << i;
        EXPECT_EQ(entry.className, d.className) << i;
        EXPECT_EQ(entry.version, d.version) << i;
        EXPECT_EQ(entry.type, d.type) << i;
        EXPECT_EQ(entry.path, d.path) << i;
        EXPECT_EQ(entry.createModule, nullptr);
        EXPECT_EQ(entry.deleteModule, nullptr);
    }
}

TEST_F(ModuleRegistryTest, ClassesEqualButForCaseStopTheBuild) {
    // Accented capitals fold as ASCII ones do, whatever the process locale
    // (the tests run under the C locale, which folds ASCII only).
    const std::pair<const char*, const char*> pairs[] = {
        {"{ABC-def}", "{abc-DEF}"},
        {"{\xC3\x89tat}", "{\xC3\xA9TAT}"},  // É / é
    };
    for (const auto& [first, second] : pairs) {
        const std::string earlier = "index of an earlier run";
        install.Write("bin/Repository.idx", earlier);
        install.Describe("a.scm", "A", first, "libA.so");
        install.Describe("b.scm", "B", "{xyz}", "libB.so");
        install.Describe("c.scm", "C", second, "libC.so");
        KorvoModuleRegistry registry(install.ProgramFolder(), L"Company", L"Program");
        EXPECT_EQ(registry.BuildIndex(), 1) << first;
        EXPECT_EQ(install.Read("bin/Repository.idx"), earlier);
        EXPECT_EQ(registry.LoadIndex(), 1);  // the earlier file is no index
        EXPECT_EQ(registry.entries.Count(), 0);
    }
}

TEST_F(ModuleRegistryTest, UnreadableDescriptionsAreSkipped) {
    install.Describe("a.scm", "A", "ca", "libA.so");
    install.Write("Repository/b.scm", "<korvo_module name=\"NoProlog\" class=\"cb\"/>\n");
    install.Write("Repository/c.scm", "<?xml version=\"1.0\"?>\n<korvo_project name=\"Other\" class=\"cc\"/>\n");
    install.Write("Repository/d.scm", "");
    install.Write("Repository/e.scm", "<?xml version=\"1.0\"?>\n   \n");
    install.Write("Repository/f.scm", "<?xml version=\"1.0\"?>\n<korvo_module name=\"Cut");
    std::filesystem::create_directory(install.path / "Repository" / "g.scm");
    install.Describe("h.scm", "H", "ch", "libH.so");
    KorvoModuleRegistry registry(install.ProgramFolder(), L"Company", L"Program");
    Ready(registry);
    ASSERT_EQ(registry.entries.Count(), 2);
    EXPECT_EQ(registry.entries[0]->name, L"A");
    EXPECT_EQ(registry.entries[1]->name, L"H");
}

TEST_F(ModuleRegistryTest, IndexThatDoesNotMatchIsNotRead) {
    struct Case {
        const char* content;
        int expected;
        const char* why;
    } cases[] = {
        {nullptr, 1, "no index file"},
        {"", 1, "empty file"},
        {"<korvo_module_registry class=\"0e3ad0ac-7b60-4561-9cc0-9c039840265f\" version=\"1.0\"/>", 1, "no prolog"},
        {"<?xml version=\"1.0\"?>\n<registry class=\"0e3ad0ac-7b60-4561-9cc0-9c039840265f\" version=\"1.0\"/>\n", 1,
         "another root name"},
        {"<?xml version=\"1.0\"?>\n<korvo_module_registry class=\"0E3AD0AC-7b60-4561-9cc0-9c039840265f\" "
         "version=\"1.0\"/>\n",
         1, "class differing in case"},
        {"<?xml version=\"1.0\"?>\n<korvo_module_registry class=\"0e3ad0ac-7b60-4561-9cc0-9c039840265f\" "
         "version=\"1.1\"/>\n",
         1, "another version"},
        {"<?xml version=\"1.0\"?>\n<KORVO_MODULE_REGISTRY class=\"0e3ad0ac-7b60-4561-9cc0-9c039840265f\" "
         "version=\"1.0\"><anything name=\"N\" class=\"c\"/><module/></KORVO_MODULE_REGISTRY>\n",
         0, "root name in any case; child names are not compared"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(install.path / "bin" / "Repository.idx");
        if (c.content) install.Write("bin/Repository.idx", c.content);
        KorvoModuleRegistry registry(install.ProgramFolder(), L"Company", L"Program");
        EXPECT_EQ(registry.LoadIndex(), c.expected) << c.why;
        if (c.expected == 0) {
            ASSERT_EQ(registry.entries.Count(), 2);
            EXPECT_EQ(registry.entries[0]->name, L"N");
            EXPECT_EQ(registry.entries[1]->className, L"");
        }
    }
}

TEST_F(ModuleRegistryTest, WithoutFolderNothingIsBuiltOrRead) {
    KorvoModuleRegistry registry(L"", L"Company", L"Program");
    EXPECT_EQ(registry.BuildIndex(), 2);
    EXPECT_EQ(registry.LoadIndex(), 2);
}

TEST_F(ModuleRegistryTest, FolderWithoutTrailingSlashIsTheSameFolder) {
    install.Describe("a.scm", "A", "ca", "libA.so");
    KorvoModuleRegistry registry(String::FromUtf8((install.path / "bin").string()), L"Company", L"Program");
    Ready(registry);
    EXPECT_TRUE(install.Exists("bin/Repository.idx"));
    EXPECT_EQ(registry.entries.Count(), 1);
}

// The index is built at every start; an unchanged one stays the same file,
// while a changed description replaces it.
TEST_F(ModuleRegistryTest, UnchangedIndexIsNotWrittenAgain) {
    auto inode = [&] {
        struct stat info {};
        EXPECT_EQ(stat(install.Bin("Repository.idx").c_str(), &info), 0);
        return info.st_ino;
    };
    install.Describe("a.scm", "A", "ca", "libA.so");
    EXPECT_EQ(KorvoModuleRegistry(install.ProgramFolder(), L"Company", L"Program").BuildIndex(), 0);
    const ino_t first = inode();
    EXPECT_EQ(KorvoModuleRegistry(install.ProgramFolder(), L"Company", L"Program").BuildIndex(), 0);
    EXPECT_EQ(inode(), first);

    install.Describe("b.scm", "B", "cb", "libB.so");
    KorvoModuleRegistry registry(install.ProgramFolder(), L"Company", L"Program");
    EXPECT_EQ(registry.BuildIndex(), 0);
    EXPECT_NE(inode(), first);
    ASSERT_EQ(registry.LoadIndex(), 0);
    EXPECT_EQ(registry.entries.Count(), 2);
}

TEST_F(ModuleRegistryTest, IndexThatCannotBeWrittenFailsWith2) {
    install.Describe("a.scm", "A", "ca", "libA.so");
    std::filesystem::create_directory(install.path / "bin" / "Repository.idx");
    KorvoModuleRegistry registry(install.ProgramFolder(), L"Company", L"Program");
    EXPECT_EQ(registry.BuildIndex(), 2);
    EXPECT_EQ(registry.LoadIndex(), 1);
}

// A rebuild that runs into the file size limit half way fails and leaves the
// previous index whole: the new one is written beside it and renamed over it.
TEST_F(ModuleRegistryTest, IndexCutShortByTheFileSizeLimitKeepsThePreviousOne) {
    auto describe = [&](int count) {
        for (int i = 0; i < count; ++i) {
            std::string n = std::to_string(100 + i);
            install.Describe("m" + n + ".scm", "Module" + n, "class-" + n, "libModule" + n + ".so");
        }
    };
    describe(30);
    {
        KorvoModuleRegistry registry(install.ProgramFolder(), L"Company", L"Program");
        Ready(registry);
        ASSERT_EQ(registry.entries.Count(), 30);
    }
    const std::string previous = install.Read("bin/Repository.idx");
    ASSERT_GT(previous.size(), 2048u);

    describe(40);
    pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        // Past the limit a write fails with EFBIG instead of raising SIGXFSZ.
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit = {1024, 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        KorvoModuleRegistry registry(install.ProgramFolder(), L"Company", L"Program");
        _exit(registry.BuildIndex());
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 2);

    EXPECT_EQ(install.Read("bin/Repository.idx"), previous);
    KorvoModuleRegistry registry(install.ProgramFolder(), L"Company", L"Program");
    ASSERT_EQ(registry.LoadIndex(), 0);
    EXPECT_EQ(registry.entries.Count(), 30);
    // The cut temporary file is gone too.
    for (const auto& entry : std::filesystem::directory_iterator(install.path / "bin"))
        EXPECT_EQ(entry.path().filename().string().rfind("Repository.idx.", 0), std::string::npos) << entry.path();
}

TEST_F(ModuleRegistryTest, ReadOnlyProgramFolderKeepsTheIndexInTheCache) {
    install.Describe("a.scm", "A", "ca", "libA.so");
    install.Write("bin/Repository.idx", "shipped");
    KorvoModuleRegistry registry(install.ProgramFolder(), L"Company", L"Program", NeverWritable);
    EXPECT_EQ(registry.IndexPath(), String::FromUtf8((install.path / "cache/Company/Program/Repository.idx").string()));
    Ready(registry);
    EXPECT_EQ(install.Read("bin/Repository.idx"), "shipped");
    EXPECT_NE(install.Read("cache/Company/Program/Repository.idx").find("name=\"A\""), std::string::npos);
    EXPECT_EQ(registry.entries.Count(), 1);
    EXPECT_EQ(std::filesystem::status(install.path / "cache/Company").permissions() &
                  std::filesystem::perms::all,
              std::filesystem::perms::owner_all);

    // A cache that cannot be made is an index that cannot be written.
    install.Write("blocked", "a file, not a folder");
    g_setenv("XDG_CACHE_HOME", (install.path / "blocked").c_str(), TRUE);
    KorvoModuleRegistry blocked(install.ProgramFolder(), L"Company", L"Program", NeverWritable);
    EXPECT_EQ(blocked.BuildIndex(), 2);
}

TEST_F(ModuleRegistryTest, WritabilityIsAskedOfTheFileSystem) {
    EXPECT_TRUE(KorvoModuleRegistry::FolderWritable((install.path / "bin").string()));
    EXPECT_FALSE(KorvoModuleRegistry::FolderWritable((install.path / "absent").string()));
}

// A program folder that everybody may write to, sticky: an index that another
// user put there as a link is neither written through nor read.
TEST_F(ModuleRegistryTest, AnIndexLinkOfAnotherUserIsNotFollowed) {
    if (!korvotest::CanPlantForeignLinks())
        GTEST_SKIP() << "needs root to plant a link owned by another user (nobody)";
    namespace fs = std::filesystem;
    fs::permissions(install.path, fs::perms::others_exec, fs::perm_options::add);
    ASSERT_EQ(chmod((install.path / "bin").c_str(), 01777), 0);
    install.Write("victim.txt", "precious");
    ASSERT_TRUE(korvotest::PlantForeignLink((install.path / "victim.txt").string(), install.Bin("Repository.idx")));
    install.Describe("a.scm", "A", "ca", "libA.so");
    KorvoModuleRegistry registry(install.ProgramFolder(), L"Company", L"Program");
    EXPECT_EQ(registry.BuildIndex(), 2);
    EXPECT_EQ(registry.LoadIndex(), 1);
    EXPECT_EQ(registry.entries.Count(), 0);
    EXPECT_EQ(install.Read("victim.txt"), "precious");
    EXPECT_TRUE(fs::is_symlink(install.Bin("Repository.idx")));
}

// The user's folder $XDG_DATA_HOME/<program in lower case>/Repository is read
// after the program's: a class it repeats is skipped, one it repeats within
// itself stops the build, and its libraries may lie beside the descriptions.
TEST_F(ModuleRegistryTest, UserDescriptionsFollowTheInstalledOnes) {
    const std::string user = "data/program/Repository/";
    const std::string userFolder = (install.path / user).string();
    EXPECT_EQ(KorvoModuleRegistry(install.ProgramFolder(), L"Company", L"Program").UserRepository(), userFolder);
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> descriptions;  // file, name:class:path
        int built;
        std::vector<std::string> index;  // name:path of each entry, in order
    } cases[] = {
        {"user modules come after the installed ones, each folder in name order",
         {{"b.scm", "B:cb:libB.so"}, {user + "z.scm", "Z:cz:/abs/libZ.so"}, {user + "a.scm", "U:cu:libU.so"}},
         0, {"B:libB.so", "U:libU.so", "Z:/abs/libZ.so"}},
        {"a class the installation has is skipped in the user's folder, in any case",
         {{"b.scm", "B:Shared:libB.so"}, {user + "a.scm", "Mine:SHARED:libMine.so"}, {user + "c.scm", "C:cc:libC.so"}},
         0, {"B:libB.so", "C:libC.so"}},
        {"a class repeated within the user's folder stops the build",
         {{"b.scm", "B:cb:libB.so"}, {user + "a.scm", "A:twice:libA.so"}, {user + "c.scm", "C:Twice:libC.so"}},
         1, {}},
        {"a library beside the user's description is taken from there",
         {{user + "a.scm", "A:ca:libBeside.so"}, {user + "b.scm", "B:cb:sub/../libBeside.so"},
          {user + "c.scm", "C:cc:libElsewhere.so"}},
         0, {"A:" + userFolder + "libBeside.so", "B:" + userFolder + "libBeside.so", "C:libElsewhere.so"}},
        {"a relative path elsewhere is never taken from the current folder",
         {{user + "a.scm", "A:ca:lib/libHere.so"}, {user + "b.scm", "B:cb:./libHere.so"},
          {user + "c.scm", "C:cc:../libHere.so"}, {user + "d.scm", "D:cd:libHere.so"}},
         0, {"D:libHere.so"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(install.path / "Repository");
        std::filesystem::remove_all(install.path / "data");
        std::filesystem::remove(install.path / "bin" / "Repository.idx");
        install.Write(user + "libBeside.so", "");
        for (const auto& [file, fields] : c.descriptions) {
            size_t first = fields.find(':'), second = fields.find(':', first + 1);
            install.Describe(file, fields.substr(0, first), fields.substr(first + 1, second - first - 1),
                             fields.substr(second + 1));
        }
        KorvoModuleRegistry registry(install.ProgramFolder(), L"Company", L"Program");
        EXPECT_EQ(registry.BuildIndex(), c.built);
        if (c.built != 0) {
            EXPECT_FALSE(install.Exists("bin/Repository.idx"));
            continue;
        }
        ASSERT_EQ(registry.LoadIndex(), 0);
        std::vector<std::string> index;
        for (KorvoModuleRegistryItem* entry : registry.entries)
            index.push_back(entry->name.ToUtf8() + ":" + entry->path.ToUtf8());
        EXPECT_EQ(index, c.index);
    }
}

TEST_F(ModuleRegistryTest, AUserModuleLoadsFromBesideItsDescription) {
    const std::string user = "data/program/Repository/";
    std::filesystem::copy_file(PROBE_MODULES_PATH, install.Make(user + "lib/libUserProbe.so"));
    install.Describe(user + "alpha.scm", "Alpha", "alpha", "lib/libUserProbe.so");
    {
        KorvoModuleRegistry registry(install.ProgramFolder(), L"Company", L"Program");
        Ready(registry);
        KorvoModule* alpha = Make(registry, L"alpha");
        ASSERT_NE(alpha, nullptr);
        Delete(alpha);
        EXPECT_EQ(ProbeLogTake(), (Events{"load libUserProbe.so", "create Alpha#1", "delete Alpha#1"}));
    }
    EXPECT_EQ(ProbeLogTake(), Events{"unload libUserProbe.so"});
}

TEST_F(ModuleRegistryTest, OnePathIsLoadedOnceForAllItsEntries) {
    install.Describe("a.scm", "Alpha", "alpha", PROBE_MODULES_PATH);
    install.Describe("b.scm", "Beta", "beta", PROBE_MODULES_PATH);
    {
        KorvoModuleRegistry registry(install.ProgramFolder(), L"Company", L"Program");
        Ready(registry);
        EXPECT_EQ(ProbeLogTake(), Events{});  // loading is lazy
        KorvoModule* alpha = Make(registry, L"alpha");
        KorvoModule* beta = Make(registry, L"beta");
        KorvoModule* second = Make(registry, L"alpha");
        ASSERT_TRUE(alpha && beta && second);
        EXPECT_EQ(alpha->registryEntry, registry.entries[0]);
        EXPECT_EQ(beta->registryEntry, registry.entries[1]);
        EXPECT_EQ(second->registryEntry, registry.entries[0]);
        EXPECT_NE(alpha->FindConnector(L"Kept"), nullptr);
        EXPECT_EQ(registry.handles.Count(), 1);
        for (KorvoModule* module : {second, beta, alpha}) Delete(module);
        EXPECT_EQ(ProbeLogTake(), (Events{"load libProbeModules.so", "create Alpha#1", "create Beta#2",
                                          "create Alpha#3", "delete Alpha#3", "delete Beta#2", "delete Alpha#1"}));
    }
    EXPECT_EQ(ProbeLogTake(), Events{"unload libProbeModules.so"});
}

TEST_F(ModuleRegistryTest, PathsThatDifferInCaseLoadTwiceAndUnloadLastFirst) {
    std::string upper = install.CopyLibrary(PROBE_MODULES_PATH, "libProbe.so");
    std::string lower = install.CopyLibrary(PROBE_MODULES_PATH, "libprobe.so");
    install.Describe("a.scm", "Alpha", "alpha", upper);
    install.Describe("b.scm", "Beta", "beta", lower);
    {
        KorvoModuleRegistry registry(install.ProgramFolder(), L"Company", L"Program");
        Ready(registry);
        KorvoModule* alpha = Make(registry, L"alpha");
        KorvoModule* beta = Make(registry, L"beta");
        ASSERT_TRUE(alpha && beta);
        EXPECT_EQ(registry.handles.Count(), 2);
        EXPECT_NE(registry.handles[0]->library, registry.handles[1]->library);
        Delete(beta);
        Delete(alpha);
        ProbeLogTake();
    }
    EXPECT_EQ(ProbeLogTake(), (Events{"unload libprobe.so", "unload libProbe.so"}));
}

TEST_F(ModuleRegistryTest, ClassesCompareExactly) {
    install.Describe("a.scm", "Alpha", "Alpha-Class", PROBE_MODULES_PATH);
    KorvoModuleRegistry registry(install.ProgramFolder(), L"Company", L"Program");
    Ready(registry);
    for (const wchar_t* className : {L"alpha-class", L"ALPHA-CLASS", L"Alpha-Class ", L"Alpha"}) {
        KorvoModule* module = nullptr;
        EXPECT_EQ(registry.CreateModule(className, module), 3);
        EXPECT_EQ(module, nullptr);
    }
    EXPECT_EQ(registry.handles.Count(), 0);
    EXPECT_EQ(ProbeLogTake(), Events{});
}

TEST_F(ModuleRegistryTest, MissingLibraryIsNeverRetried) {
    std::string later = install.Bin("libLater.so");
    install.Describe("a.scm", "Alpha", "alpha", later);
    KorvoModuleRegistry registry(install.ProgramFolder(), L"Company", L"Program");
    Ready(registry);
    EXPECT_EQ(Make(registry, L"alpha"), nullptr);
    // The library appears, but the failed path stays failed for this run.
    install.CopyLibrary(PROBE_MODULES_PATH, "libLater.so");
    EXPECT_EQ(Make(registry, L"alpha"), nullptr);
    EXPECT_EQ(registry.handles.Count(), 1);
    EXPECT_EQ(registry.handles[0]->library, nullptr);
    EXPECT_EQ(ProbeLogTake(), Events{});
}

TEST_F(ModuleRegistryTest, MissingExportsMakeNoModule) {
    install.Describe("a.scm", "Gamma", "gamma", PROBE_MODULES_PATH);           // no CreateKorvoModule_Gamma
    install.Describe("b.scm", "Alpha", "alpha", PROBE_MODULES_PATH);
    install.Describe("c.scm", "Alpha", "undeletable", PROBE_WITHOUT_DELETE_PATH);  // no DeleteKorvoModule
    install.Describe("d.scm", "", "unnamed", PROBE_MODULES_PATH);               // CreateKorvoModule_ alone
    install.Describe("e.scm", "Nothing", "nothing", PROBE_MODULES_PATH);        // its factory returns null
    {
        KorvoModuleRegistry registry(install.ProgramFolder(), L"Company", L"Program");
        Ready(registry);
        EXPECT_EQ(Make(registry, L"gamma"), nullptr);
        EXPECT_EQ(Make(registry, L"undeletable"), nullptr);
        EXPECT_EQ(Make(registry, L"unnamed"), nullptr);
        EXPECT_EQ(Make(registry, L"nothing"), nullptr);
        EXPECT_NE(registry.entries[2]->createModule, nullptr);  // found, but unusable alone
        EXPECT_EQ(registry.entries[2]->deleteModule, nullptr);
        KorvoModule* alpha = Make(registry, L"alpha");
        ASSERT_NE(alpha, nullptr);
        Delete(alpha);
        EXPECT_EQ(registry.handles.Count(), 2);
        EXPECT_EQ(ProbeLogTake(), (Events{"load libProbeModules.so", "load libProbeWithoutDelete.so",
                                          "create nothing", "create Alpha#1", "delete Alpha#1"}));
    }
    EXPECT_EQ(ProbeLogTake(), (Events{"unload libProbeWithoutDelete.so", "unload libProbeModules.so"}));
}

// A module class of the program itself: made and deleted through its own
// functions, no library loaded; a class that is taken already is refused.
KorvoModule* MakeProgramModule() {
    return new KorvoModule;
}
void DeleteProgramModule(KorvoModule* module) {
    delete module;
}

TEST_F(ModuleRegistryTest, AProgramModuleIsMadeWithoutALibrary) {
    install.Describe("a.scm", "Alpha", "alpha", PROBE_MODULES_PATH);
    KorvoModuleRegistry registry(install.ProgramFolder(), L"Company", L"Program");
    Ready(registry);
    EXPECT_EQ(registry.AddProgramModule(L"Own", L"own", MakeProgramModule, DeleteProgramModule), 0);
    EXPECT_EQ(registry.AddProgramModule(L"Other", L"alpha", MakeProgramModule, DeleteProgramModule),
              1);
    EXPECT_EQ(registry.AddProgramModule(L"Own", L"own", MakeProgramModule, DeleteProgramModule), 1);
    ASSERT_EQ(registry.entries.Count(), 2);
    KorvoModule* own = Make(registry, L"own");
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->registryEntry, registry.entries[1]);
    Delete(own);
    EXPECT_EQ(registry.handles.Count(), 0);
    EXPECT_EQ(ProbeLogTake(), Events{});
}

}  // namespace
