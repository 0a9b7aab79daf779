#include "FileReplacement.h"

#include <fcntl.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

namespace {

// The file that path finally names, following symbolic links (also one that
// points to a file not yet there). Gives up after as many steps as the kernel
// would and returns the path as far as it got.
std::string FollowLinks(std::string path) {
    for (int step = 0; step < 40; ++step) {
        GStatBuf info;
        if (g_lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
        gchar* target = g_file_read_link(path.c_str(), nullptr);
        if (target == nullptr) return path;
        if (g_path_is_absolute(target)) {
            path = target;
        } else {
            gchar* folder = g_path_get_dirname(path.c_str());
            gchar* joined = g_build_filename(folder, target, nullptr);
            path = joined;
            g_free(joined);
            g_free(folder);
        }
        g_free(target);
    }
    return path;
}

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

bool WriteInPlace(const std::string& path, const std::string& bytes) {
    int fd = g_open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, bytes);
    return g_close(fd, nullptr) && ok;
}

}  // namespace

bool ReplaceFileContent(const std::string& path, const std::string& bytes) {
    if (path.empty()) return false;
    std::string target = FollowLinks(path);
    GStatBuf old;
    bool exists = g_stat(target.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) return WriteInPlace(target, bytes);

    gchar* folder = g_path_get_dirname(target.c_str());
    gchar* name = g_path_get_basename(target.c_str());
    gchar* pattern = g_strdup_printf(".%s.XXXXXX", name);
    gchar* temporary = g_build_filename(folder, pattern, nullptr);
    g_free(pattern);
    g_free(name);
    g_free(folder);
    // A new file gets the usual 0666 less the umask, as open gives it.
    int fd = g_mkstemp_full(temporary, O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) {
        g_free(temporary);
        // No new file can be made beside the target: the folder is not ours.
        return (errno == EACCES || errno == EPERM) && WriteInPlace(target, bytes);
    }
    bool ok = WriteAll(fd, bytes);
    if (ok && exists) {
        if (fchown(fd, old.st_uid, old.st_gid) != 0) {
            // Only root keeps a foreign owner; the file becomes ours otherwise.
        }
        ok = fchmod(fd, old.st_mode & 07777) == 0;
    }
    ok = ok && fsync(fd) == 0;
    ok = g_close(fd, nullptr) && ok;
    ok = ok && g_rename(temporary, target.c_str()) == 0;
    if (!ok) g_unlink(temporary);
    g_free(temporary);
    return ok;
}

}  // namespace platform
