// The lease on JACK test server names (JackServerLease.h), seen from outside:
// a JACK test killed in the middle, as ctest's time limit kills one: SIGKILL
// to the test's process and to every process below it (its server and the
// simulator program). The server dies without stopping and stays registered
// with JACK under the test's name. The next JACK test, whatever its server's
// name, must start and pass, and once it has run nothing of the killed test is
// left: no registration (JACK keeps only 8 per machine) and no server.
//
// The tests killed and run here are real tests of this program, each in a
// process of its own as ctest runs them.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/TemporaryFolder.h"

extern char** environ;

namespace {

using std::chrono::milliseconds;

// JACK's registry of servers, /dev/shm/jack-shm-registry: a header of six
// fields, then 8 entries of a pid and the name "jack-<uid>:<server>:" (jack2,
// JACK_SERVER_NAME_SIZE 256). Read here only to see which servers are
// registered; empty with a failure when the layout is not this one.
std::vector<std::string> RegisteredServers() {
    constexpr uint32_t Magic = 0x4a41434b;  // "JACK"
    constexpr std::size_t HeaderFields = 24, EntrySize = 264, Entries = 8, NameSize = 257;
    std::ifstream in("/dev/shm/jack-shm-registry", std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    uint32_t magic = 0, headerLength = 0;
    if (bytes.size() >= HeaderFields) {
        std::memcpy(&magic, bytes.data(), sizeof magic);
        std::memcpy(&headerLength, bytes.data() + 16, sizeof headerLength);
    }
    if (magic != Magic || headerLength != HeaderFields + Entries * EntrySize) {
        ADD_FAILURE() << "JACK's server registry is missing or not laid out as this test reads it";
        return {};
    }
    std::vector<std::string> names;
    for (std::size_t i = 0; i < Entries; ++i) {
        const char* entry = bytes.data() + HeaderFields + i * EntrySize;
        int32_t pid = 0;
        std::memcpy(&pid, entry, sizeof pid);
        if (pid != 0) names.emplace_back(entry + sizeof pid, strnlen(entry + sizeof pid, NameSize));
    }
    return names;
}

bool Registered(const std::string& server) {
    const std::string entry = "jack-" + std::to_string(getuid()) + ":" + server + ":";
    for (const std::string& name : RegisteredServers())
        if (name == entry) return true;
    return false;
}

// Every process below root, found through the parent pids in /proc, as
// ctest's kill finds them.
std::vector<pid_t> Descendants(pid_t root) {
    std::multimap<pid_t, pid_t> children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        std::size_t end = text.rfind(')');
        if (end == std::string::npos) continue;
        std::istringstream fields(text.substr(end + 2));
        char state = 0;
        pid_t parent = 0;
        fields >> state >> parent;
        children.emplace(parent, std::stoi(name));
    }
    std::vector<pid_t> found;
    std::vector<pid_t> pending{root};
    while (!pending.empty()) {
        pid_t next = pending.back();
        pending.pop_back();
        auto [first, last] = children.equal_range(next);
        for (auto it = first; it != last; ++it) {
            found.push_back(it->second);
            pending.push_back(it->second);
        }
    }
    return found;
}

// Whether a JACK server of that name runs (a zombie does not).
bool ServerRuns(const std::string& server) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream in(entry.path() / "cmdline", std::ios::binary);
        std::string cmdline((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (cmdline.rfind("jackd", 0) == 0 &&
            cmdline.find(std::string("-n") + '\0' + server + '\0') != std::string::npos)
            return true;
    }
    return false;
}

// One test of this program in a process of its own, its output in log.
pid_t StartTest(const std::string& test, const std::filesystem::path& log) {
    std::string filter = "--gtest_filter=JackServicesTest." + test;
    const char* argv[] = {"/proc/self/exe", filter.c_str(), nullptr};
    posix_spawn_file_actions_t output;
    posix_spawn_file_actions_init(&output);
    posix_spawn_file_actions_addopen(&output, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&output, 1, 2);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &output, nullptr, const_cast<char**>(argv), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&output);
    return pid;
}

// Its exit status, or -1 when it did not end in time (it is killed then).
int WaitTest(pid_t pid, milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            return -1;
        }
        std::this_thread::sleep_for(milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A test process that a case leaving early must not leave running; what it
// started follows it.
struct RunningTest {
    ~RunningTest() {
        if (pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    pid_t pid;
};

std::string ServerOf(const std::string& test) {
    return "korvo-" + test;
}

// Bounds on hangs, never speeds: a JACK test's start, and a whole JACK test.
constexpr milliseconds StartLimit(20000);
constexpr milliseconds TestLimit(120000);

TEST(JackServerLease, AfterAKilledJackTestTheNextPassesAndNothingOfTheKilledOneStays) {
    const std::string probeTest = "EnumeratesOpensAndGetsTheProbeAnswered";
    const std::string longTest = "LongSendsAreBoundedAndAlwaysHandedBack";
    struct Case {
        const char* what;
        std::string killed, next;
        bool wholeTree;  // else only the test's own process is killed
    } cases[] = {
        {"the same test runs next, under the killed server's name", probeTest, probeTest, true},
        {"another test runs next, under a name of its own", longTest, probeTest, true},
        {"only the test's process is killed: its server and simulator follow it", probeTest,
         probeTest, false},
    };
    korvotest::TemporaryFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::filesystem::path log = folder.path / "tests.log";
        std::filesystem::remove(log);
        const std::string killedServer = ServerOf(c.killed);

        pid_t killed = StartTest(c.killed, log);
        ASSERT_GT(killed, 0);
        RunningTest killedTest{killed};
        auto end = std::chrono::steady_clock::now() + StartLimit;
        while (!Registered(killedServer) && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(milliseconds(5));
        // Held where it is, its server running, until the kill (ctest's kill
        // suspends each process before it kills it too).
        kill(killed, SIGSTOP);
        ASSERT_TRUE(Registered(killedServer)) << "the test to be killed never started its server";
        std::this_thread::sleep_for(milliseconds(300));
        std::vector<pid_t> victims{killed};
        if (c.wholeTree) {
            std::vector<pid_t> below = Descendants(killed);
            victims.insert(victims.end(), below.begin(), below.end());
        }
        for (pid_t victim : victims) kill(victim, SIGKILL);
        waitpid(killed, nullptr, 0);
        if (c.wholeTree) {
            EXPECT_TRUE(Registered(killedServer)) << "the kill was meant to leave a registration";
        }

        pid_t next = StartTest(c.next, log);
        ASSERT_GT(next, 0);
        RunningTest nextTest{next};
        EXPECT_EQ(WaitTest(next, TestLimit), 0) << "the next JACK test failed:\n"
                                                << folder.Read("tests.log");
        EXPECT_FALSE(Registered(killedServer)) << "the killed test's server is still registered";
        EXPECT_FALSE(ServerRuns(killedServer)) << "the killed test's server still runs";
    }
}

}  // namespace
