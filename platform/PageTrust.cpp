#include "PageTrust.h"

#include <glib.h>

#include <cstdlib>
#include <mutex>
#include <vector>

#include "bridge/OriginPolicy.h"
#include "framework/Utf8.h"

namespace platform {

namespace {

std::mutex trustedMutex;
std::vector<std::string>& Trusted() {
    static std::vector<std::string> folders;  // canonical, ending in "/"
    return folders;
}

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

}  // namespace

std::string PageAddress(const std::wstring& address, const std::wstring& programFolder,
                        const std::wstring& projectFolder) {
    std::wstring text = address;
    const std::wstring marker = L"#EXEDIR#";
    for (size_t at = text.find(marker); at != std::wstring::npos;
         at = text.find(marker, at + programFolder.size()))
        text.replace(at, marker.size(), programFolder);
    std::string utf8 = EncodeUtf8(text);
    if (utf8.empty()) return {};
    if (g_uri_peek_scheme(utf8.c_str()) != nullptr) return utf8;
    std::string base = EncodeUtf8(projectFolder);
    g_autofree gchar* path =
        g_canonicalize_filename(utf8.c_str(), base.empty() ? nullptr : base.c_str());
    g_autofree gchar* uri = g_filename_to_uri(path, nullptr, nullptr);
    return uri ? uri : "";
}

void TrustPageFolder(const std::string& folder) {
    if (folder.empty()) return;
    std::string canonical;
    if (char* real = realpath(folder.c_str(), nullptr)) {
        canonical = real;
        free(real);
    } else {
        g_autofree gchar* plain = g_canonicalize_filename(folder.c_str(), nullptr);
        canonical = plain;
    }
    std::lock_guard<std::mutex> lock(trustedMutex);
    Trusted().push_back(WithSlash(canonical));
}

void ForgetTrustedPageFolders() {
    std::lock_guard<std::mutex> lock(trustedMutex);
    Trusted().clear();
}

bool IsTrustedPageFolder(const std::string& folder) {
    if (folder.empty() || folder.back() != '/') return false;
    std::lock_guard<std::mutex> lock(trustedMutex);
    for (const std::string& trusted : Trusted())
        if (folder.compare(0, trusted.size(), trusted) == 0) return true;
    return false;
}

std::string DocumentFolder(const std::string& uri) {
    AllowedArea area = AreaOf(uri);
    return area.valid && area.file ? area.folder : std::string();
}

}  // namespace platform
