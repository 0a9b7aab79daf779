#pragma once
// Facts about the running program file, read from /proc/self/exe. A program
// file has no extension here, but may be named like the Windows one
// ("Yonderpad.EXE"); the names below come out the same either way.

#include <string>

#include "Export.h"

namespace platform {

class PLATFORM_API ProgramFile {
public:
    // Full path of the program file ("" when the system does not tell).
    static std::wstring Path();
    // Its folder with a trailing "/".
    static std::wstring Directory();
    // The file name without its trailing extension, if it has one:
    // Yonderpad -> Yonderpad, Yonderpad.EXE -> Yonderpad.
    static std::wstring ExeName();
    // The file name lower-cased with every ".exe" removed, at most 255
    // characters: it names the single-instance lock.
    static std::wstring InstanceName();

    // The same rules for any file name (the last path part).
    static std::wstring ExeNameOf(const std::wstring& fileName);
    static std::wstring InstanceNameOf(const std::wstring& fileName);
};

}  // namespace platform
