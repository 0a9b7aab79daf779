#include "BridgeFolder.h"

#include <errno.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

namespace platform {

namespace {

constexpr const char* kPrefix = "korvo-bridge-";
constexpr const char* kSocketName = "bridge";
// A copy makes its folder and binds its socket right away; an empty folder
// older than this belongs to a copy that never got that far.
constexpr time_t kEmptyFolderGraceSeconds = 60;

// True when nobody listens on the socket at path any more.
bool SocketIsDead(const std::string& path) {
    sockaddr_un address{};
    if (path.size() >= sizeof address.sun_path) return false;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    bool dead = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
                errno == ECONNREFUSED;
    close(fd);
    return dead;
}

bool IsStale(const std::string& folder, const struct stat& info) {
    GDir* dir = g_dir_open(folder.c_str(), 0, nullptr);
    if (!dir) return false;
    bool hasSocket = false, other = false;
    while (const char* name = g_dir_read_name(dir)) {
        if (std::strcmp(name, kSocketName) == 0)
            hasSocket = true;
        else
            other = true;
    }
    g_dir_close(dir);
    if (other) return false;
    if (!hasSocket) return time(nullptr) - info.st_mtime > kEmptyFolderGraceSeconds;
    std::string socketPath = folder + "/" + kSocketName;
    struct stat socketInfo {};
    return lstat(socketPath.c_str(), &socketInfo) == 0 && S_ISSOCK(socketInfo.st_mode) &&
           socketInfo.st_uid == getuid() && SocketIsDead(socketPath);
}

}  // namespace

int RemoveStaleBridgeFolders(const std::string& parent) {
    GDir* dir = g_dir_open(parent.c_str(), 0, nullptr);
    if (!dir) return 0;
    int removed = 0;
    while (const char* name = g_dir_read_name(dir)) {
        if (!g_str_has_prefix(name, kPrefix)) continue;
        std::string folder = parent + "/" + name;
        struct stat info {};
        if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid())
            continue;
        if (!IsStale(folder, info)) continue;
        g_unlink((folder + "/" + kSocketName).c_str());
        if (g_rmdir(folder.c_str()) == 0) ++removed;
    }
    g_dir_close(dir);
    return removed;
}

}  // namespace platform
