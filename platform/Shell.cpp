// The shell's "open", which a page asks for: it opens, it never runs.
//
// Web addresses (http, https, mailto) go to the desktop's application for
// them. A local file (a path or a file: address) is looked at first, by the
// content type the desktop chooses its application by: a folder opens, and a
// file opens only when that type is no program, script or desktop entry,
// whatever application the desktop keeps for such types (some run them).
// GLib counts every text type as possibly executable, since a script is text;
// of those, the text documents a page opens (plain text, HTML, XML, CSV,
// Markdown, SVG) count as documents, and every other text type (a shell,
// Python or Perl script, a desktop entry) as a program. The application is
// then chosen for the file and launched here, so the type that was checked is
// the type that chose it. Anything else (another scheme, a program) is
// refused with ShellAccessDenied and a log line.

#include "Shell.h"

#include <gio/gio.h>

#include "bridge/OriginPolicy.h"
#include "framework/Utf8.h"

namespace platform {

namespace {

ShellOpenHook& Hook() {
    static ShellOpenHook hook;
    return hook;
}

// Text types that are documents, not scripts.
constexpr const char* DocumentTextTypes[] = {
    "text/plain", "text/html", "application/xhtml+xml", "application/xml",
    "text/xml",   "text/csv",  "text/markdown",         "image/svg+xml",
};

// Types of programs and installers that GLib does not count as executable.
constexpr const char* ProgramTypes[] = {
    "application/x-desktop",       "application/x-pie-executable",
    "application/x-sharedlib",     "application/x-ms-dos-executable",
    "application/x-msdownload",    "application/x-msi",
    "application/x-java-archive",  "application/vnd.debian.binary-package",
    "application/x-rpm",           "application/vnd.flatpak",
    "application/vnd.flatpak.ref", "application/vnd.flatpak.repo",
};

bool IsDocument(const char* type) {
    if (g_content_type_is_a(type, "inode/directory")) return true;
    for (const char* program : ProgramTypes)
        if (g_content_type_is_a(type, program)) return false;
    if (!g_content_type_can_be_executable(type)) return true;
    for (const char* document : DocumentTextTypes)
        if (g_content_type_equals(type, document)) return true;
    return false;
}

int Refuse(const std::string& what, const char* why) {
    g_message("Shell: refused to open %s: %s", what.c_str(), why);
    return ShellAccessDenied;
}

int Launched(bool launched, GError* error, const std::string& what) {
    if (launched) return ShellOpenSucceeded;
    g_message("No application opens %s: %s", what.c_str(), error ? error->message : "unknown");
    int result = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_NOT_FOUND) ? ShellFileNotFound
                                                                          : ShellNoAssociation;
    if (error) g_error_free(error);
    return result;
}

int OpenFile(const std::wstring& file, const std::string& path) {
    if (!g_file_test(path.c_str(), G_FILE_TEST_EXISTS)) return ShellFileNotFound;
    g_autofree gchar* absolute = g_canonicalize_filename(path.c_str(), nullptr);
    g_autoptr(GFile) target = g_file_new_for_path(absolute);
    g_autoptr(GFileInfo) info = g_file_query_info(target, G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                                  G_FILE_QUERY_INFO_NONE, nullptr, nullptr);
    const char* type = info ? g_file_info_get_content_type(info) : nullptr;
    if (type == nullptr) return Refuse(absolute, "its content type is unknown");
    if (!IsDocument(type)) {
        std::string why = std::string("it is ") + type + ", which a desktop may run as a program";
        return Refuse(absolute, why.c_str());
    }
    if (Hook()) {
        auto hook = Hook();  // the hook may replace itself
        return hook(file);
    }
    GError* error = nullptr;
    g_autoptr(GAppInfo) application = g_file_query_default_handler(target, nullptr, &error);
    if (application == nullptr) return Launched(false, error, absolute);
    GList files = {target, nullptr, nullptr};
    return Launched(g_app_info_launch(application, &files, nullptr, &error), error, absolute);
}

}  // namespace

void SetShellOpenHook(ShellOpenHook hook) {
    Hook() = std::move(hook);
}

int ShellOpen(const std::wstring& file, int /*show*/) {
    std::string name = EncodeUtf8(std::wstring_view(file.c_str()));
    if (name.empty()) return ShellFileNotFound;
    g_autofree gchar* scheme = g_uri_parse_scheme(name.c_str());
    if (scheme == nullptr) return OpenFile(file, name);
    if (g_ascii_strcasecmp(scheme, "file") == 0) {
        g_autofree gchar* path = g_filename_from_uri(name.c_str(), nullptr, nullptr);
        return path ? OpenFile(file, path) : ShellFileNotFound;
    }
    if (!IsWebAddress(name.c_str())) return Refuse(name, "only web and mail addresses open");
    if (Hook()) {
        auto hook = Hook();
        return hook(file);
    }
    GError* error = nullptr;
    return Launched(g_app_info_launch_default_for_uri(name.c_str(), nullptr, &error), error, name);
}

}  // namespace platform
