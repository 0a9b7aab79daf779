#include "JackTestServer.h"

#include <fcntl.h>
#include <jack/jack.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#ifndef KORVO_UNIT_SIMULATOR
#error KORVO_UNIT_SIMULATOR must name the simulator program
#endif

namespace miditest {

namespace {

void QuietJack(const char*) {}

pid_t Spawn(const std::vector<std::string>& args, int stdoutFd) {
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid != 0) return pid;
    // A test that dies takes its server and simulator with it, even one that
    // left its process group (jackd does).
    if (prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || getppid() != parent) _exit(127);
    int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, 0);
    dup2(stdoutFd >= 0 ? stdoutFd : devnull, 1);
    dup2(devnull, 2);
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

}  // namespace

JackTestServer::JackTestServer(const std::string& serverName) : name(serverName) {
    for (const std::string& stale : JackServerLease::Stale()) {
        if (stale == name) continue;  // this server takes over its registration
        JackTestServer cleanup(stale, Cleanup{});
    }
    Start();
}

JackTestServer::JackTestServer(const std::string& serverName, Cleanup) : name(serverName) {
    Start();
}

void JackTestServer::Start() {
    lease = std::make_unique<JackServerLease>(name);
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
    setenv("JACK_NO_START_SERVER", "1", 1);
    jack_set_error_function(QuietJack);
    jack_set_info_function(QuietJack);
    pid = Spawn({"jackd", "-n", name, "--no-realtime", "--port-max", "64", "-d", "dummy", "-r", "48000", "-p", "256"}, -1);
    if (pid > 0) lease->Started(pid);
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
        jack_status_t status;
        jack_client_t* probe = jack_client_open("korvo-test-probe", JackNoStartServer, &status);
        if (probe) {
            jack_client_close(probe);
            ready = true;
            break;
        }
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

JackTestServer::~JackTestServer() {
    if (pid > 0) {
        // A query before SIGTERM lets the server shut down cleanly and free its
        // registration.
        pid_t lsp = Spawn({"jack_lsp"}, -1);
        if (lsp > 0) WaitExit(lsp, std::chrono::seconds(5));
        kill(pid, SIGTERM);
        if (WaitExit(pid, std::chrono::seconds(5))) lease->Stopped();
    }
    unsetenv("JACK_DEFAULT_SERVER");
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
    std::string out;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!ready && std::chrono::steady_clock::now() < end) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        char buf[64];
        ssize_t n = read(fds[0], buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, size_t(n));
        ready = out.find("ready\n") != std::string::npos;
    }
    close(fds[0]);
}

bool SimulatorProcess::Stop() {
    if (pid <= 0) return false;
    kill(pid, SIGTERM);
    bool clean = WaitExit(pid, std::chrono::seconds(5));
    pid = -1;
    return clean;
}

}  // namespace miditest
