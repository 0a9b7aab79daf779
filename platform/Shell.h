#pragma once
// The shell's "open" verb: hands a document (or an address) to the desktop's
// default application for its type.

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

}  // namespace platform
