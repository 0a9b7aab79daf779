#pragma once
// Settings: per-user values by (section, entry), kept in a GKeyFile at
// $XDG_CONFIG_HOME/<company>/<program>.conf and written atomically after every
// write, so that nothing is lost when the program ends abruptly. Section and
// entry names ignore case.

#include <string>

#include "Export.h"

struct _GKeyFile;

namespace platform {

class PLATFORM_API Settings {
public:
    Settings() = default;
    ~Settings();
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;
    // Selects the file; until then reads give the defaults and writes fail.
    // The file and its folder are created by the first write.
    void Open(const std::wstring& company, const std::wstring& program);

    // A value that is not a whole decimal number reads as the default.
    int GetInt(const std::wstring& section, const std::wstring& entry, int defaultValue);
    bool WriteInt(const std::wstring& section, const std::wstring& entry, int value);
    std::wstring GetText(const std::wstring& section, const std::wstring& entry,
                         const std::wstring& defaultValue);
    bool WriteText(const std::wstring& section, const std::wstring& entry, const std::wstring& value);

    const std::string& Path() const { return path; }

private:
    struct State;
    struct Key;
    Key Find(const std::wstring& section, const std::wstring& entry) const;
    void Refresh();  // reloads when the file changed since it was last seen
    bool Save();
    std::string path;
    ::_GKeyFile* file = nullptr;
    State* state = nullptr;
};

}  // namespace platform
