#include "OwnLinks.h"

#include <fcntl.h>
#include <glib.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <deque>

namespace platform {

namespace {

// As many links as the kernel follows in one path before it gives up.
constexpr int MaxLinks = 40;

// The parts of path between slashes; empty parts and "." are left out.
std::deque<std::string> Parts(const std::string& path) {
    std::deque<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        if (!part.empty() && part != ".") parts.push_back(std::move(part));
        start = end + 1;
    }
    return parts;
}

int OpenRoot(bool absolute) {
    return open(absolute ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// Replaces the descriptor held in held by next (closing the old one).
void Replace(int& held, int next) {
    if (held >= 0) close(held);
    held = next;
}

// Fails with error, closing the descriptors given.
bool Fail(int error, int& first, int second = -1) {
    Replace(first, -1);
    if (second >= 0) close(second);
    errno = error;
    return false;
}

}  // namespace

ResolvedPath::~ResolvedPath() {
    if (folder >= 0) close(folder);
}

bool ResolvedPath::Resolve(const std::string& path) {
    Replace(folder, -1);
    name.clear();
    if (path.empty()) {
        errno = ENOENT;
        return false;
    }
    std::deque<std::string> parts = Parts(path);
    int at = OpenRoot(path[0] == '/');
    if (at < 0) return false;
    const uid_t user = geteuid();
    int links = 0;
    while (!parts.empty()) {
        std::string part = std::move(parts.front());
        parts.pop_front();
        bool last = parts.empty();
        if (part == "." && !last) continue;
        if (part == "..") {
            int up = openat(at, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (up < 0) return Fail(errno, at);
            Replace(at, up);
            if (last)
                part.assign(1, '.');
            else
                continue;
        }
        int fd = part == "." ? -1 : openat(at, part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && (part == "." || (errno == ENOENT && last))) {
            folder = at;
            name = part;
            return true;
        }
        if (fd < 0) return Fail(errno, at);
        struct stat info {};
        if (fstat(fd, &info) != 0) return Fail(errno, at, fd);
        if (S_ISLNK(info.st_mode)) {
            if (info.st_uid != user && info.st_uid != 0) {
                g_message("Not following the link %s in %s: it belongs to another user (uid %u)",
                          part.c_str(), path.c_str(), static_cast<unsigned>(info.st_uid));
                return Fail(EACCES, at, fd);
            }
            if (++links > MaxLinks) return Fail(ELOOP, at, fd);
            char target[PATH_MAX];
            ssize_t length = readlinkat(fd, "", target, sizeof target);
            close(fd);
            if (length <= 0 || length >= static_cast<ssize_t>(sizeof target))
                return Fail(ENOENT, at);
            std::string text(target, static_cast<size_t>(length));
            std::deque<std::string> more = Parts(text);
            // A link to a folder ("x/", "/", ".") still has to lead somewhere.
            if (more.empty() || text.back() == '/') more.push_back(".");
            parts.insert(parts.begin(), more.begin(), more.end());
            if (text[0] == '/') {
                int root = OpenRoot(true);
                if (root < 0) return Fail(errno, at);
                Replace(at, root);
            }
            continue;
        }
        if (last) {
            close(fd);
            folder = at;
            name = part;
            return true;
        }
        if (!S_ISDIR(info.st_mode)) return Fail(ENOTDIR, at, fd);
        Replace(at, fd);
    }
    // Nothing but the start ("/", "."): the folder itself.
    folder = at;
    name.assign(1, '.');
    return true;
}

bool ReadOwnFile(const std::string& path, std::string& bytes) {
    bytes.clear();
    ResolvedPath resolved;
    if (!resolved.Resolve(path)) return false;
    // Only a regular file is opened at all: opening a device can act on it,
    // and a pipe without a writer would wait.
    struct stat info {};
    if (fstatat(resolved.Folder(), resolved.Name().c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(info.st_mode))
        return false;
    int fd = openat(resolved.Folder(), resolved.Name().c_str(),
                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    char block[65536];
    while (ok) {
        ssize_t got = read(fd, block, sizeof block);
        if (got > 0)
            bytes.append(block, static_cast<size_t>(got));
        else if (got == 0)
            break;
        else if (errno != EINTR)
            ok = false;
    }
    close(fd);
    if (!ok) bytes.clear();
    return ok;
}

}  // namespace platform
