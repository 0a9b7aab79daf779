#pragma once
// One copy of the program per user: the first copy holds a lock file and
// listens on a socket beside it; a later copy finds the lock taken, asks the
// first copy to come to the front (handing over the project it was asked to
// open, if any) and exits.

#include <functional>
#include <string>

#include "Export.h"

namespace platform {

enum class InstanceResult { First, Second };

class PLATFORM_API SingleInstance {
public:
    // Takes the lock named instanceName + "__$__instance_mutex__$__" in
    // $XDG_RUNTIME_DIR (else /tmp, with the user id added to the name). The
    // first copy keeps the lock for the life of the process and starts
    // listening for "activate" on the current main context. A lock file that
    // cannot be opened at all counts as First (with a warning), so a broken
    // folder never keeps the program from starting. Calling it again in the
    // same process gives First.
    static InstanceResult Acquire(const std::wstring& instanceName);
    // Second copy: sends "activate" to the first copy, followed by a line
    // feed and project when a project is named (its full file name). Retries
    // for about a second, since the first copy may not be listening yet.
    // False when it cannot be reached.
    static bool NotifyFirstInstance(const std::string& project = std::string());
    // First copy at its end: stops listening and removes the socket and the
    // lock file. Does nothing in a copy that does not hold the lock.
    static void Release();

    // On "activate" the first copy de-iconifies and presents the application's
    // main window, then calls this observer (if any).
    static void SetActivateObserver(std::function<void()> observer);
    // After that, when the request named a project, this observer (if any)
    // gets its file name.
    static void SetProjectRequestObserver(std::function<void(const std::string& project)> observer);

    // The lock file in use after Acquire (empty before).
    static std::string LockPath();
};

}  // namespace platform
