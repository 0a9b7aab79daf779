#pragma once
// Settings: per-user values by (section, entry), kept in a GKeyFile at
// $XDG_CONFIG_HOME/<company>/<program>.conf and written atomically after every
// write, so that nothing is lost when the program ends abruptly.

#include <string>

#include "Export.h"

namespace platform {

class PLATFORM_API Settings {
public:
    Settings() = default;
    ~Settings();
    // Selects the file; until then reads give the defaults and writes fail.
    void Open(const std::wstring& company, const std::wstring& program);

    int GetInt(const std::wstring& section, const std::wstring& entry, int defaultValue);
    bool WriteInt(const std::wstring& section, const std::wstring& entry, int value);
    std::wstring GetText(const std::wstring& section, const std::wstring& entry,
                         const std::wstring& defaultValue);
    bool WriteText(const std::wstring& section, const std::wstring& entry, const std::wstring& value);

    const std::string& Path() const { return path; }

private:
    std::string path;
    struct _GKeyFile* file = nullptr;
};

}  // namespace platform
