#pragma once
// The web view's sandbox (bubblewrap, started by WebKit for each web process)
// leaves a folder per web process in $XDG_RUNTIME_DIR/.flatpak, named
// "webkit-<pid of this process>-<n>", and never removes it. A program that
// ends cleanly removes its own: nothing of it stays in the runtime folder.

#include "Export.h"

namespace platform {

// Removes the sandbox folders named after this process, and .flatpak itself
// when that leaves it empty. Call at the end, once no web view is left.
PLATFORM_API void RemoveWebSandboxFiles();

}  // namespace platform
