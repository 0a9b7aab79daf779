#pragma once
// The shell's "open" verb: hands a document (or an address) to the desktop's
// default application for its type.

#include <functional>
#include <string>

#include "Export.h"

namespace platform {

enum : int {
    ShellOpenSucceeded = 42,     // anything above 32 means success
    ShellFileNotFound = 2,
    ShellNoAssociation = 31,
};

// file: a path (relative to the current directory) or an address with a
// scheme ("https://..."). show: the window show command; the desktop decides
// how the application's window appears, so it is accepted and not used.
// Returns ShellOpenSucceeded, ShellFileNotFound, or ShellNoAssociation when no
// application takes the file or the launch fails.
PLATFORM_API int ShellOpen(const std::wstring& file, int show);

// While set, ShellOpen hands its file to the hook instead of the desktop and
// returns what the hook returns (tests watch what would have been opened).
using ShellOpenHook = std::function<int(const std::wstring& file)>;
PLATFORM_API void SetShellOpenHook(ShellOpenHook hook);

}  // namespace platform
