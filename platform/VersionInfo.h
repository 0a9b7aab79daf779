#pragma once
// The program's version facts. Only the company name is used: it names the
// folder of the settings file. The platform library carries the build's
// company name (CMake option KORVO_COMPANY); a program may set its own.

#include <string>

#include "Export.h"

namespace platform {

class PLATFORM_API VersionInfo {
public:
    // The name set last, else the build's company name.
    static std::wstring CompanyName();
    static void SetCompanyName(const std::wstring& name);
};

}  // namespace platform
