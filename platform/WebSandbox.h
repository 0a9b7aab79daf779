#pragma once
// Whether the web engine's process sandbox (bubblewrap) can start on this
// system. In a chroot whose root folder is not a mount point, or where the
// kernel refuses the namespaces it needs, the engine aborts the whole program
// the moment it starts its first web process; asking first lets the program
// run the pages without it instead.

#include <string>

#include "Export.h"

namespace platform {

// Starts the trial sandbox in the background (it takes 10 to 50 ms), so that a
// program can do other start-up work meanwhile. Only the first call counts.
PLATFORM_API void StartWebSandboxCheck();

// Why the sandbox cannot start here, or empty when it can. Waits for the trial
// sandbox, started here if StartWebSandboxCheck was not called; later calls
// give the first answer.
PLATFORM_API std::string WebSandboxProblem();

// True when the mount table (the text of /proc/self/mountinfo) holds a mount
// on the root folder; the sandbox needs one to make its copy of the tree.
PLATFORM_API bool MountTableHasRoot(const std::string& mountinfo);

}  // namespace platform
