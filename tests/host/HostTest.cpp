// The real program, run from a temporary program folder:
//   <root>/bin/Yonderpad, libKorvoPlatform.so, libdante_dnssd.so, probe libraries
//   <root>/Repository/*.scm
// with private XDG folders, so that lock, settings and cache never touch the
// user's. The probe modules log their life cycle into a file (ProbeModules.cpp).

#include <gio/gio.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

constexpr const char* ProbeAClass = "11111111-aaaa-4000-8000-000000000001";
constexpr const char* ProbeBClass = "11111111-bbbb-4000-8000-000000000002";
constexpr const char* WindowClass = "11111111-cccc-4000-8000-000000000003";
constexpr const char* DnssdMessage = "ERROR 0x66092601:\nYONDERPAD / DANTE DLL MISSING!";

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class Process {
public:
    Process(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env) {
        std::vector<std::string> environment;
        for (char** e = environ; *e; ++e) {
            std::string entry = *e;
            if (!env.count(entry.substr(0, entry.find('=')))) environment.push_back(entry);
        }
        for (auto& [key, value] : env) environment.push_back(key + "=" + value);
        std::vector<char*> args, envp;
        for (auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        for (auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
        args.push_back(nullptr);
        envp.push_back(nullptr);
        if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), envp.data()) != 0) pid = -1;
    }
    ~Process() {
        if (pid > 0 && !finished) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    // Exit code, or -1 when it did not end in time (it is then killed).
    int Wait(std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            int status;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                finished = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    pid_t pid = -1;
    bool finished = false;
};

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (getenv("DISPLAY") == nullptr) GTEST_SKIP() << "needs an X display (the test command starts Xvfb)";
        char pattern[] = "/tmp/yonderpad-host-XXXXXX";
        root = mkdtemp(pattern);
        bin = root / "bin";
        fs::create_directories(bin);
        fs::create_directories(root / "Repository");
        for (const char* dir : {"config", "runtime", "cache"}) fs::create_directories(root / dir);
        fs::permissions(root / "runtime", fs::perms::owner_all);
        fs::copy_file(YONDERPAD_PROGRAM, bin / "Yonderpad");
        fs::copy_file(PLATFORM_LIBRARY, bin / "libKorvoPlatform.so");
        fs::copy_file(PROBE_LIBRARY_1, bin / "libHostProbe1.so");
        fs::copy_file(PROBE_LIBRARY_2, bin / "libHostProbe2.so");
        std::ofstream(bin / "libdante_dnssd.so") << "stand-in";
        Describe("ProbeA", ProbeAClass, "libHostProbe1.so");
        Describe("ProbeB", ProbeBClass, "libHostProbe2.so");
        Describe("ProbeWindow", WindowClass, "libHostProbe1.so");
    }
    void TearDown() override {
        if (!root.empty()) fs::remove_all(root);
    }

    void Describe(const std::string& name, const std::string& klass, const std::string& path) {
        std::ofstream(root / "Repository" / (name + ".scm"))
            << "<?xml version=\"1.0\"?>\n<korvo_module name=\"" << name << "\" class=\"" << klass
            << "\" version=\"1\" type=\"probe\" path=\"" << path << "\"/>\n";
    }

    // A project file of the given body inside <korvo>; a bare file name goes
    // into the program folder.
    void Project(const fs::path& file, const std::string& body) {
        fs::path where = file.has_parent_path() ? file : bin / file;
        fs::create_directories(where.parent_path());
        std::ofstream(where) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             << "<korvo class=\"0\" version=\"1.0\">\n" << body << "</korvo>\n";
    }
    // The real window module and its web extension in the program folder.
    static constexpr const char* JavaScriptWindowClass = "b7667c3c-3de8-42e5-83d2-46c1de658459";
    void InstallWindowModule() {
        fs::copy_file(APPLICATION_LIBRARY, bin / "libApplication.so");
        fs::create_directories(bin / "webext");
        fs::copy_file(WEB_EXTENSION, bin / "webext" / "libKorvoWebExtension.so");
        Describe("JavaScriptWindow", JavaScriptWindowClass, "libApplication.so");
    }
    static std::string WindowModule(const std::string& page) {
        return std::string("<module class=\"") + JavaScriptWindowClass +
               "\"><connector name=\"Script\" type=\"259\" value=\"" + page + "\"/></module>\n";
    }
    static std::string Module(const char* klass, const std::string& tag, const std::string& extra = "") {
        return std::string("<module class=\"") + klass + "\"><connector name=\"Tag\" type=\"259\" value=\"" +
               tag + "\"/>" + extra + "</module>\n";
    }

    std::map<std::string, std::string> Environment() {
        std::map<std::string, std::string> environment = {
            {"HOST_PROBE_LOG", (root / "probe.log").string()},
            {"HOST_BOX_LOG", (root / "box.log").string()},
            {"XDG_CONFIG_HOME", (root / "config").string()},
            {"XDG_RUNTIME_DIR", (root / "runtime").string()},
            {"XDG_CACHE_HOME", (root / "cache").string()},
            {"LD_PRELOAD", BOX_RECORDER},
            {"ASAN_OPTIONS", "verify_asan_link_order=0:detect_leaks=0"},
            {"KORVO_MIDI", "sim"}};
        if (!SessionBus().empty()) environment["DBUS_SESSION_BUS_ADDRESS"] = SessionBus();
        return environment;
    }

    // The session bus of the display, as a desktop session hands it to its
    // programs. Without one in the environment it is found (or started, where
    // the machine can start one for a display) here, with this process's
    // folders: a bus that a program of a test started would keep that test's
    // runtime folder as its own, with the accessibility bus inside it, and
    // every later program on the display would be sent to a folder that is
    // gone. Empty where the machine has no session bus at all.
    static const std::string& SessionBus() {
        static const std::string address = [] {
            gchar* found = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
            std::string text = found ? found : "";
            g_free(found);
            return text;
        }();
        return address;
    }

    // Runs the program (after prefix, before arguments) to its end.
    int Run(std::vector<std::string> prefix = {}, const std::vector<std::string>& arguments = {}) {
        prefix.push_back((bin / "Yonderpad").string());
        prefix.insert(prefix.end(), arguments.begin(), arguments.end());
        Process program(prefix, Environment());
        return program.Wait();
    }

    std::vector<std::string> Log() { return Lines(ReadFile(root / "probe.log")); }
    void ClearLog() { fs::remove(root / "probe.log"); }
    // Waits up to 20 s for a program of the test to write the line to the probe log.
    bool WaitForLogLine(const std::string& wanted) {
        for (int i = 0; i < 1000; ++i) {
            for (auto& line : Log())
                if (line == wanted) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    fs::path root, bin;
};

std::vector<std::string> Expect(std::initializer_list<const char*> lines) {
    return std::vector<std::string>(lines.begin(), lines.end());
}

TEST_F(HostTest, ModulesAreMadeInDocumentOrderStartedAfterTheWalkAndDeletedChildrenFirst) {
    Project("Yonderpad.prj", Module(ProbeAClass, "a1") +
                                 "<group class=\"g\">" + Module(ProbeBClass, "b1") +
                                 Module(ProbeAClass, "a2") + "</group>\n" + Module(ProbeBClass, "b2"));
    EXPECT_EQ(Run(), 0);
    // Libraries unload last-loaded first: HostProbe2 (first used by b1) before HostProbe1.
    EXPECT_EQ(Log(), Expect({"create ProbeA", "create ProbeB", "create ProbeA", "create ProbeB",
                             "start a1", "setting (none)", "start b1", "setting (none)",
                             "start a2", "setting (none)", "start b2", "setting (none)",
                             "delete b2", "delete a2", "delete b1", "delete a1",
                             "unload HostProbe2", "unload HostProbe1"}));
    EXPECT_TRUE(fs::exists(bin / "Repository.idx"));
}

TEST_F(HostTest, AWalkErrorStartsNothingAndTheDefaultProjectIsNotTried) {
    Project("Yonderpad.prj", Module(ProbeAClass, "a1") + Module(ProbeBClass, "b1") +
                                 "<module class=\"no-such-class\"/>\n" + Module(ProbeAClass, "a3"));
    Project("Default.prj", Module(ProbeAClass, "default"));
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Log(), Expect({"create ProbeA", "create ProbeB", "delete b1", "delete a1",
                             "unload HostProbe2", "unload HostProbe1"}));
}

