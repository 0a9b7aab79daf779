#pragma once
// The host program's application object and its runtime.
//
// Start-up runs in this order: the environment check of YonderpadApp (the DNS-SD
// stand-in library must lie beside the program), the single-instance lock
// (a second copy wakes the first and exits), the toolkit and the settings store
// under the company name, then KorvoHost: registry index rebuilt and read back,
// project <exeName>.prj loaded, else Default.prj. The main loop then runs until
// the main window, which a module provides, closes; without one it ends at once.
//
// A project named on the command line replaces both project files beside the
// program. It must load whole: a file that is missing, unreadable, no project,
// or whose modules cannot all be made is shown in a message box and the
// program exits with 1. Relative file names inside it (a page path) resolve
// against its own folder; "#EXEDIR#" still stands for the program's folder.
// When it lies outside the program's folder and its page lies in its own
// folder, the user is asked first whether to trust it (ProjectTrust.h); a
// project the user does not trust starts nothing and the program exits with
// 1 as well. A
// second copy started with a project hands its name to the first copy, which
// comes to the front and, when it runs another project, says so in a box:
// one copy runs one project at a time.
//
// Shutdown runs explicitly after the loop, while the platform's application
// object still exists: the project's modules are deleted through their
// libraries (children first, later siblings first), then the registry frees its
// entries and unloads the libraries, last loaded first.

#include <string>

#include "framework/String.h"

class KorvoModuleRegistry;
class KorvoProject;

// The host runtime: program facts, registry and project.
class KorvoHost {
public:
    KorvoHost();
    // Project first (its modules live in the registry's libraries), then registry.
    ~KorvoHost();
    KorvoHost(const KorvoHost&) = delete;
    KorvoHost& operator=(const KorvoHost&) = delete;

    // Builds and reads the registry, then loads the project: userProject
    // when given (a full file name), else <exeName>.prj, else Default.prj.
    // Reasons that keep the system from coming up are logged; for a project
    // the user named, the reason it could not be opened is returned (empty
    // when it loaded whole) for the caller to show. trustProject trusts the
    // user's project without asking (--trust-project).
    String Start(const String& company, const String& userProject = String(),
                 bool trustProject = false);

    String exeDirectory;  // the program's folder with a trailing "/"
    String exeName;       // the program file's name without extension
    String projectPath;   // the project file last loaded
    bool projectDeclined = false;  // the user did not trust the project named
    KorvoModuleRegistry* registry = nullptr;
    KorvoProject* project = nullptr;  // null when the registry could not be built or read

private:
    String LoadUserProject(const String& file, bool trustProject);
};

class KorvoApp {
public:
    KorvoApp();
    virtual ~KorvoApp();
    KorvoApp(const KorvoApp&) = delete;
    KorvoApp& operator=(const KorvoApp&) = delete;

    // The project to open instead of the one beside the program: a full file
    // name (main makes a relative one full). Set before Main.
    void SetUserProject(const String& file) { userProject = file; }
    // Trusts the user's project without asking (--trust-project).
    void SetTrustProject(bool trust) { trustProject = trust; }

    // Start-up; false ends the program without running the loop.
    virtual bool InitInstance();
    // Start-up, main loop and shutdown; returns the exit code.
    int Main();
    // Deletes the host (modules, registry, libraries). Safe to call twice.
    void Shutdown();

    // Names the single-instance lock: the lower-cased program file name
    // without ".exe", computed when the object is made.
    const std::wstring& InstanceName() const { return instanceName; }
    KorvoHost* Host() const { return host; }

protected:
    int exitCode = 0;

private:
    // In the first copy: a later copy asked for the project file.
    void OnProjectRequest(const std::string& file);

    std::wstring instanceName;
    String userProject;
    bool trustProject = false;
    KorvoHost* host = nullptr;
};

// The product's application: KorvoApp plus the check that the DNS-SD library,
// which the device module library links against, lies beside the program.
class YonderpadApp : public KorvoApp {
public:
    bool InitInstance() override;

    static constexpr const wchar_t* DnssdLibraryName = L"libdante_dnssd.so";
    static constexpr const wchar_t* DnssdMissingMessage =
        L"ERROR 0x66092601:\nYONDERPAD / DANTE DLL MISSING!";
};
