// Settings in a GKeyFile, one file per company and program.
//
// The file is the truth: every write first takes in what another Settings
// object (or another process) saved since this one last looked, changes the
// one value and saves the whole file with g_key_file_save_to_file, which
// writes a temporary file and renames it over the old one, so an abrupt end
// leaves either the old or the new file, never half of one. Every read checks
// the file's identity (inode, size, modification time) and reloads when it
// changed, so two readers of the same file never disagree for long.
//
// Section and entry names come from the page's script and may hold anything,
// while a key file forbids brackets in group names, "=" and brackets in keys,
// control characters, leading or trailing blanks and empty names. Names are
// therefore written with such characters as %XX escapes of their UTF-8 bytes
// ("%" itself included, an empty name as a lone "%"); ordinary names such as
// "Mainframe" or "MainLeft" stay readable in the file.
//
// Section and entry names ignore case, by the system's one case rule
// (FoldCase): a name is looked up among the names already in the file, and a
// new name is written as the first write spelled it, so "Mainframe"/"MainLeft"
// and "MAINFRAME"/"mainleft" are the same value and the file keeps one line.

#include "Settings.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <climits>

#include "framework/Utf8.h"
#include "framework/String.h"

namespace platform {

namespace {

std::string EscapeName(const std::wstring& name) {
    if (name.empty()) return "%";
    // The registry stores names up to their first NUL; so do we.
    std::string bytes = EncodeUtf8(std::wstring_view(name.c_str()));
    std::string escaped;
    for (size_t i = 0; i < bytes.size(); ++i) {
        auto byte = static_cast<unsigned char>(bytes[i]);
        bool edge = i == 0 || i + 1 == bytes.size();
        bool unsafe = byte < 0x20 || byte == 0x7F || byte == '%' || byte == '[' || byte == ']' ||
                      byte == '=' || byte == '\\' || (edge && byte == ' ') || (i == 0 && byte == '#');
        if (unsafe) {
            static const char hex[] = "0123456789ABCDEF";
            escaped += '%';
            escaped += hex[byte >> 4];
            escaped += hex[byte & 15];
        } else {
            escaped += static_cast<char>(byte);
        }
    }
    return escaped;
}

std::string ConfigHome() {
    // Read on every Open rather than through GLib's cached value, so that a
    // changed XDG_CONFIG_HOME takes effect (tests point it at a temporary folder).
    const char* home = g_getenv("XDG_CONFIG_HOME");
    if (home && g_path_is_absolute(home)) return home;
    return g_get_user_config_dir();
}

// A file or folder name made from a company or program name: no separators.
std::string FileNamePart(const std::wstring& name) {
    std::string part = EncodeUtf8(std::wstring_view(name.c_str()));
    for (char& c : part) {
        if (c == '/') c = '_';
    }
    if (part.empty() || part == "." || part == "..") part = "_" + part;
    return part;
}

struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    struct timespec modified = {};
    bool operator==(const FileIdentity& other) const {
        return exists == other.exists && device == other.device && inode == other.inode &&
               size == other.size && modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec;
    }
};

FileIdentity Identify(const std::string& path) {
    FileIdentity identity;
    struct stat info;
    if (stat(path.c_str(), &info) == 0) {
        identity.exists = true;
        identity.device = info.st_dev;
        identity.inode = info.st_ino;
        identity.size = info.st_size;
        identity.modified = info.st_mtim;
    }
    return identity;
}

// The name among names (a null-terminated list) that equals escaped ignoring
// case, or escaped itself when none does.
std::string MatchName(gchar** names, const std::string& escaped) {
    std::string match = escaped;
    if (names) {
        std::wstring wanted = FoldCase(DecodeUtf8(escaped, BadUtf8::Latin1).c_str());
        for (gchar** name = names; *name; ++name) {
            if (FoldCase(DecodeUtf8(*name, BadUtf8::Latin1).c_str()) == wanted) {
                match = *name;
                break;
            }
        }
    }
    g_strfreev(names);
    return match;
}

}  // namespace

// The group and key under which (section, entry) is or will be stored.
struct Settings::Key {
    std::string group;
    std::string key;
};

