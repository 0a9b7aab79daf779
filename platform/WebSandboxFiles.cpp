#include "WebSandboxFiles.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <unistd.h>

#include <string>

namespace platform {

namespace {

// Removes folder and the plain files in it (the sandbox writes nothing deeper).
void RemoveFlatFolder(const std::string& folder) {
    if (GDir* dir = g_dir_open(folder.c_str(), 0, nullptr)) {
        while (const char* name = g_dir_read_name(dir)) g_unlink((folder + "/" + name).c_str());
        g_dir_close(dir);
    }
    g_rmdir(folder.c_str());
}

}  // namespace

void RemoveWebSandboxFiles() {
    const char* runtime = g_getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || !g_path_is_absolute(runtime)) return;
    std::string instances = std::string(runtime) + "/.flatpak";
    std::string own = "webkit-" + std::to_string(getpid()) + "-";
    GDir* dir = g_dir_open(instances.c_str(), 0, nullptr);
    if (dir == nullptr) return;
    while (const char* name = g_dir_read_name(dir)) {
        if (std::string(name).rfind(own, 0) == 0) RemoveFlatFolder(instances + "/" + name);
    }
    g_dir_close(dir);
}

}  // namespace platform
