#pragma once
// Where a page may reach: the folder (file:) or the origin of the address the
// page was navigated to. Documents inside get window.external; loads that
// leave it are refused, by the view for navigations and by the web process
// extension for every other resource. Symbolic links are resolved before a
// path is compared, so a link inside the folder that points outside counts as
// outside.

#include <string>

namespace platform {

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
