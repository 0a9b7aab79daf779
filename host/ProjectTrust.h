#pragma once
// Whether a project the user opened may give its page the script bridge.
//
// The bridge hands a page the user's files, the settings and the desktop's
// "open" (platform/PageTrust.h). A project from elsewhere (a download, a
// colleague's share) with its page beside it would hand all that to whoever
// wrote it, so such a project is trusted only when the user says so, the way
// editors ask before they trust a downloaded workspace. Once the project was
// walked and before any of its modules starts, every page address its modules
// keep in their "Script" connector is resolved as the module will resolve it.
// When one names a file: page inside the project's folder (and not in a
// folder already trusted, such as the program's folder), a box
// names the folder and what its page may do, with Open and Cancel (Cancel is
// the default). Open trusts the folder for this run and remembers the answer
// in the settings: section TrustedProjects, entry the project file's full
// path, value the SHA-256 of its content (hex), so the same file opens without
// asking and a changed file asks again. Cancel starts nothing. A project in
// the program's folder is the installation's own and is trusted as it is.
// Tests and scripts trust a project ahead of time with --trust-project, or by
// writing its entry into the settings.

#include <string>

#include "framework/Array.h"

class KorvoModule;

namespace projecttrust {

// The settings section of the remembered answers.
inline constexpr const wchar_t* SettingsSection = L"TrustedProjects";

// SHA-256 of the file's content as lower-case hex; empty when it cannot be read.
std::string ContentDigest(const std::string& file);

// Decides for the project in projectFile (a full file name) whose modules
// were made: true when they may start (the project's folder is then trusted
// if its page needs it), false when the user declined. trustedAhead skips the
// question; caption titles the box.
bool Decide(const std::string& projectFile, const std::wstring& programFolder,
            const Array<KorvoModule*>& modules, bool trustedAhead, const std::wstring& caption);

}  // namespace projecttrust
