#include "KorvoApp.h"

#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "framework/Utf8.h"
#include "host/ModuleRegistry.h"
#include "host/Project.h"
#include "host/ProjectTrust.h"
#include "host/XmlTree.h"
#include "platform/Application.h"
#include "platform/MessageBox.h"
#include "platform/PageTrust.h"
#include "platform/ProgramFile.h"
#include "platform/SingleInstance.h"
#include "platform/WebSandbox.h"
#include "platform/WebSandboxFiles.h"
#include "platform/VersionInfo.h"

// ---------------------------------------------------------------------------
// KorvoHost

KorvoHost::KorvoHost()
    : exeDirectory(platform::ProgramFile::Directory().c_str()),
      exeName(platform::ProgramFile::ExeName().c_str()) {}

KorvoHost::~KorvoHost() {
    delete project;
    project = nullptr;
    delete registry;
    registry = nullptr;
}

String KorvoHost::Start(const String& company, const String& userProject, bool trustProject) {
    // The installation's own pages (page/ and whatever else the program's
    // folder holds) may always use the script bridge.
    platform::TrustPageFolder(exeDirectory.ToUtf8());
    registry = new KorvoModuleRegistry(exeDirectory, company, exeName);
    int built = registry->BuildIndex();
    if (built != 0) {
        g_warning("The module index %s could not be written (result %d); no module is loaded.",
                  registry->IndexPath().ToUtf8().c_str(), built);
        return userProject.IsEmpty() ? String() : String(L"the index of the installed modules cannot be built.");
    }
    int read = registry->LoadIndex();
    if (read != 0) {
        g_warning("The module index %s could not be read (result %d); no module is loaded.",
                  registry->IndexPath().ToUtf8().c_str(), read);
        return userProject.IsEmpty() ? String() : String(L"the index of the installed modules cannot be read.");
    }
    project = new KorvoProject(registry, &projectPath);
    if (!userProject.IsEmpty()) return LoadUserProject(userProject, trustProject);
    String own = exeDirectory + exeName + L".prj";
    if (project->LoadProject(own)) return String();
    // A program without a project of its own name is the usual case: say so
    // only at debug level, and speak up when the fallback fails too.
    g_debug("The project %s could not be read; trying Default.prj.", own.ToUtf8().c_str());
    String fallback = exeDirectory + L"Default.prj";
    if (!project->LoadProject(fallback))
        g_warning("Neither the project %s nor %s could be read; no module is loaded.", own.ToUtf8().c_str(),
                  fallback.ToUtf8().c_str());
    return String();
}

String KorvoHost::LoadUserProject(const String& file, bool trustProject) {
    std::string name = file.ToUtf8();
    gchar* folder = g_path_get_dirname(name.c_str());
    platform::Application::Instance().SetProjectFolder((String::FromUtf8(folder) + L"/").Text());
    g_free(folder);
    // No default project stands in for the one the user asked for.
    if (!g_file_test(name.c_str(), G_FILE_TEST_EXISTS)) return L"the file does not exist.";
    if (g_file_test(name.c_str(), G_FILE_TEST_IS_DIR)) return L"it is a folder, not a file.";
    if (access(name.c_str(), R_OK) != 0) return L"the file cannot be read.";
    project->requireModules = true;
    // Before anything starts: may the project's page use the bridge?
    project->beforeStart = [&] {
        return projecttrust::Decide(name, exeDirectory.Text(), project->modules, trustProject,
                                    exeName.Text());
    };
    bool loaded = project->LoadProject(file.Text());
    project->beforeStart = nullptr;
    if (!loaded)
        return L"it is not a project file (an XML file whose root is korvo with class 0 and version 1.0).";
    switch (project->WalkResult()) {
    case 0:
        return String();
    case KorvoXmlTree::Refused:
        projectDeclined = true;
        return L"you did not trust it.";
    case 3:
        return L"one of its modules is not installed or its library cannot be loaded, or one of its elements "
               L"has no class.";
    default:
        return L"its elements are not arranged as a project's must be.";
    }
}

