#include "FileReplacement.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "OwnLinks.h"

namespace platform {

namespace {

// Tries for a free name for the new file before giving up.
constexpr int TemporaryNameTries = 100;
// The mode bits a new file gets from open(0666) when the umask cannot be read.
constexpr mode_t FallbackUmask = 022;

// The process's umask, read without changing it (umask() would, for a moment,
// for every thread).
mode_t CurrentUmask() {
    g_autofree gchar* status = nullptr;
    if (g_file_get_contents("/proc/self/status", &status, nullptr, nullptr)) {
        if (const char* line = strstr(status, "\nUmask:"))
            return static_cast<mode_t>(g_ascii_strtoull(line + 7, nullptr, 8)) & 0777;
    }
    return FallbackUmask;
}

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t written = write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;  // EAGAIN too: a pipe or device that takes no more now
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

// Writes into the file itself, never waiting for a pipe or device: one that
// has no reader or takes nothing now fails the write.
bool WriteInPlace(const ResolvedPath& target, const std::string& bytes) {
    int fd =
        openat(target.Folder(), target.Name().c_str(),
               O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, bytes);
    return close(fd) == 0 && ok;
}

// Makes a new file ".<name>.XXXXXX" beside the target, readable by the user
// alone; -1 when the folder takes none.
int MakeTemporary(const ResolvedPath& target, std::string& temporary) {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < TemporaryNameTries; ++attempt) {
        temporary = "." + target.Name() + ".";
        for (int i = 0; i < 6; ++i) temporary += letters[g_random_int_range(0, sizeof letters - 1)];
        int fd = openat(target.Folder(), temporary.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace

bool ReplaceFileContent(const std::string& path, const std::string& bytes) {
    ResolvedPath target;
    if (path.empty() || !target.Resolve(path)) return false;
    struct stat old {};
    bool exists = fstatat(target.Folder(), target.Name().c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && !S_ISREG(old.st_mode)) return WriteInPlace(target, bytes);

    std::string temporary;
    int fd = MakeTemporary(target, temporary);
    if (fd < 0) {
        // No new file can be made beside the target: the folder is not ours.
        return (errno == EACCES || errno == EPERM) && WriteInPlace(target, bytes);
    }
    bool ok = WriteAll(fd, bytes);
    // The final owner and mode before the name is taken, so that nobody else
    // ever reads the content under a looser mode.
    if (ok && exists && fchown(fd, old.st_uid, old.st_gid) != 0) {
        // Only root keeps a foreign owner; the file becomes ours otherwise.
    }
    mode_t mode = exists ? old.st_mode & 07777 : 0666 & ~CurrentUmask();
    ok = ok && fchmod(fd, mode) == 0;
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok &&
         renameat(target.Folder(), temporary.c_str(), target.Folder(), target.Name().c_str()) == 0;
    if (!ok) unlinkat(target.Folder(), temporary.c_str(), 0);
    return ok;
}

}  // namespace platform
