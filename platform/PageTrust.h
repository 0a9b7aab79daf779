#pragma once
// Which pages may use the script bridge.
//
// The bridge hands a page the user's files, the settings and the desktop's
// "open", so it serves only pages the user has reason to trust: a page gets
// window.external only when its document is a file: document inside one of
// the trusted page folders, symbolic links resolved (a link inside that leads
// out counts as outside). The program trusts, at start, the installation's
// own pages: the program's folder, which holds page/ and the projects beside
// the program. The folder of a project the user opened from elsewhere is
// trusted only once the user said so (host/ProjectTrust.h). Pages anywhere
// else, and every http:, https: or other page, still load, but without the
// bridge: their calls to window.external fail as they would in a browser.

#include <string>

#include "Export.h"

namespace platform {

// The address of a page as a project gives it: "#EXEDIR#" stands for the
// program's folder (ending in "/"); an address without a scheme is a file
// path, relative to projectFolder (or, when that is empty, to the current
// folder), returned as a file: URI; an address with a scheme is kept.
PLATFORM_API std::string PageAddress(const std::wstring& address, const std::wstring& programFolder,
                                     const std::wstring& projectFolder);

// Trusts the file: documents inside folder (and its subfolders) with the
// bridge. The folder is taken with its symbolic links resolved.
PLATFORM_API void TrustPageFolder(const std::string& folder);
// Forgets every trusted folder (tests).
PLATFORM_API void ForgetTrustedPageFolders();
// True when folder (canonical, links resolved, ending in "/") lies inside a
// trusted page folder.
PLATFORM_API bool IsTrustedPageFolder(const std::string& folder);
// The folder of the file: document at uri, canonical with its links resolved
// and ending in "/"; empty for any other address.
PLATFORM_API std::string DocumentFolder(const std::string& uri);

}  // namespace platform
