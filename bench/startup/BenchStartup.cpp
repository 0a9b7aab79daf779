// Start-up of the installed program against the least a WebKitGTK program
// needs to show the same page (startup_minimal_webview: one window, one web
// view, web process sandbox on).
//
// A run spawns one of the two with simulated units (KORVO_MIDI=sim) in
// private settings, cache and runtime folders, and times it from just before
// the spawn until the page's load has finished: the program logs that moment
// with the monotonic clock when KORVO_REPORT_PAGE_LOAD is set, the reference
// prints the same clock. Half a second later the resident memory of the
// program and of its WebKit web and network processes is summed; then the
// program gets SIGTERM, and the next run starts once all of them are gone.
//
// One unmeasured run of each warms the caches (and leaves the program's
// settings as a returning user has them). Then the runs alternate, in the
// order ABBA so that neither side always runs right after the other; the
// figures are medians. Needs a display (Xvfb does). Single starts of either
// side spread by ±15 % on an idle two-core machine; medians of 15 each keep
// the ratio within a few per cent from one invocation to the next, where 7
// each let it wander by ±6 %.
//
// Usage: bench_startup [RUNS]   (RUNS of each, default 15)

#include <glib.h>
#include <glib/gstdio.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "ProcessMemory.h"

namespace {

constexpr gint64 kLoadTimeoutUs = 60 * G_USEC_PER_SEC;
constexpr gint64 kSettleUs = 500 * 1000;
constexpr gint64 kExitTimeoutUs = 10 * G_USEC_PER_SEC;

struct Subject {
    const char* label;
    std::vector<std::string> argv;
};

struct Sample {
    double readyMs = 0;
    double rssMb = 0;
    std::string detail;  // memory by process
};

[[noreturn]] void Fail(const std::string& why, const std::string& output = {}) {
    std::fprintf(stderr, "bench_startup: %s\n", why.c_str());
    if (!output.empty()) std::fprintf(stderr, "--- program output ---\n%s\n", output.c_str());
    std::exit(1);
}

std::string LoadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// The monotonic time in a "... loaded [at] <µs>" line of output, or 0.
gint64 LoadedAt(const std::string& output) {
    for (size_t at = output.find("loaded "); at != std::string::npos; at = output.find("loaded ", at + 1)) {
        const char* digits = output.c_str() + at + 7;
        if (g_str_has_prefix(digits, "at ")) digits += 3;
        char* end = nullptr;
        long long value = std::strtoll(digits, &end, 10);
        if (end != digits && value > 0 && (*end == ' ' || *end == '\n')) return value;
    }
    return 0;
}

// Reads whatever the program wrote until deadline (monotonic µs) or until
// done(output) holds; false when the program ended first.
template <typename Done>
bool Drain(const std::vector<int>& fds, std::string& output, gint64 deadline, Done done) {
    char buffer[4096];
    while (!done(output)) {
        gint64 left = deadline - g_get_monotonic_time();
        if (left <= 0) return true;
        std::vector<pollfd> polled;
        for (int fd : fds) polled.push_back({fd, POLLIN, 0});
        if (poll(polled.data(), polled.size(), static_cast<int>(left / 1000) + 1) < 0) continue;
        bool open = false;
        for (const pollfd& p : polled) {
            if (!(p.revents & (POLLIN | POLLHUP))) {
                open = true;
                continue;
            }
            ssize_t got = read(p.fd, buffer, sizeof buffer);
            if (got > 0) {
                output.append(buffer, static_cast<size_t>(got));
                open = true;
            }
        }
        if (!open) return false;
    }
    return true;
}

bool Gone(pid_t pid) { return kill(pid, 0) != 0; }

void Stop(pid_t pid, const std::vector<pid_t>& helpers) {
    kill(pid, SIGTERM);
    gint64 deadline = g_get_monotonic_time() + kExitTimeoutUs;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (g_get_monotonic_time() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        g_usleep(10 * 1000);
    }
    // The web and network processes end when their program has gone.
    deadline = g_get_monotonic_time() + kExitTimeoutUs;
    for (pid_t helper : helpers) {
        while (!Gone(helper) && g_get_monotonic_time() < deadline) g_usleep(10 * 1000);
        if (!Gone(helper)) kill(helper, SIGKILL);
    }
}

Sample Run(const Subject& subject, gchar** environment, const std::string& folder) {
    std::vector<char*> argv;
    for (const std::string& word : subject.argv) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    GPid pid = 0;
    int outFd = -1, errFd = -1;
    GError* error = nullptr;
    gint64 start = g_get_monotonic_time();
    if (!g_spawn_async_with_pipes(folder.c_str(), argv.data(), environment, G_SPAWN_DO_NOT_REAP_CHILD,
                                  nullptr, nullptr, &pid, nullptr, &outFd, &errFd, &error)) {
        std::string why = std::string("cannot start ") + subject.argv[0] + ": " + error->message;
        g_error_free(error);
        Fail(why);
    }
    std::vector<int> fds{outFd, errFd};
    std::string output;
    bool running = Drain(fds, output, start + kLoadTimeoutUs,
                         [](const std::string& text) { return LoadedAt(text) != 0; });
    gint64 loaded = LoadedAt(output);
    if (!loaded) {
        Stop(pid, Descendants(pid));
        Fail(std::string(subject.label) + (running ? ": no page load within 60 s" : ": ended before its page loaded"),
             output);
    }
    Drain(fds, output, g_get_monotonic_time() + kSettleUs, [](const std::string&) { return false; });

    Sample sample;
    sample.readyMs = static_cast<double>(loaded - start) / 1000.0;
    long totalKb = 0;
    for (const ProcessMemory& process : ProgramMemory(pid)) {
        totalKb += process.rssKb;
        sample.detail += " " + process.name + "=" + std::to_string(process.rssKb / 1024);
    }
    sample.rssMb = static_cast<double>(totalKb) / 1024.0;
    Stop(pid, Descendants(pid));
    close(outFd);
    close(errFd);
    g_spawn_close_pid(pid);
    return sample;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

gchar** Environment(const std::string& folder) {
    gchar** environment = g_get_environ();
    const std::pair<const char*, const char*> folders[] = {
        {"XDG_CONFIG_HOME", "config"}, {"XDG_CACHE_HOME", "cache"}, {"XDG_RUNTIME_DIR", "runtime"}};
    for (const auto& [variable, name] : folders) {
        std::string path = folder + "/" + name;
        g_mkdir(path.c_str(), 0700);
        environment = g_environ_setenv(environment, variable, path.c_str(), TRUE);
    }
    environment = g_environ_setenv(environment, "KORVO_MIDI", "sim", TRUE);
    environment = g_environ_setenv(environment, "KORVO_REPORT_PAGE_LOAD", "1", TRUE);
    environment = g_environ_setenv(environment, "NO_AT_BRIDGE", "1", TRUE);
    return environment;
}

void RemoveTree(const std::string& path) {
    if (GDir* dir = g_dir_open(path.c_str(), 0, nullptr)) {
        while (const char* name = g_dir_read_name(dir)) RemoveTree(path + "/" + name);
        g_dir_close(dir);
    }
    g_remove(path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    int runs = argc > 1 ? std::atoi(argv[1]) : 15;
    if (runs < 1) Fail("usage: bench_startup [RUNS]");
    if (!g_getenv("DISPLAY") && !g_getenv("WAYLAND_DISPLAY"))
        Fail("needs a display: run it under Xvfb (DISPLAY is not set)");
    const std::string page = KORVO_BENCH_PAGE;
    Subject program{"program", {KORVO_BENCH_PROGRAM}};
    Subject minimal{"minimal", {KORVO_BENCH_MINIMAL, page}};
    for (const char* file : {KORVO_BENCH_PROGRAM, KORVO_BENCH_MINIMAL, KORVO_BENCH_PAGE})
        if (!g_file_test(file, G_FILE_TEST_EXISTS)) Fail(std::string(file) + " is missing: build it first");

    gchar* made = g_dir_make_tmp("bench-startup-XXXXXX", nullptr);
    if (!made) Fail("cannot make a temporary folder");
    std::string folder = made;
    g_free(made);
    gchar** environment = Environment(folder);

    std::printf("load average before: %s\n", LoadAverage().c_str());
    Run(program, environment, folder);
    Run(minimal, environment, folder);
    std::vector<double> programMs, minimalMs, programMb, minimalMb;
    for (int i = 0; i < 2 * runs; ++i) {
        // A B B A A B ...
        bool programTurn = (i % 4 == 0) || (i % 4 == 3);
        const Subject& subject = programTurn ? program : minimal;
        Sample sample = Run(subject, environment, folder);
        (programTurn ? programMs : minimalMs).push_back(sample.readyMs);
        (programTurn ? programMb : minimalMb).push_back(sample.rssMb);
        std::printf("%-8s ready %7.1f ms  rss %6.1f MB (%s )\n", subject.label, sample.readyMs,
                    sample.rssMb, sample.detail.c_str());
        std::fflush(stdout);
    }
    g_strfreev(environment);
    RemoveTree(folder);

    double a = Median(programMs), b = Median(minimalMs);
    double c = Median(programMb), d = Median(minimalMb);
    std::printf("load average after: %s\n", LoadAverage().c_str());
    std::printf("startup: page_ready_ms=%.0f minimal_webkit_ms=%.0f ratio=%.3f rss_mb=%.0f "
                "minimal_rss_mb=%.0f rss_ratio=%.3f\n",
                a, b, a / b, c, d, c / d);
    return 0;
}
