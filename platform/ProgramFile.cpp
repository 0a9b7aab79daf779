#include "ProgramFile.h"

#include <glib.h>

#include "framework/Utf8.h"

namespace platform {

namespace {

constexpr size_t MaxInstanceName = 255;

std::wstring FileNamePart(const std::wstring& path) {
    size_t slash = path.rfind(L'/');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::wstring ProgramFile::Path() {
    gchar* target = g_file_read_link("/proc/self/exe", nullptr);
    if (!target) return std::wstring();
    std::wstring path = DecodeUtf8(target, BadUtf8::Latin1);
    g_free(target);
    return path;
}

std::wstring ProgramFile::Directory() {
    std::wstring path = Path();
    size_t slash = path.rfind(L'/');
    if (slash == std::wstring::npos) return std::wstring();
    return path.substr(0, slash + 1);
}

std::wstring ProgramFile::ExeName() { return ExeNameOf(Path()); }

std::wstring ProgramFile::InstanceName() { return InstanceNameOf(Path()); }

std::wstring ProgramFile::ExeNameOf(const std::wstring& fileName) {
    std::wstring name = FileNamePart(fileName);
    size_t dot = name.rfind(L'.');
    // A leading dot marks a hidden file, not an extension.
    if (dot == std::wstring::npos || dot == 0) return name;
    return name.substr(0, dot);
}

std::wstring ProgramFile::InstanceNameOf(const std::wstring& fileName) {
    std::wstring lower;
    for (wchar_t c : FileNamePart(fileName)) lower.push_back(static_cast<wchar_t>(g_unichar_tolower(c)));
    std::wstring name;
    for (size_t i = 0; i < lower.size();) {
        if (lower.compare(i, 4, L".exe") == 0) {
            i += 4;
        } else {
            name.push_back(lower[i++]);
        }
    }
    if (name.size() > MaxInstanceName) name.resize(MaxInstanceName);
    return name;
}

}  // namespace platform
