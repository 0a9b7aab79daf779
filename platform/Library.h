#pragma once
// Library: loading module libraries at run time, finding their exports by name
// and unloading them, the way the host binds the modules that the registry names.
//
// Libraries are opened with RTLD_NOW | RTLD_LOCAL: every unresolved symbol is
// found at load time (a library that cannot be bound fails to load instead of
// failing later in the middle of a call), and no library's symbols become
// visible to the libraries loaded after it, so two module libraries can both
// export DeleteKorvoModule. A path without a slash is looked up in the program
// folder first, where the program's own libraries are installed, and only
// then by the dynamic loader's search; a path with a slash is opened as given.
// Failures are logged with the loader's reason and reported as null.

#include <string>

#include "Export.h"

namespace platform {

using LibraryHandle = void*;  // null: no library

class PLATFORM_API Library {
public:
    // Loads the library at path (file system bytes); null on failure.
    static LibraryHandle Load(const std::string& path);
    // The address of the export name in library, or null.
    static void* FindExport(LibraryHandle library, const std::string& name);
    // Unloads a library that Load returned; null is ignored.
    static void Free(LibraryHandle library);

    // The folder of the running program (from /proc/self/exe), ending in "/";
    // empty when it cannot be read.
    static std::string ProgramFolder();
};

}  // namespace platform
