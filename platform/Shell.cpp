#include "Shell.h"

#include <gio/gio.h>

#include "framework/Utf8.h"

namespace platform {

namespace {
ShellOpenHook& Hook() {
    static ShellOpenHook hook;
    return hook;
}
}  // namespace

void SetShellOpenHook(ShellOpenHook hook) { Hook() = std::move(hook); }

int ShellOpen(const std::wstring& file, int /*show*/) {
    if (Hook()) {
        auto hook = Hook();  // the hook may replace itself
        return hook(file);
    }
    std::string name = EncodeUtf8(std::wstring_view(file.c_str()));
    if (name.empty()) return ShellFileNotFound;

    std::string uri;
    if (g_file_test(name.c_str(), G_FILE_TEST_EXISTS)) {
        gchar* absolute = g_canonicalize_filename(name.c_str(), nullptr);
        gchar* fileUri = g_filename_to_uri(absolute, nullptr, nullptr);
        g_free(absolute);
        if (!fileUri) return ShellFileNotFound;
        uri = fileUri;
        g_free(fileUri);
    } else {
        // Not a file here: an address with a scheme, or a file that is missing.
        gchar* scheme = g_uri_parse_scheme(name.c_str());
        bool isFileUri = g_strcmp0(scheme, "file") == 0;
        bool isAddress = scheme != nullptr;
        g_free(scheme);
        if (!isAddress) return ShellFileNotFound;
        if (isFileUri) {
            gchar* path = g_filename_from_uri(name.c_str(), nullptr, nullptr);
            bool exists = path && g_file_test(path, G_FILE_TEST_EXISTS);
            g_free(path);
            if (!exists) return ShellFileNotFound;
        }
        uri = name;
    }

    GError* error = nullptr;
    if (g_app_info_launch_default_for_uri(uri.c_str(), nullptr, &error)) return ShellOpenSucceeded;
    g_message("No application opens %s: %s", uri.c_str(), error->message);
    int result = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_NOT_FOUND) ? ShellFileNotFound
                                                                          : ShellNoAssociation;
    g_error_free(error);
    return result;
}

}  // namespace platform
