#pragma once
// The private folders that hold the script bridge's socket, one per running
// copy of the program, named korvo-bridge-XXXXXX.

#include <string>

namespace platform {

// Removes this user's bridge folders under parent whose copy is gone: the
// socket in it no longer accepts connections (or the folder stayed empty for a
// while). Folders of running copies, of other users and anything unexpected
// inside a folder are left alone. Returns how many folders were removed.
int RemoveStaleBridgeFolders(const std::string& parent);

}  // namespace platform
