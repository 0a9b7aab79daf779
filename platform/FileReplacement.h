#pragma once
// ReplaceFileContent: gives a file new content so that it holds either the
// old content or the whole new one, never a part.
//
// The bytes go into a new file in the target's folder, made readable by the
// user alone, which gets the target's final mode (an existing target's
// permission bits and, where the process may set it, its owner; a new file
// 0666 less the umask) and then is renamed over the target; a write, sync or
// close that fails removes the new file and leaves the target as it was. A
// path that is a symbolic link is followed, so the link stays and the file it
// points to gets the content, but only a link of the user's own or root's
// (OwnLinks.h): another user's link fails the write. Targets that are no
// regular files (devices, pipes) are written in place without waiting (one
// that takes nothing now fails the write), and so is a file whose folder does
// not let us create the new file.

#include <string>

#include "Export.h"

namespace platform {

// False when the content could not be written whole.
PLATFORM_API bool ReplaceFileContent(const std::string& path, const std::string& bytes);

}  // namespace platform