TEST_F(HostTest, TheProgramsOwnProjectWinsAndDefaultIsTheFallback) {
    struct Case {
        const char* name;
        const char* ownProject;  // null: no Yonderpad.prj
        const char* expectedTag;
    } cases[] = {
        {"own project preferred", "good", "own"},
        {"no own project", nullptr, "default"},
        {"own project with another root", "bad root", "default"},
        {"own project without prolog", "no prolog", "default"},
        {"own project holding a line of text", "text", "default"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(bin / "Yonderpad.prj");
        ClearLog();
        Project("Default.prj", Module(ProbeAClass, "default"));
        std::string own = c.ownProject ? c.ownProject : "";
        if (own == "good") Project("Yonderpad.prj", Module(ProbeAClass, "own"));
        if (own == "bad root")
            std::ofstream(bin / "Yonderpad.prj") << "<?xml version=\"1.0\"?>\n<korvo class=\"1\" version=\"1.0\"/>\n";
        if (own == "no prolog")
            std::ofstream(bin / "Yonderpad.prj") << "<korvo class=\"0\" version=\"1.0\"/>\n";
        if (own == "text") std::ofstream(bin / "Yonderpad.prj") << "abc\n";
        EXPECT_EQ(Run(), 0);
        auto log = Log();
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(log[1], std::string("start ") + c.expectedTag);
    }
}

TEST_F(HostTest, MissingDnssdLibraryShowsExactlyOneBoxAndDoesNothingElse) {
    fs::remove(bin / "libdante_dnssd.so");
    Project("Yonderpad.prj", Module(ProbeAClass, "a1"));
    EXPECT_NE(Run(), 0);
    std::string boxes = ReadFile(root / "box.log");
    EXPECT_EQ(boxes, std::string("text=") + DnssdMessage + "|caption=Yonderpad|style=0x10\n");
    EXPECT_FALSE(fs::exists(bin / "Repository.idx"));
    EXPECT_FALSE(fs::exists(root / "probe.log"));
    EXPECT_TRUE(fs::is_empty(root / "runtime")) << "no lock may be taken";
}

TEST_F(HostTest, ASecondCopyActivatesTheFirstAndExitsWithoutTouchingAnything) {
    Project("Yonderpad.prj", Module(WindowClass, "first"));
    Process first({(bin / "Yonderpad").string()}, Environment());
    ASSERT_TRUE(WaitForLogLine("start first"));
    auto indexTime = fs::last_write_time(bin / "Repository.idx");
    fs::remove(bin / "Yonderpad.prj");  // a second copy that loaded anything would fail loudly
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(first.Wait(std::chrono::seconds(20)), 0) << "the first copy should close when activated";
    EXPECT_EQ(fs::last_write_time(bin / "Repository.idx"), indexTime);
    EXPECT_EQ(Log(), Expect({"create ProbeWindow", "start first", "setting (none)", "activated first",
                             "delete first", "unload HostProbe1"}));
}

TEST_F(HostTest, ASettingWrittenInOneRunIsReadInTheNext) {
    Project("Yonderpad.prj",
            Module(ProbeAClass, "a1", "<connector name=\"Setting\" type=\"259\" value=\"kept &amp; read\"/>"));
    EXPECT_EQ(Run(), 0);
    ClearLog();
    EXPECT_EQ(Run(), 0);
    auto log = Log();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[2], "setting kept & read");
}

