#include "OriginPolicy.h"

#include <glib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace platform {

namespace {

int DefaultPort(const std::string& scheme) {
    if (scheme == "http" || scheme == "ws") return 80;
    if (scheme == "https" || scheme == "wss") return 443;
    return -1;
}

// Parses uri into its area; for file: the canonical path of the document
// itself is left in folder (the caller takes its folder).
AllowedArea Parse(const std::string& uri) {
    AllowedArea area;
    g_autoptr(GUri) parsed = g_uri_parse(uri.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (!parsed) return area;
    const char* scheme = g_uri_get_scheme(parsed);
    const char* host = g_uri_get_host(parsed);
    if (scheme) {
        g_autofree gchar* lower = g_ascii_strdown(scheme, -1);
        area.scheme = lower;
    }
    if (area.scheme == "file") {
        const char* path = g_uri_get_path(parsed);
        bool localHost = !host || !*host || g_ascii_strcasecmp(host, "localhost") == 0;
        if (localHost && path && path[0] == '/') {
            g_autofree gchar* canonical = g_canonicalize_filename(path, "/");
            area.folder = canonical;
            if (std::strlen(path) > 1 && path[std::strlen(path) - 1] == '/') area.folder += '/';
            area.file = true;
            area.valid = true;
        }
    } else if (host && *host) {
        g_autofree gchar* lower = g_ascii_strdown(host, -1);
        area.host = lower;
        area.port = g_uri_get_port(parsed);
        if (area.port < 0) area.port = DefaultPort(area.scheme);
        area.valid = true;
    }
    return area;
}

// The path with every symbolic link resolved, keeping a trailing '/'; empty
// when it does not exist.
std::string Resolved(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (!real && errno == ENOENT && path.size() > 1 && path.back() != '/') {
        // A missing document: its folder decides, and its load fails as usual.
        g_autofree gchar* parent = g_path_get_dirname(path.c_str());
        g_autofree gchar* name = g_path_get_basename(path.c_str());
        g_autofree char* realParent = realpath(parent, nullptr);
        std::string result;
        if (realParent) result = std::string(realParent) + (realParent[1] ? "/" : "") + name;
        return result;
    }
    if (!real) return {};
    std::string result = real;
    free(real);
    if (path.size() > 1 && path.back() == '/' && result.back() != '/') result += '/';
    return result;
}

bool HasScheme(const char* uri, std::initializer_list<const char*> schemes) {
    for (const char* scheme : schemes)
        if (g_ascii_strncasecmp(uri, scheme, std::strlen(scheme)) == 0) return true;
    return false;
}

}  // namespace

AllowedArea AreaOf(const std::string& uri) {
    AllowedArea area = Parse(uri);
    if (area.valid && area.file) {
        // The folder of the document itself: a page address that is a link
        // makes the folder of the file it points to the area.
        std::string document = Resolved(area.folder);
        if (!document.empty()) area.folder = document;
        if (area.folder.back() != '/') {
            g_autofree gchar* folder = g_path_get_dirname(area.folder.c_str());
            area.folder = folder;
            if (area.folder.back() != '/') area.folder += '/';
        }
        std::string real = Resolved(area.folder);
        if (!real.empty()) area.folder = real;
    }
    return area;
}

bool Contains(const AllowedArea& area, const std::string& uri) {
    if (!area.valid) return false;
    AllowedArea document = Parse(uri);
    if (!document.valid || document.file != area.file) return false;
    if (area.file) {
        std::string real = Resolved(document.folder);
        return !real.empty() && real.compare(0, area.folder.size(), area.folder) == 0;
    }
    return document.scheme == area.scheme && document.host == area.host && document.port == area.port;
}

bool IsLocalScheme(const char* uri) { return HasScheme(uri, {"about:", "data:", "blob:"}); }

bool IsWebAddress(const char* uri) { return HasScheme(uri, {"http:", "https:", "mailto:"}); }

}  // namespace platform
