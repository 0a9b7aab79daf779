#pragma once
// Paths resolved so that only the user's own symbolic links are followed.
//
// In a folder that others may write to (a sticky /tmp, a shared folder), any
// user can plant a symbolic link under a name the program is about to read or
// write, and so make it read or replace a file of the user's elsewhere. The
// kernel guards against that in sticky folders only where the system enables
// it, and a program that reads links itself bypasses it anyway. The walk here
// goes through the path one part at a time, on descriptors, the way the
// kernel resolves it, and follows a symbolic link only when this user or root
// owns it; a link of anyone else ends the walk with EACCES. Each link is
// inspected and read through a descriptor of the link itself, and what the
// walk hands back is a descriptor of the final folder, so nothing can be
// swapped in between: whoever opens the final name opens it with O_NOFOLLOW.
//
// The page's file functions and the registry index use it (ReadOwnFile here,
// writes through ReplaceFileContent).

#include <string>

#include "Export.h"

namespace platform {

// The folder a path leads to, held open, and the last part's name in it.
class PLATFORM_API ResolvedPath {
  public:
    ResolvedPath() = default;
    ~ResolvedPath();
    ResolvedPath(const ResolvedPath&) = delete;
    ResolvedPath& operator=(const ResolvedPath&) = delete;

    // Resolves path (relative to the current folder unless absolute): every
    // folder on the way and, when the last part is a link, that link too.
    // True with Folder() and Name() set; the last part need not exist, and is
    // never a link. False with errno set: EACCES for another user's link,
    // ELOOP for too many links, ENOENT or ENOTDIR for a folder on the way.
    bool Resolve(const std::string& path);

    int Folder() const { return folder; }  // an O_PATH descriptor
    const std::string& Name() const { return name; }

  private:
    int folder = -1;
    std::string name;
};

// Reads the regular file at path whole, following only the user's own links.
// False for anything else (no such file, a folder, a pipe or a device, which
// are never opened) and for a read error; never blocks on a pipe.
PLATFORM_API bool ReadOwnFile(const std::string& path, std::string& bytes);

}  // namespace platform