Settings::Key Settings::Find(const std::wstring& section, const std::wstring& entry) const {
    Key found;
    found.group = MatchName(g_key_file_get_groups(file, nullptr), EscapeName(section));
    found.key = MatchName(g_key_file_get_keys(file, found.group.c_str(), nullptr, nullptr), EscapeName(entry));
    return found;
}

struct Settings::State {
    FileIdentity loaded;  // the file as it was when last loaded or saved
};

Settings::~Settings() {
    if (file) g_key_file_free(file);
    delete state;
}

void Settings::Open(const std::wstring& company, const std::wstring& program) {
    if (file) g_key_file_free(file);
    file = g_key_file_new();
    if (!state) state = new State;
    state->loaded = FileIdentity{};
    gchar* built = g_build_filename(ConfigHome().c_str(), FileNamePart(company).c_str(),
                                    (FileNamePart(program) + ".conf").c_str(), nullptr);
    path = built;
    g_free(built);
    Refresh();
}

void Settings::Refresh() {
    FileIdentity now = Identify(path);
    if (now == state->loaded) return;
    GKeyFile* fresh = g_key_file_new();
    GError* error = nullptr;
    if (now.exists &&
        !g_key_file_load_from_file(fresh, path.c_str(), G_KEY_FILE_KEEP_COMMENTS, &error)) {
        // Keep what we have rather than forget every setting over a bad file;
        // the next write replaces it with a sound one.
        g_warning("The settings file %s cannot be read: %s", path.c_str(), error->message);
        g_error_free(error);
        g_key_file_free(fresh);
        state->loaded = now;
        return;
    }
    g_key_file_free(file);
    file = fresh;
    state->loaded = now;
}

bool Settings::Save() {
    gchar* folder = g_path_get_dirname(path.c_str());
    int made = g_mkdir_with_parents(folder, 0700);
    g_free(folder);
    GError* error = nullptr;
    if (made != 0 || !g_key_file_save_to_file(file, path.c_str(), &error)) {
        g_warning("The settings file %s cannot be written: %s", path.c_str(),
                  error ? error->message : g_strerror(errno));
        if (error) g_error_free(error);
        return false;
    }
    state->loaded = Identify(path);
    return true;
}

std::wstring Settings::GetText(const std::wstring& section, const std::wstring& entry,
                               const std::wstring& defaultValue) {
    if (!file) return defaultValue;
    Refresh();
    Key key = Find(section, entry);
    gchar* value = g_key_file_get_string(file, key.group.c_str(), key.key.c_str(), nullptr);
    if (!value) return defaultValue;
    std::wstring text = DecodeUtf8(value, BadUtf8::Latin1);
    g_free(value);
    return text;
}

bool Settings::WriteText(const std::wstring& section, const std::wstring& entry,
                         const std::wstring& value) {
    if (!file) return false;
    Refresh();
    std::string bytes = EncodeUtf8(std::wstring_view(value.c_str()));
    Key key = Find(section, entry);
    g_key_file_set_string(file, key.group.c_str(), key.key.c_str(), bytes.c_str());
    return Save();
}

int Settings::GetInt(const std::wstring& section, const std::wstring& entry, int defaultValue) {
    if (!file) return defaultValue;
    Refresh();
    Key key = Find(section, entry);
    gchar* value = g_key_file_get_value(file, key.group.c_str(), key.key.c_str(), nullptr);
    if (!value) return defaultValue;
    // Only a whole decimal number in range is an integer; anything else
    // (a text written with WriteText, a hand-edited line) gives the default.
    char* end = nullptr;
    errno = 0;
    long parsed = std::strtol(value, &end, 10);
    bool whole = end != value && *end == '\0' && errno == 0 && parsed >= INT_MIN && parsed <= INT_MAX;
    g_free(value);
    return whole ? static_cast<int>(parsed) : defaultValue;
}

bool Settings::WriteInt(const std::wstring& section, const std::wstring& entry, int value) {
    if (!file) return false;
    Refresh();
    Key key = Find(section, entry);
    g_key_file_set_integer(file, key.group.c_str(), key.key.c_str(), value);
    return Save();
}

}  // namespace platform
