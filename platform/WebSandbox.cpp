#include "WebSandbox.h"

#include <glib.h>

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

std::string FindProblem() {
    gchar* mountinfo = nullptr;
    if (g_file_get_contents("/proc/self/mountinfo", &mountinfo, nullptr, nullptr)) {
        bool hasRoot = MountTableHasRoot(mountinfo);
        g_free(mountinfo);
        if (!hasRoot) return "the root folder is not a mount point (a chroot?)";
    }
    gchar* bwrap = g_find_program_in_path("bwrap");
    if (!bwrap) return "bwrap is not installed";
    // A small sandbox of the kind the engine makes for its web processes.
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
    gchar* errors = nullptr;
    gint status = 0;
    GError* error = nullptr;
    bool ran = g_spawn_sync(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_STDOUT_TO_DEV_NULL,
                            nullptr, nullptr, nullptr, &errors, &status, &error);
    g_free(bwrap);
    std::string problem;
    if (!ran) {
        problem = std::string("bwrap does not run: ") + error->message;
        g_error_free(error);
    } else if (!g_spawn_check_wait_status(status, nullptr)) {
        problem = "bwrap fails: " + FirstLine(errors);
    }
    g_free(errors);
    return problem;
}

}  // namespace

std::string WebSandboxProblem() {
    static const std::string problem = FindProblem();
    return problem;
}

}  // namespace platform
