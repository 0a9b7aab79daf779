#include "WebSandbox.h"

#include <glib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

namespace platform {

bool MountTableHasRoot(const std::string& mountinfo) {
    // Each line: mount id, parent id, major:minor, root, mount point, ...
    std::istringstream lines(mountinfo);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, mountPoint;
        if (fields >> id >> parent >> device >> root >> mountPoint && mountPoint == "/")
            return true;
    }
    return false;
}

namespace {

std::string FirstLine(const char* text) {
    std::string line = text ? text : "";
    size_t end = line.find('\n');
    if (end != std::string::npos) line.resize(end);
    return line;
}

// A trial sandbox of the kind the engine makes for its web processes, run in
// the background from StartWebSandboxCheck until its answer is needed.
struct Trial {
    bool started = false;
    std::string problem;  // known without running bwrap
    GPid pid = 0;
    int errors = -1;      // bwrap's standard error
};

Trial& TheTrial() {
    static Trial trial;
    return trial;
}

void StartTrial(Trial& trial) {
    trial.started = true;
    gchar* mountinfo = nullptr;
    if (g_file_get_contents("/proc/self/mountinfo", &mountinfo, nullptr, nullptr)) {
        bool hasRoot = MountTableHasRoot(mountinfo);
        g_free(mountinfo);
        if (!hasRoot) {
            trial.problem = "the root folder is not a mount point (a chroot?)";
            return;
        }
    }
    gchar* bwrap = g_find_program_in_path("bwrap");
    if (!bwrap) {
        trial.problem = "bwrap is not installed";
        return;
    }
    const gchar* argv[] = {bwrap,
                           "--ro-bind",
                           "/",
                           "/",
                           "--dev",
                           "/dev",
                           "--proc",
                           "/proc",
                           "--unshare-pid",
                           "--unshare-ipc",
                           "--unshare-uts",
                           "--die-with-parent",
                           "--",
                           "true",
                           nullptr};
    GError* error = nullptr;
    if (!g_spawn_async_with_pipes(nullptr, const_cast<gchar**>(argv), nullptr,
                                  static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD |
                                                           G_SPAWN_STDOUT_TO_DEV_NULL),
                                  nullptr, nullptr, &trial.pid, nullptr, nullptr, &trial.errors,
                                  &error)) {
        trial.problem = std::string("bwrap does not run: ") + error->message;
        g_error_free(error);
        trial.pid = 0;
    }
    g_free(bwrap);
}

// Waits for the trial to end and reads its verdict.
std::string FinishTrial(Trial& trial) {
    if (!trial.started) StartTrial(trial);
    if (trial.pid == 0) return trial.problem;
    std::string errors;
    char buffer[512];
    for (;;) {
        ssize_t got = read(trial.errors, buffer, sizeof buffer);
        if (got > 0) errors.append(buffer, static_cast<size_t>(got));
        else if (got == 0 || errno != EINTR) break;
    }
    close(trial.errors);
    int status = 0;
    while (waitpid(trial.pid, &status, 0) < 0 && errno == EINTR) {
    }
    g_spawn_close_pid(trial.pid);
    trial.pid = 0;
    if (!g_spawn_check_wait_status(status, nullptr))
        trial.problem = "bwrap fails: " + FirstLine(errors.c_str());
    return trial.problem;
}

}  // namespace

void StartWebSandboxCheck() {
    Trial& trial = TheTrial();
    if (!trial.started) StartTrial(trial);
}

std::string WebSandboxProblem() {
    static const std::string problem = FinishTrial(TheTrial());
    return problem;
}

}  // namespace platform
