#include "TerminalSession.h"

#include <glib-unix.h>
#include <glib.h>
#include <signal.h>

#include "host/ModuleRegistry.h"
#include "host/Project.h"
#include "platform/Application.h"
#include "platform/ProgramFile.h"
#include "platform/VersionInfo.h"
#include "terminal/UnitCommand.h"

namespace terminal {

namespace {

// The index and the user's description folder are the program's: the
// terminal reads the same descriptions and writes the same index.
constexpr const wchar_t* HostProgramName = L"Yonderpad";
constexpr const wchar_t* ProjectFileName = L"yonderpad-units.prj";

// The terminal module among the modules of the loaded project.
UnitTerminal* FindTerminal(KorvoModuleTreeItem* item) {
    if (item == nullptr) return nullptr;
    if (item->module != nullptr && item->className == UnitTerminal::ClassName)
        return UnitTerminal::Of(item->module);
    for (KorvoModuleTreeItem* child : item->children)
        if (UnitTerminal* terminal = FindTerminal(child)) return terminal;
    return nullptr;
}

// Whether some module besides the terminal was made: the device module.
bool HasOtherModule(KorvoModuleTreeItem* item) {
    if (item == nullptr) return false;
    if (item->module != nullptr && item->className != UnitTerminal::ClassName) return true;
    for (KorvoModuleTreeItem* child : item->children)
        if (HasOtherModule(child)) return true;
    return false;
}

}  // namespace

int RunInTerminal(UnitCommand& command) {
    const String folder(platform::ProgramFile::Directory().c_str());
    KorvoModuleRegistry registry(folder, String(platform::VersionInfo::CompanyName().c_str()),
                                 HostProgramName);
    if (registry.BuildIndex() != KorvoModuleRegistry::Success ||
        registry.LoadIndex() != KorvoModuleRegistry::Success) {
        std::fprintf(
            stderr,
            "yonderpad-units: the index of the installed modules (%s) cannot be built or read.\n",
            registry.IndexPath().ToUtf8().c_str());
        return ExitFailure;
    }
    registry.AddProgramModule(UnitTerminal::ModuleName, UnitTerminal::ClassName,
                              UnitTerminal::Create, UnitTerminal::Delete);

    String projectPath;
    int code = ExitFailure;
    {
        KorvoProject project(&registry, &projectPath);
        project.requireModules = true;
        const String file = folder + ProjectFileName;
        const bool read = project.LoadProject(file.Text());
        UnitTerminal* terminal = FindTerminal(project.root);
        if (!read || project.WalkResult() != 0 || terminal == nullptr ||
            !HasOtherModule(project.root) || !terminal->Exists()) {
            std::fprintf(
                stderr,
                "yonderpad-units: the project %s could not be loaded whole: the device module "
                "(libTannevaleMidi.so and its description in Repository/) must be installed beside "
                "the program.\n",
                file.ToUtf8().c_str());
            return ExitFailure;
        }
        terminal->SetListener(&command);
        command.Begin(*terminal);

        guint signals[3];
        int n = 0;
        for (int signal : {SIGINT, SIGTERM, SIGHUP})
            signals[n++] = g_unix_signal_add(
                signal,
                [](gpointer data) -> gboolean {
                    auto* running = static_cast<UnitCommand*>(data);
                    platform::Application::Instance().Quit(running->OnSignal());
                    return G_SOURCE_CONTINUE;
                },
                &command);
        code = platform::Application::Instance().Run();
        for (guint source : signals) g_source_remove(source);
        command.End();
        terminal->SetListener(nullptr);
    }
    return code;
}

}  // namespace terminal
