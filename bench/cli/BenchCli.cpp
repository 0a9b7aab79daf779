// bench_cli: how long `yonderpad-units list` takes against how long discovery
// itself waits, on simulated units and on a private JACK server (dummy driver,
// period 256) with the unit simulator program; one unit, so one output port.
//   discovery_wait_ms  what the device module waits before the list is known:
//                      1500 ms to the scan and 200 ms per output port probed
//   list_sim_ms        `yonderpad-units --backend sim list`, from the start of
//                      the process to its end (median of RUNS, default 7)
//   list_jack_ms       the same with --backend jack
// Runs that fail are counted (failed=) and shown with their standard error.
//   start_ms           `yonderpad-units --help`: starting the process and
//                      loading its libraries, which every command pays too
// A list that ends as soon as discovery has its answers takes
// discovery_wait_ms plus the start and the work around it; any fixed sleep
// would show on top. The last line carries the three figures of the target;
// the line before it the start and the load average.
//   bench_cli [RUNS]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "JackTestServer.h"

#ifndef KORVO_UNITS_PROGRAM
#error KORVO_UNITS_PROGRAM must name yonderpad-units
#endif

extern char** environ;

namespace {

// The device module's timer steps (TannevaleMidi.h): the scan 1.5 s after
// start, 200 ms for each output port's answers.
constexpr int ScanDelayMs = 1500;
constexpr int ProbeDelayMs = 200;
constexpr int OutputPorts = 1;

// Milliseconds from spawn to exit of one run; -1 when it did not end with 0,
// after its standard error was shown.
double TimedRun(const std::vector<std::string>& arguments) {
    std::vector<char*> argv = {const_cast<char*>(KORVO_UNITS_PROGRAM)};
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    char errors[] = "/tmp/korvo-bench-cli-XXXXXX";
    const int errorsFd = mkstemp(errors);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (errorsFd >= 0) posix_spawn_file_actions_adddup2(&actions, errorsFd, 2);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned == 0) waitpid(pid, &status, 0);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const bool ok = spawned == 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ok) {
        std::ifstream text(errors);
        std::fprintf(stderr, "bench_cli: yonderpad-units %s ended with %d: %s\n",
                     arguments.back().c_str(), WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                     std::string(std::istreambuf_iterator<char>(text), {}).c_str());
    }
    if (errorsFd >= 0) close(errorsFd);
    unlink(errors);
    return ok ? ms : -1;
}

// The median of the runs that ended well; failed counts the others.
double MedianMs(const std::vector<std::string>& arguments, int runs, int& failed) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        const double ms = TimedRun(arguments);
        if (ms < 0)
            ++failed;
        else
            times.push_back(ms);
    }
    if (times.empty()) return -1;
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

std::string LoadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    setenv("KORVO_SIM_UNITS", "11:1234567", 1);
    const std::string before = LoadAverage();

    int failed = 0;
    const double start = MedianMs({"--help"}, runs, failed);
    const double sim = MedianMs({"--backend", "sim", "list"}, runs, failed);
    double jack = -1;
    {
        miditest::JackTestServer server("korvo-bench-cli");
        miditest::SimulatorProcess simulator("11:1234567");
        if (!server.Ready() || !simulator.Ready())
            std::fprintf(stderr, "bench_cli: private JACK server or simulator did not start\n");
        else
            jack = MedianMs({"--backend", "jack", "list"}, runs, failed);
    }
    const int wait = ScanDelayMs + ProbeDelayMs * OutputPorts;
    std::printf("cli: start_ms=%.0f runs=%d failed=%d load_average_before=%s after=%s\n", start,
                runs, failed, before.c_str(), LoadAverage().c_str());
    std::printf("cli: list_sim_ms=%.0f list_jack_ms=%.0f discovery_wait_ms=%d\n", sim, jack, wait);
    return sim > 0 && jack > 0 && start > 0 && failed == 0 ? 0 : 1;
}
