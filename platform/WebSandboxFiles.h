#pragma once
// The web view's sandbox (bubblewrap, started by WebKit for each web process)
// leaves a folder per web process in $XDG_RUNTIME_DIR/.flatpak, named
// "webkit-<pid of this process>-<n>", and never removes it. A program that
// ends cleanly removes its own. .flatpak itself is shared with every other
// sandboxed program of the user, which may be about to make its folder in it,
// so it stays, as do WebKit's other shared folders (webkitgtk, where the bus
// proxies of the web processes live and which WebKit empties itself).

#include "Export.h"

namespace platform {

// Removes the sandbox folders named after this process. Call at the end, once
// no web view is left.
PLATFORM_API void RemoveWebSandboxFiles();

}  // namespace platform
