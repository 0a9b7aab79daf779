// The page's file functions: directory listing, reading a file whole or by
// line, and writing one.
//
// Text files are read and written the way a Windows runtime's text mode does
// it, since pages and their files come from there: CR LF on disk is LF in
// script. Mode 0 is the locale's narrow encoding (bytes it cannot decode are
// taken as Latin-1, so nothing is lost), mode 1 (and any negative mode) UTF-8
// with a byte-order mark, and a write in a higher mode takes the content as
// Base64 and writes the bytes it stands for. Failures show in the result only.

#include <fnmatch.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <ctime>
#include <cwchar>

#include "JavaScriptInterface.h"
#include "ScriptArguments.h"
#include "platform/FileReplacement.h"
#include "platform/FileSearch.h"
#include "platform/OwnLinks.h"

using platform::ScriptValue;

namespace {

enum ListFlags : int32_t {
    SkipDots = 0x01,
    SkipDirectories = 0x02,
    SkipFiles = 0x04,
    ByTime = 0x08,
    Descending = 0x10,
    CountOnly = 0x20,
};

// "YYYY-MM-DD HH:MM:SS " in front of a name when listing by time.
constexpr size_t TimePrefixLength = 20;

const char* const Utf8Bom = "\xEF\xBB\xBF";

std::string FilePath(const String& path) {
    return path.ToUtf8();
}

std::string CrLfToLf(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i)
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) out += bytes[i];
    return out;
}

std::string LfToCrLf(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 16);
    for (char c : bytes) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

// The locale's narrow encoding; a byte that does not decode is Latin-1.
std::wstring FromNarrow(const std::string& bytes) {
    std::wstring out;
    std::mbstate_t state{};
    size_t i = 0;
    while (i < bytes.size()) {
        wchar_t c = 0;
        size_t used = std::mbrtowc(&c, bytes.data() + i, bytes.size() - i, &state);
        if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) {
            out += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]));
            state = std::mbstate_t{};
            ++i;
            continue;
        }
        out += c;  // used == 0: an embedded zero byte, kept
        i += used == 0 ? 1 : used;
    }
    return out;
}

// The locale's narrow encoding; a character it cannot hold becomes "?".
std::string ToNarrow(const wchar_t* text) {
    std::string out;
    std::mbstate_t state{};
    char buffer[MB_LEN_MAX];
    for (const wchar_t* c = text; *c; ++c) {
        size_t used = std::wcrtomb(buffer, *c, &state);
        if (used == static_cast<size_t>(-1)) {
            out += '?';
            state = std::mbstate_t{};
        } else {
            out.append(buffer, used);
        }
    }
    return out;
}

// Standard Base64; decoding ends at the first "=" or character outside the
// alphabet, and a last group of two or three characters gives one or two bytes.
std::string DecodeBase64(const wchar_t* text) {
    auto value = [](wchar_t c) -> int {
        if (c >= L'A' && c <= L'Z') return c - L'A';
        if (c >= L'a' && c <= L'z') return c - L'a' + 26;
        if (c >= L'0' && c <= L'9') return c - L'0' + 52;
        if (c == L'+') return 62;
        if (c == L'/') return 63;
        return -1;
    };
    std::string out;
    uint32_t group = 0;
    int count = 0;
    for (const wchar_t* c = text; *c; ++c) {
        int v = value(*c);
        if (v < 0) break;
        group = (group << 6) | static_cast<uint32_t>(v);
        if (++count == 4) {
            out += static_cast<char>(group >> 16);
            out += static_cast<char>(group >> 8);
            out += static_cast<char>(group);
            group = 0;
            count = 0;
        }
    }
    if (count == 2) out += static_cast<char>(group >> 4);
    if (count == 3) {
        out += static_cast<char>(group >> 10);
        out += static_cast<char>(group >> 2);
    }
    return out;
}

// The content of path in a read mode (0 narrow, 1 or negative UTF-8), line
// ends as LF; empty when the file cannot be read, is no regular file, or is
// reached through another user's link.
std::wstring ReadText(const String& path, int32_t mode) {
    std::string bytes;
    if (!platform::ReadOwnFile(FilePath(path), bytes)) return {};
    if (mode == 0) return FromNarrow(CrLfToLf(bytes));
    if (bytes.compare(0, 3, Utf8Bom) == 0) bytes.erase(0, 3);
    return String::FromUtf8(CrLfToLf(bytes)).Text();
}

struct ListedEntry {
    std::string name;
    bool directory = false;
    time_t modified = 0;
};

// The entries of folder that match pattern, "." and ".." included as the
// folder lists them; "*.*" matches every name, dotted or not.
std::vector<ListedEntry> ListEntries(const std::string& folder, const std::string& pattern) {
    std::vector<ListedEntry> entries;
    if (!g_file_test(folder.c_str(), G_FILE_TEST_IS_DIR)) return entries;
    std::vector<std::string> names;
    // The search leaves out "." and "..", which a folder always has.
    for (const char* dots : {".", ".."})
        if (pattern == "*.*" || fnmatch(pattern.c_str(), dots, 0) == 0) names.emplace_back(dots);
    for (std::string& name : platform::FindFiles(folder, pattern)) names.push_back(std::move(name));
    for (std::string& name : names) {
        ListedEntry entry;
        gchar* path = g_build_filename(folder.c_str(), name.c_str(), nullptr);
        GStatBuf info;
        if (g_stat(path, &info) == 0 || g_lstat(path, &info) == 0) {
            entry.directory = S_ISDIR(info.st_mode);
            entry.modified = info.st_mtime;
        }
        g_free(path);
        entry.name = std::move(name);
        entries.push_back(std::move(entry));
    }
    return entries;
}