TEST_F(HostTest, AReadOnlyProgramFolderStillStarts) {
    Project("Yonderpad.prj", Module(ProbeAClass, "a1"));
    std::string script = "mount --bind -o ro '" + bin.string() + "' '" + bin.string() + "' && exec '" +
                         (bin / "Yonderpad").string() + "'";
    if (system("unshare -m true 2>/dev/null") != 0) GTEST_SKIP() << "cannot make a private mount namespace here";
    Process program({"/usr/bin/unshare", "-m", "/bin/sh", "-c", script}, Environment());
    EXPECT_EQ(program.Wait(), 0);
    EXPECT_FALSE(fs::exists(bin / "Repository.idx"));
    // $XDG_CACHE_HOME/<company>/<program>/Repository.idx; the company is the build's.
    EXPECT_TRUE(fs::exists(root / "cache" / KORVO_COMPANY / "Yonderpad" / "Repository.idx"));
    auto log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[1], "start a1");
}

// Standard error stays quiet when all is well (no project of the program's own
// name is the usual case), and names what failed when something does.
TEST_F(HostTest, StandardErrorSpeaksOnlyOfFailures) {
    struct Case {
        const char* what;
        bool defaultProject;
        const char* expected;  // "" for silence
    } cases[] = {
        {"the default project is used", true, ""},
        {"no project at all", false, "Default.prj"},
    };
    const fs::path errors = root / "stderr.txt";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(bin / "Default.prj");
        if (c.defaultProject) Project("Default.prj", Module(ProbeAClass, "default"));
        EXPECT_EQ(Run({"/bin/sh", "-c", "exec \"$0\" 2>'" + errors.string() + "'"}), 0);
        std::string text = ReadFile(errors);
        if (*c.expected)
            EXPECT_NE(text.find(c.expected), std::string::npos) << text;
        else
            EXPECT_EQ(text, "");
    }
}

