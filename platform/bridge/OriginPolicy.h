#pragma once
// Where a page may reach: the folder (file:) or the origin of the address the
// page was navigated to. Loads that leave it are refused, by the view for
// navigations and by the web process extension for every other resource; the
// content policy below holds the rest. Documents inside a file: area get
// window.external when the view trusts the folder (platform/PageTrust.h).
// Symbolic links are resolved before a path is compared, so a link inside the
// folder that points outside counts as outside.

#include <string>

namespace platform {

// The content policy every page is shown under, all of it in this one place.
// The view sets it as if the server had sent it, and WebKit then ignores any
// policy the page declares itself, so a page can neither loosen nor replace
// it. It keeps a page to its own files: nothing from the network, as the
// extension also refuses every load outside the page's folder (loads that no
// request check sees, such as WebSocket, are stopped here).
inline constexpr const char* PageContentPolicy =
    // Images, fonts, media, frames and workers: the page's own files (its own
    // origin for a page that is no file), and what it makes itself.
    "default-src 'self' file: data: blob:; "
    // Script and style: the same, inline included, since installations' and
    // users' pages rely on inline script, handlers and eval.
    "script-src 'self' file: data: blob: 'unsafe-inline' 'unsafe-eval'; "
    "style-src 'self' file: data: blob: 'unsafe-inline'; "
    // fetch, XMLHttpRequest, WebSocket and EventSource: no connection out.
    "connect-src 'self' file: data: blob:; "
    // No plug-in content, no base address that moves relative loads
    // elsewhere, no form that posts anywhere.
    "object-src 'none'; "
    "base-uri 'none'; "
    "form-action 'none'";

struct AllowedArea {
    bool valid = false;  // an area that contains nothing when false
    bool file = false;
    std::string folder;  // file: canonical, symbolic links resolved, with a trailing '/'
    std::string scheme, host;
    int port = -1;
};

// The area of a page address: the folder of a file: document (of the file it
// points to, when the address is a link) or the origin of any other address.
AllowedArea AreaOf(const std::string& uri);
// True when the document at uri lies in area.
bool Contains(const AllowedArea& area, const std::string& uri);

// Addresses that never leave the page: its own blank and inline documents and
// the objects its script made.
bool IsLocalScheme(const char* uri);
// Addresses a clicked link may hand to the desktop's browser or mail program.
bool IsWebAddress(const char* uri);

}  // namespace platform
