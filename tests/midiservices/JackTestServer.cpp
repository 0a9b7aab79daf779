#include "JackTestServer.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <jack/jack.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef KORVO_UNIT_SIMULATOR
#error KORVO_UNIT_SIMULATOR must name the simulator program
#endif

namespace miditest {

namespace {

// How long a server may take to serve its first client.
constexpr std::chrono::seconds StartLimit{10};

void QuietJack(const char*) {}

// Starts args[0] with stdin from /dev/null, stdout to stdoutFd (or /dev/null)
// and stderr to stderrFd (or /dev/null).
pid_t Spawn(const std::vector<std::string>& args, int stdoutFd, int stderrFd = -1) {
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid != 0) return pid;
    // A test that dies takes its server and simulator with it, even one that
    // left its process group (jackd does).
    if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent) _exit(127);
    int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    dup2(stdoutFd >= 0 ? stdoutFd : devnull, 1);
    dup2(stderrFd >= 0 ? stderrFd : devnull, 2);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

bool WaitExit(pid_t pid, std::chrono::milliseconds timeout) {
    auto end = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (r < 0) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return false;
}

// The file that holds the JACK library this process runs on.
std::string JackLibrary() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&jack_client_open), &info) == 0 || info.dli_fname == nullptr)
        return "";
    return info.dli_fname;
}

// The last lines of a file, for a failure message.
std::string Tail(const std::string& path) {
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    std::ostringstream tail;
    for (size_t i = lines.size() > 8 ? lines.size() - 8 : 0; i < lines.size(); ++i)
        tail << "\n  " << lines[i];
    return tail.str();
}

}  // namespace

JackTestServer::JackTestServer(const std::string& serverName) : name(serverName) {
    const char* kind = std::getenv("KORVO_TEST_JACK_SERVER");
    pipewire = kind != nullptr && std::strcmp(kind, "pipewire") == 0;
    // PipeWire keeps no registrations; jackd's that killed tests left are freed
    // before a new one starts.
    if (!pipewire) {
        for (const std::string& stale : JackServerLease::Stale()) {
            if (stale == name) continue;  // this server takes over its registration
            JackTestServer cleanup(stale, Cleanup{});
        }
    }
    Start();
}

JackTestServer::JackTestServer(const std::string& serverName, Cleanup) : name(serverName) {
    Start();
}

void JackTestServer::Start() {
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    jack_set_error_function(QuietJack);
    jack_set_info_function(QuietJack);
    if (pipewire)
        StartPipeWire();
    else
        StartJackd();
}

void JackTestServer::StartJackd() {
    lease = std::make_unique<JackServerLease>(name);
    pid = Spawn({"jackd", "-n", name, "--no-realtime", "--port-max", "64", "-d", "dummy", "-r", "48000", "-p", "256"}, -1);
    if (pid > 0) lease->Started(pid);
    if (!WaitUntilServing()) why = "jackd did not start (is jackd2 installed?)";
}

void JackTestServer::StartPipeWire() {
    const std::string library = JackLibrary();
    if (library.find("pipewire") == std::string::npos) {
        why = "the test runs on the JACK library " + library +
              ", not PipeWire's: run it through pw-jack (package pipewire-jack)";
        return;
    }
    runtime = "/tmp/korvo-pipewire-" + name + "-" + std::to_string(getpid());
    std::filesystem::remove_all(runtime);
    if (mkdir(runtime.c_str(), 0700) != 0) {
        why = "cannot make PipeWire's runtime folder " + runtime + ": " + std::strerror(errno);
        return;
    }
    setenv("PIPEWIRE_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("PIPEWIRE_LATENCY", "256/48000", 1);
    const std::string logPath = runtime + "/pipewire.log";
    int logFd = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    // The daemon finds its socket folder through XDG_RUNTIME_DIR; with no
    // session bus it only logs that D-Bus is missing.
    std::string runtimeVariable = "XDG_RUNTIME_DIR=" + runtime;
    pid =
        Spawn({"env", "-u", "DBUS_SESSION_BUS_ADDRESS", runtimeVariable, "pipewire"}, logFd, logFd);
    if (logFd >= 0) close(logFd);
    if (!WaitUntilServing())
        why = "the PipeWire daemon did not start (is pipewire installed?); its log ends:" +
              Tail(logPath);
}

bool JackTestServer::WaitUntilServing() {
    auto end = std::chrono::steady_clock::now() + StartLimit;
    while (std::chrono::steady_clock::now() < end) {
        jack_status_t status;
        jack_client_t* probe = jack_client_open("korvo-test-probe", JackNoStartServer, &status);
        if (probe) {
            jack_client_close(probe);
            ready = true;
            return true;
        }
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

JackTestServer::~JackTestServer() {
    if (pid > 0) {
        // A query before SIGTERM lets jackd shut down cleanly and free its
        // registration.
        if (!pipewire) {
            pid_t lsp = Spawn({"jack_lsp"}, -1);
            if (lsp > 0) WaitExit(lsp, std::chrono::seconds(5));
        }
        kill(pid, SIGTERM);
        if (WaitExit(pid, std::chrono::seconds(5)) && lease) lease->Stopped();
    }
    unsetenv("JACK_DEFAULT_SERVER");
    if (!runtime.empty()) std::filesystem::remove_all(runtime);
}

SimulatorProcess::SimulatorProcess(const std::string& units, const std::string& client,
                                   const std::vector<std::string>& options) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    std::vector<std::string> args = {KORVO_UNIT_SIMULATOR, "--client", client};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(units);
    pid = Spawn(args, fds[1]);
    close(fds[1]);
    output = fds[0];
    std::string out;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!ready && std::chrono::steady_clock::now() < end) {
        pollfd p{output, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        char buf[64];
        ssize_t n = read(output, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, size_t(n));
        ready = out.find("ready\n") != std::string::npos;
    }
    if (ready) log = out.substr(out.find("ready\n") + 6);
    // The rest of its output, until it ends.
    reader = std::thread([this] {
        char buf[4096];
        for (ssize_t n; (n = read(output, buf, sizeof buf)) > 0;) {
            std::lock_guard<std::mutex> guard(lock);
            log.append(buf, size_t(n));
        }
    });
}

bool SimulatorProcess::Stop() {
    bool clean = false;
    if (pid > 0) {
        kill(pid, SIGTERM);
        clean = WaitExit(pid, std::chrono::seconds(5));
        pid = -1;
    }
    if (reader.joinable()) reader.join();  // ends at the end of its output
    if (output >= 0) close(output);
    output = -1;
    return clean;
}

std::string SimulatorProcess::Log() {
    std::lock_guard<std::mutex> guard(lock);
    return log;
}

}  // namespace miditest