String TimeText(time_t modified) {
    struct tm local {};
    char text[128] = "";
    if (localtime_r(&modified, &local))
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return String::FromUtf8(text);
}

}  // namespace

void JavaScriptInterface::korvoListDir(const ScriptValue& argument, ScriptValue& result) {
    ScriptArguments arguments(*this, argument, L"JavaScriptInterface::korvoListDir");
    String directory, pattern, callback;
    int32_t flags = 0;
    arguments.Text(directory) && arguments.OptionalText(pattern, L"*.*") &&
        arguments.OptionalInteger(flags, 0) &&
        arguments.OptionalText(callback, L"korvoListDirCallBack");
    if (arguments.Failed()) return;
    if (pattern.IsEmpty()) pattern = L"*.*";
    if (callback.IsEmpty()) callback = L"korvoListDirCallBack";

    // The search joins folder and pattern; a pattern may reach into a subfolder.
    std::string search = (directory + L"/" + pattern).ToUtf8();
    gchar* folder = g_path_get_dirname(search.c_str());
    gchar* match = g_path_get_basename(search.c_str());
    std::vector<ListedEntry> found = ListEntries(folder, match);
    g_free(folder);
    g_free(match);

    std::vector<String> kept;
    for (const ListedEntry& entry : found) {
        bool dots = entry.name == "." || entry.name == "..";
        if ((flags & SkipDots) && dots) continue;
        if ((flags & SkipDirectories) && entry.directory) continue;
        if ((flags & SkipFiles) && !entry.directory) continue;
        String name = String::FromUtf8(entry.name);
        kept.push_back((flags & ByTime) ? TimeText(entry.modified) + L" " + name : name);
    }
    if (flags & CountOnly) {
        result = ScriptValue::Int32(static_cast<int32_t>(std::min<size_t>(kept.size(), INT32_MAX)));
        return;
    }
    // Ordinal order of the whole texts: by time, then name, when listing by time.
    std::sort(kept.begin(), kept.end(), [flags](const String& a, const String& b) {
        int order = std::wcscmp(a.Text(), b.Text());
        return (flags & Descending) ? order > 0 : order < 0;
    });
    std::vector<ScriptValue> values;
    for (const String& entry : kept) {
        const wchar_t* text = entry.Text();
        if ((flags & ByTime) && entry.Length() >= TimePrefixLength) text += TimePrefixLength;
        values.push_back(ScriptValue::Text(text));
    }
    CallScriptWithArray(callback, values, nullptr);
    result = ScriptValue::Bool(true);
}

void JavaScriptInterface::korvoReadFile(const ScriptValue& argument, ScriptValue& result) {
    ScriptArguments arguments(*this, argument, L"JavaScriptInterface::korvoReadFile");
    String path;
    int32_t mode = 0;
    arguments.Text(path) && arguments.OptionalInteger(mode, 0);
    if (arguments.Failed()) return;
    result = ScriptValue::Text(mode > 1 ? std::wstring() : ReadText(path, mode));
}

void JavaScriptInterface::korvoReadFileLine(const ScriptValue& argument, ScriptValue& result) {
    ScriptArguments arguments(*this, argument, L"JavaScriptInterface::korvoReadFileLine");
    String path;
    int32_t line = 0, mode = 0;
    arguments.Text(path) && arguments.Integer(line) && arguments.OptionalInteger(mode, 0);
    if (arguments.Failed()) return;
    result = ScriptValue::Text(L"");
    if (mode > 1) return;
    std::wstring content = ReadText(path, mode);
    // Empty lines do not count.
    int32_t wanted = line < 0 ? 0 : line;
    int32_t index = 0;
    size_t start = 0;
    while (start <= content.size()) {
        size_t end = content.find(L'\n', start);
        if (end == std::wstring::npos) end = content.size();
        if (end > start) {
            if (index == wanted) {
                result.text = content.substr(start, end - start);
                return;
            }
            ++index;
        }
        start = end + 1;
    }
}

void JavaScriptInterface::korvoWriteFile(const ScriptValue& argument, ScriptValue& result) {
    ScriptArguments arguments(*this, argument, L"JavaScriptInterface::korvoWriteFile");
    String path, content;
    int32_t mode = 0;
    arguments.Text(path) && arguments.Text(content) && arguments.OptionalInteger(mode, 0);
    if (arguments.Failed()) return;
    std::string bytes;
    if (mode == 0)
        bytes = LfToCrLf(ToNarrow(content));
    else if (mode > 1)
        bytes = DecodeBase64(content);  // a character without a narrow form ends it, as "?" does
    else
        bytes = Utf8Bom + LfToCrLf(content.ToUtf8());
    result = ScriptValue::Bool(platform::ReplaceFileContent(FilePath(path), bytes));
}
