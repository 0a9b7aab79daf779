#pragma once
// The shell's "open" verb: hands a document, a folder or a web address to the
// desktop's default application for it, and never runs a program (see
// Shell.cpp for what counts as one).

#include <functional>
#include <string>

#include "Export.h"

namespace platform {

enum : int {
    ShellOpenSucceeded = 42,  // anything above 32 means success
    ShellFileNotFound = 2,
    ShellAccessDenied = 5,  // a program, a script, or an address that is no web address
    ShellNoAssociation = 31,
};

// file: a path (relative to the current directory) or an address with a
// scheme ("https://..."). show: the window show command; the desktop decides
// how the application's window appears, so it is accepted and not used.
// Returns ShellOpenSucceeded, ShellFileNotFound, ShellAccessDenied for what it
// refuses to open, or ShellNoAssociation when no application takes the file or
// the launch fails.
PLATFORM_API int ShellOpen(const std::wstring& file, int show);

// While set, ShellOpen hands what it would open to the hook instead of the
// desktop and returns what the hook returns (tests watch what would have been
// opened); what it refuses never reaches the hook.
using ShellOpenHook = std::function<int(const std::wstring& file)>;
PLATFORM_API void SetShellOpenHook(ShellOpenHook hook);

}  // namespace platform