// The entries of the runtime folder that belong to the program of that
// process, by kind: the instance lock and its socket, the bridge folder, and
// the sandbox folders of its web processes.
std::multiset<std::string> OwnRuntimeFiles(const fs::path& runtime, pid_t program) {
    const std::string lock = "yonderpad__$__instance_mutex__$__";
    const std::string sandbox = "webkit-" + std::to_string(program) + "-";
    std::multiset<std::string> own;
    for (const auto& entry : fs::directory_iterator(runtime)) {
        const std::string name = entry.path().filename();
        if (name == lock) own.insert("lock");
        if (name == lock + ".socket") own.insert("socket");
        if (name.rfind("korvo-bridge-", 0) == 0) own.insert("bridge folder");
    }
    std::error_code none;
    for (const auto& entry : fs::directory_iterator(runtime / ".flatpak", none))
        if (entry.path().filename().string().rfind(sandbox, 0) == 0) own.insert("sandbox folder");
    return own;
}

// A termination signal (logout, Ctrl+C, kill) ends the program as closing
// would, without asking the page: the real window module on a small page,
// then the signal; the program exits 0 and has saved its window placement.
// The runtime folder is shared with the desktop's services and other programs
// (the accessibility bus, dconf, D-Bus, WebKit's webkitgtk, the sandboxes in
// .flatpak, whatever the machine runs): the program removes exactly its own
// files there and leaves everything else as it was.
TEST_F(HostTest, TerminationSignalsRunTheNormalShutdown) {
    InstallWindowModule();
    // The page refuses to close: only the signal can end the program.
    std::ofstream(bin / "page.html")
        << "<html><head><title>stay</title><script>"
           "function korvoOnQueryClose() { return false; }</script></head></html>\n";
    Project("Yonderpad.prj", WindowModule("#EXEDIR#page.html"));
    const fs::path settings = root / "config" / KORVO_COMPANY / "Yonderpad.conf";
    const fs::path runtime = root / "runtime";
    // What other programs keep there, among them a web process sandbox of another WebKit program.
    const std::vector<fs::path> others = {
        "at-spi/bus_0", "dconf/user", "dbus-1/services/other.service", "webkitgtk/bus-proxy-OTHER",
        ".flatpak/webkit-" + std::to_string(getpid()) + "-1/bwrapinfo.json"};
    for (const fs::path& other : others) {
        fs::create_directories((runtime / other).parent_path());
        std::ofstream(runtime / other) << "not the program's";
    }
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(strsignal(signal));
        fs::remove(settings);
        Process program({(bin / "Yonderpad").string()}, Environment());
        ASSERT_GT(program.pid, 0);
        // The window is up once the web view's bridge folder sits beside the lock.
        auto bridgeUp = [&] {
            return OwnRuntimeFiles(runtime, program.pid).count("bridge folder") > 0;
        };
        for (int i = 0; i < 1500 && !bridgeUp(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(bridgeUp()) << "the window never started";
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        std::multiset<std::string> running = OwnRuntimeFiles(runtime, program.pid);
        for (const char* kind : {"lock", "socket", "bridge folder"})
            EXPECT_EQ(running.count(kind), 1u) << kind << " while the program runs";
        ASSERT_EQ(kill(program.pid, signal), 0);
        EXPECT_EQ(program.Wait(), 0);
        std::multiset<std::string> left = OwnRuntimeFiles(runtime, program.pid);
        EXPECT_TRUE(left.empty()) << "left behind: " << (left.empty() ? "" : *left.begin());
        for (const fs::path& other : others)
            EXPECT_TRUE(fs::exists(runtime / other)) << other << " was removed";
        const std::string saved = ReadFile(settings);
        for (const char* entry :
             {"MainLeft=", "MainTop=", "MainRight=", "MainBottom=", "MainMaximized="})
            EXPECT_NE(saved.find(entry), std::string::npos) << entry << " not saved:\n" << saved;
    }
}

// A project named on the command line replaces the ones beside the program
// and must load whole: anything else is one box and exit code 1.
TEST_F(HostTest, AProjectNamedOnTheCommandLineIsOpenedOrRefusedWithABox) {
    const fs::path mine = root / "my projects" / "Unit.prj";
    std::string uri = "file://" + mine.string();
    uri.replace(uri.find(' '), 1, "%20");
    const std::string notAProject =
        "it is not a project file (an XML file whose root is korvo with class 0 and version 1.0).";
    struct Case {
        const char* what;
        std::string content;  // the project's body (from "<module"), a whole file, or "" for none
        std::string argument;
        int exitCode;
        std::string reason;  // "" for no box
        std::vector<std::string> log;
    } cases[] = {
        {"a project elsewhere is used instead of the program's",
         Module(ProbeBClass, "mine"), mine.string(), 0, "",
         {"create ProbeB", "start mine", "setting (none)", "delete mine", "unload HostProbe2"}},
        {"a file URI names the file",
         Module(ProbeBClass, "mine"), uri, 0, "",
         {"create ProbeB", "start mine", "setting (none)", "delete mine", "unload HostProbe2"}},
        {"a missing file", "", mine.string(), 1, "the file does not exist.", {}},
        {"a folder", "", (root / "my projects").string(), 1, "it is a folder, not a file.", {}},
        {"not a project", "<?xml version=\"1.0\"?>\n<korvo class=\"1\" version=\"1.0\"/>\n", mine.string(), 1,
         notAProject, {}},
        {"a line of text", "abc\n", mine.string(), 1, notAProject, {}},
        {"a line end alone", "\n", mine.string(), 1, notAProject, {}},
        {"a module that is not installed",
         Module(ProbeBClass, "made") + "<module class=\"not-installed\"/>\n", mine.string(), 1,
         "one of its modules is not installed or its library cannot be loaded, or one of its elements has no class.",
         {"create ProbeB", "delete made", "unload HostProbe2"}},
        {"a module whose library is missing",
         Module(ProbeBClass, "made") + "<module class=\"no-library\"/>\n" + Module(ProbeAClass, "later"),
         mine.string(), 1,
         "one of its modules is not installed or its library cannot be loaded, or one of its elements has no class.",
         {"create ProbeB", "delete made", "unload HostProbe2"}},
    };
    Project("Yonderpad.prj", Module(ProbeAClass, "own"));
    Project("Default.prj", Module(ProbeAClass, "default"));
    Describe("NoLibrary", "no-library", "libMissing.so");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(root / "my projects");
        fs::create_directories(root / "my projects");
        fs::remove(root / "box.log");
        ClearLog();
        if (c.content.rfind("<module", 0) == 0)
            Project(mine, c.content);
        else if (!c.content.empty())
            std::ofstream(mine) << c.content;
        EXPECT_EQ(Run({}, {c.argument}), c.exitCode);
        std::string boxes = ReadFile(root / "box.log");
        if (c.reason.empty())
            EXPECT_EQ(boxes, "");
        else
            EXPECT_EQ(boxes, "text=The project " + (c.argument.rfind("file:", 0) == 0 ? mine.string() : c.argument) +
                                 " cannot be opened: " + c.reason + "|caption=Yonderpad|style=0x10\n");
        EXPECT_EQ(Log(), c.log);
    }
}

