#include "KorvoApp.h"

#include <glib.h>
#include <sys/stat.h>

#include <cerrno>

#include "host/ModuleRegistry.h"
#include "host/Project.h"
#include "platform/Application.h"
#include "platform/MessageBox.h"
#include "platform/ProgramFile.h"
#include "platform/SingleInstance.h"
#include "platform/WebSandbox.h"
#include "platform/WebSandboxFiles.h"
#include "platform/VersionInfo.h"

namespace {

std::string Utf8(const std::wstring& text) { return String(text.c_str()).ToUtf8(); }

}  // namespace

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

void KorvoHost::Start(const String& company) {
    registry = new KorvoModuleRegistry(exeDirectory, company, exeName);
    int built = registry->BuildIndex();
    if (built != 0) {
        g_warning("The module index %s could not be written (result %d); no module is loaded.",
                  registry->IndexPath().ToUtf8().c_str(), built);
        return;
    }
    int read = registry->LoadIndex();
    if (read != 0) {
        g_warning("The module index %s could not be read (result %d); no module is loaded.",
                  registry->IndexPath().ToUtf8().c_str(), read);
        return;
    }
    project = new KorvoProject(registry, &projectPath);
    String own = exeDirectory + exeName + L".prj";
    if (project->LoadProject(own)) return;
    // A program without a project of its own name is the usual case: say so
    // only at debug level, and speak up when the fallback fails too.
    g_debug("The project %s could not be read; trying Default.prj.", own.ToUtf8().c_str());
    String fallback = exeDirectory + L"Default.prj";
    if (!project->LoadProject(fallback))
        g_warning("Neither the project %s nor %s could be read; no module is loaded.", own.ToUtf8().c_str(),
                  fallback.ToUtf8().c_str());
}

// ---------------------------------------------------------------------------
// KorvoApp

KorvoApp::KorvoApp() : instanceName(platform::ProgramFile::InstanceName()) {}

KorvoApp::~KorvoApp() { Shutdown(); }

bool KorvoApp::InitInstance() {
    if (!instanceName.empty() &&
        platform::SingleInstance::Acquire(instanceName) == platform::InstanceResult::Second) {
        if (!platform::SingleInstance::NotifyFirstInstance())
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
    host->Start(String(company.c_str()));
    return true;
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
    std::string library = Utf8(folder + L"/" + DnssdLibraryName);
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