// ---------------------------------------------------------------------------
// KorvoApp

KorvoApp::KorvoApp() : instanceName(platform::ProgramFile::InstanceName()) {}

KorvoApp::~KorvoApp() { Shutdown(); }

bool KorvoApp::InitInstance() {
    if (!instanceName.empty() &&
        platform::SingleInstance::Acquire(instanceName) == platform::InstanceResult::Second) {
        if (!platform::SingleInstance::NotifyFirstInstance(userProject.ToUtf8()))
            g_message("Another copy of the program holds the lock but could not be reached.");
        return false;
    }
    // The web sandbox's trial run goes on while the toolkit starts.
    platform::StartWebSandboxCheck();
    auto& application = platform::Application::Instance();
    if (!application.InitToolkit()) {
        g_warning("No display could be opened.");
        exitCode = 1;
        return false;
    }
    std::wstring company = platform::VersionInfo::CompanyName();
    host = new KorvoHost();
    application.SetRegistryKey(company, host->exeName.Text());
    String failure = host->Start(String(company.c_str()), userProject, trustProject);
    if (host->projectDeclined) {
        // The user said no in the trust box: nothing more to say.
        exitCode = 1;
        return false;
    }
    if (!failure.IsEmpty()) {
        String text = String(L"The project ") + userProject + L" cannot be opened: " + failure;
        g_warning("%s", text.ToUtf8().c_str());
        platform::MessageBox(nullptr, text.Text(), host->exeName.Text(), platform::MB_ICONHAND);
        exitCode = 1;
        return false;
    }
    platform::SingleInstance::SetProjectRequestObserver(
        [this](const std::string& file) { OnProjectRequest(file); });
    return true;
}

void KorvoApp::OnProjectRequest(const std::string& file) {
    // Already in front (SingleInstance did that); one copy runs one project.
    if (host == nullptr) return;
    gchar* running = g_canonicalize_filename(host->projectPath.ToUtf8().c_str(), nullptr);
    gchar* requested = g_canonicalize_filename(file.c_str(), nullptr);
    bool same = std::strcmp(running, requested) == 0;
    g_free(running);
    g_free(requested);
    if (same) return;
    String text = String(L"This program already runs the project ") + host->projectPath +
                  L".\nClose it, then open " + String::FromUtf8(file) + L".";
    auto& application = platform::Application::Instance();
    platform::MessageBox(application.MainOrActiveWindow(), text.Text(), host->exeName.Text(),
                         platform::MB_ICONINFORMATION);
}

int KorvoApp::Main() {
    // From the start on, a termination signal ends the loop (or keeps it from
    // running) and the shutdown below still runs.
    platform::Application::Instance().QuitOnTerminationSignals();
    if (!InitInstance()) {
        Shutdown();
        return exitCode;
    }
    exitCode = platform::Application::Instance().Run();
    Shutdown();
    return exitCode;
}

void KorvoApp::Shutdown() {
    platform::SingleInstance::SetProjectRequestObserver(nullptr);
    delete host;
    host = nullptr;
    // The runtime files go last, once nothing of this copy runs.
    platform::RemoveWebSandboxFiles();
    platform::SingleInstance::Release();
}

// ---------------------------------------------------------------------------
// YonderpadApp

bool YonderpadApp::InitInstance() {
    std::wstring folder = platform::ProgramFile::Directory();
    if (!folder.empty() && folder.back() == L'/') folder.pop_back();
    std::string library = EncodeUtf8(folder + L"/" + DnssdLibraryName);
    struct stat status;
    if (stat(library.c_str(), &status) != 0 && errno == ENOENT) {
        if (platform::Application::Instance().InitToolkit())
            platform::MessageBox(nullptr, DnssdMissingMessage,
                                 platform::ProgramFile::ExeName(), platform::MB_ICONHAND);
        else
            g_warning("%s", String(DnssdMissingMessage).ToUtf8().c_str());
        exitCode = 1;
        return false;
    }
    return KorvoApp::InitInstance();
}