TEST_F(HostTest, ARelativeProjectNameIsTakenFromTheCurrentFolder) {
    Project(root / "work" / "Unit.prj", Module(ProbeBClass, "relative"));
    EXPECT_EQ(Run({"/bin/sh", "-c", "cd '" + (root / "work").string() + "' && exec \"$0\" \"$@\""}, {"Unit.prj"}), 0);
    auto log = Log();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[1], "start relative");
}

TEST_F(HostTest, WrongArgumentsAreRefusedBeforeAnythingStarts) {
    Project("Yonderpad.prj", Module(ProbeAClass, "own"));
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
    } cases[] = {{{"a.prj", "b.prj"}, 2},
                 {{"--unknown"}, 2},
                 {{"--trust-project"}, 2},  // trusts nothing without a project
                 {{"--help"}, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments[0]);
        EXPECT_EQ(Run({}, c.arguments), c.exitCode);
        EXPECT_FALSE(fs::exists(root / "probe.log"));
        EXPECT_FALSE(fs::exists(bin / "Repository.idx"));
    }
}

// A second copy started with a project brings the first to the front; the
// first says so in a box when it runs another project, and opens nothing.
TEST_F(HostTest, ASecondCopyHandsItsProjectToTheFirst) {
    const fs::path running = root / "a" / "Running.prj";
    const fs::path other = root / "b" / "Other.prj";
    Project(running, Module(WindowClass, "first"));
    Project(other, Module(ProbeAClass, "other"));
    struct Case {
        const char* what;
        std::string asked;
        std::string boxes;
    } cases[] = {
        {"the same project: to the front, nothing said", (root / "a" / "." / "Running.prj").string(), ""},
        {"another project: to the front, and a box says why it was not opened", other.string(),
         "text=This program already runs the project " + running.string() + ".\nClose it, then open " +
             other.string() + ".|caption=Yonderpad|style=0x40\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ClearLog();
        fs::remove(root / "box.log");
        Process first({(bin / "Yonderpad").string(), running.string()}, Environment());
        ASSERT_TRUE(WaitForLogLine("start first"));
        EXPECT_EQ(Run({}, {c.asked}), 0);
        EXPECT_EQ(first.Wait(std::chrono::seconds(20)), 0) << "the first copy should close when activated";
        EXPECT_EQ(ReadFile(root / "box.log"), c.boxes);
        EXPECT_EQ(Log(), Expect({"create ProbeWindow", "start first", "setting (none)", "activated first",
                                 "delete first", "unload HostProbe1"}));
    }
}

// A page path of a user's project is relative to the project's folder, not to
// the folder the program was started from; "#EXEDIR#" stays the program's.
TEST_F(HostTest, AUsersProjectFindsItsPageBesideIt) {
    InstallWindowModule();
    auto page = [](const fs::path& file, const std::string& title) {
        std::ofstream(file) << "<html><head><title>" << title << "</title><script>"
                               "function korvoOnQueryClose() { return true; }"
                               "window.external.korvoApiCall(10, ['Probe', 'Page', document.title]);"
                               "window.external.korvoApiCall(101, []);</script></head></html>\n";
    };
    fs::create_directories(root / "elsewhere");
    page(root / "elsewhere" / "page.html", "current folder");
    page(bin / "page.html", "program folder");
    const fs::path settings = root / "config" / KORVO_COMPANY / "Yonderpad.conf";
    struct Case {
        std::string address;
        std::string title;
    } cases[] = {{"page.html", "project folder"}, {"#EXEDIR#page.html", "program folder"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        fs::remove(settings);
        Project(root / "mine" / "Unit.prj", WindowModule(c.address));
        page(root / "mine" / "page.html", "project folder");
        EXPECT_EQ(Run({"/bin/sh", "-c", "cd '" + (root / "elsewhere").string() + "' && exec \"$0\" \"$@\""},
                      {(root / "mine" / "Unit.prj").string()}),
                  0);
        EXPECT_NE(ReadFile(settings).find("Page=" + c.title + "\n"), std::string::npos) << ReadFile(settings);
    }
}

// A project from elsewhere whose page lies beside it is trusted only when the
// user says so: asked once and remembered, asked again once the file changed;
// Cancel starts nothing and exits with 1; --trust-project or an entry written
// into the settings ahead of time trust it without asking.
TEST_F(HostTest, AProjectFromElsewhereIsTrustedOnlyWhenTheUserSaysSo) {
    InstallWindowModule();
    const fs::path project = root / "downloads" / "Unit.prj";
    Project(project, WindowModule("page.html"));
    std::ofstream(project.parent_path() / "page.html")
        << "<html><head><script>function korvoOnQueryClose() { return true; }"
           "window.external.korvoApiCall(10, ['Probe', 'Page', 'ran']);"
           "window.external.korvoApiCall(101, []);</script></head></html>\n";
    const fs::path settings = root / "config" / KORVO_COMPANY / "Yonderpad.conf";
    auto forgetRun = [&] {
        std::string text = ReadFile(settings);
        size_t at = text.find("Page=ran\n");
        if (at != std::string::npos) text.erase(at, 9);
        std::ofstream(settings) << text;
    };
    auto change = [&] { std::ofstream(project, std::ios::app) << "<!-- changed -->\n"; };
    auto trustAhead = [&] {
        std::string content = ReadFile(project);
        gchar* digest = g_compute_checksum_for_data(
            G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(content.data()), content.size());
        fs::create_directories(settings.parent_path());
        std::ofstream(settings) << "[TrustedProjects]\n"
                                << project.string() << "=" << digest << "\n";
        g_free(digest);
    };
    const char* open = "HOST_BOX_ANSWER=1";    // IDOK
    const char* cancel = "HOST_BOX_ANSWER=2";  // IDCANCEL
    struct Case {
        const char* what;
        std::function<void()> before;
        const char* answer;  // what a box would answer: OK (Open) or Cancel
        bool trustOption;
        int exitCode;
        bool asked, ran;
    } cases[] = {
        {"opened the first time: asked, Open", [] {}, open, false, 0, true, true},
        {"opened again: remembered", [] {}, cancel, false, 0, false, true},
        {"the file changed: asked again, Cancel", change, cancel, false, 1, true, false},
        {"still not trusted after Cancel", [] {}, cancel, false, 1, true, false},
        {"trusted on the command line", [] {}, cancel, true, 0, false, true},
        {"trusted ahead in the settings", trustAhead, cancel, false, 0, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.before();
        forgetRun();
        fs::remove(root / "box.log");
        std::vector<std::string> arguments;
        if (c.trustOption) arguments.push_back("--trust-project");
        arguments.push_back(project.string());
        EXPECT_EQ(Run({"/usr/bin/env", c.answer}, arguments), c.exitCode);
        std::string boxes = ReadFile(root / "box.log");
        if (c.asked) {
            // One box, the question, and no second box after a Cancel.
            EXPECT_EQ(
                boxes.rfind("text=The project " + project.string() + " comes from outside", 0), 0u)
                << boxes;
            EXPECT_NE(boxes.find(project.parent_path().string() + "/\nmay read"), std::string::npos)
                << boxes;
            EXPECT_NE(boxes.find("|caption=Yonderpad|style=0x131|ok=_Open\n"), std::string::npos)
                << boxes;
            EXPECT_EQ(boxes.find("text=", 1), std::string::npos) << boxes;
        } else {
            EXPECT_EQ(boxes, "");
        }
        EXPECT_EQ(ReadFile(settings).find("Page=ran") != std::string::npos, c.ran)
            << ReadFile(settings);
    }
}

}  // namespace
