#include "JackServerLease.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

extern char** environ;

namespace miditest {

namespace {

// Killed processes are reaped by init within a few seconds (every 2 s on the
// build machines); an orphan server stops within milliseconds of SIGTERM.
constexpr auto ReapWait = std::chrono::seconds(10);
constexpr auto QueryWait = std::chrono::seconds(5);

const std::string LockFolder = "/tmp/";
const std::string LockPrefix = "korvo-";
const std::string LockSuffix = ".jack.lock";

std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

pid_t Record(int fd) {
    char text[32] = {};
    ssize_t got = pread(fd, text, sizeof text - 1, 0);
    return got > 0 ? static_cast<pid_t>(std::atol(text)) : 0;
}

void WriteRecord(int fd, const std::string& text) {
    if (fd < 0) return;
    if (ftruncate(fd, 0) != 0 ||
        pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
        std::perror("JACK test server lease: cannot write its record");
}

// The process's state letter ('Z' for a zombie), or 0 once it is gone.
char State(pid_t pid) {
    std::string stat = ReadWhole("/proc/" + std::to_string(pid) + "/stat");
    std::size_t end = stat.rfind(')');
    return end == std::string::npos || end + 2 >= stat.size() ? 0 : stat[end + 2];
}

// Whether the process is a JACK server, and (while it runs) one of that name.
bool IsServer(pid_t pid, const std::string& name) {
    const std::string proc = "/proc/" + std::to_string(pid);
    if (ReadWhole(proc + "/comm") != "jackd\n") return false;
    if (State(pid) == 'Z') return true;  // a zombie has no command line left
    std::string cmdline = ReadWhole(proc + "/cmdline");
    std::istringstream arguments(cmdline);
    for (std::string argument; std::getline(arguments, argument, '\0');)
        if (argument == name) return true;
    return false;
}

// Asks the server once (what lets it shut down cleanly), then SIGTERM.
void StopOrphan(const std::string& name, pid_t server) {
    const char* argv[] = {"jack_lsp", "-s", name.c_str(), nullptr};
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    pid_t query = -1;
    if (posix_spawnp(&query, argv[0], &quiet, nullptr, const_cast<char**>(argv), environ) == 0) {
        auto end = std::chrono::steady_clock::now() + QueryWait;
        while (waitpid(query, nullptr, WNOHANG) == 0 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (kill(query, 0) == 0) {
            kill(query, SIGKILL);
            waitpid(query, nullptr, 0);
        }
    }
    posix_spawn_file_actions_destroy(&quiet);
    kill(server, SIGTERM);
}

bool WaitGone(pid_t pid) {
    auto end = std::chrono::steady_clock::now() + ReapWait;
    while (State(pid) != 0) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

}  // namespace

JackServerLease::JackServerLease(const std::string& serverName) : name(serverName) {
    lockFd = open((LockFolder + name + LockSuffix).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lockFd < 0) {
        std::perror(("JACK test server lease: cannot open the lock of " + name).c_str());
        return;
    }
    flock(lockFd, LOCK_EX);
    pid_t last = Record(lockFd);
    // A record of a process that is no JACK server of this name is a pid the
    // system gave to another process since.
    if (last <= 0 || !IsServer(last, name)) return;
    if (State(last) != 'Z') StopOrphan(name, last);
    if (!WaitGone(last))
        std::fprintf(stderr,
                     "JACK test server %s: the server %d that a killed test left is still there\n",
                     name.c_str(), static_cast<int>(last));
}

JackServerLease::~JackServerLease() {
    if (lockFd >= 0) close(lockFd);  // releases the lock
}

void JackServerLease::Started(pid_t server) {
    WriteRecord(lockFd, std::to_string(server));
}

void JackServerLease::Stopped() {
    WriteRecord(lockFd, "");
}

std::vector<std::string> JackServerLease::Stale() {
    std::vector<std::string> names;
    DIR* folder = opendir(LockFolder.c_str());
    if (folder == nullptr) return names;
    while (dirent* entry = readdir(folder)) {
        const std::string file = entry->d_name;
        if (file.size() <= LockPrefix.size() + LockSuffix.size() ||
            file.rfind(LockPrefix, 0) != 0 ||
            file.compare(file.size() - LockSuffix.size(), LockSuffix.size(), LockSuffix) != 0)
            continue;
        int fd = open((LockFolder + file).c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) continue;
        if (flock(fd, LOCK_EX | LOCK_NB) == 0 && Record(fd) > 0)
            names.push_back(file.substr(0, file.size() - LockSuffix.size()));
        close(fd);
    }
    closedir(folder);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace miditest
