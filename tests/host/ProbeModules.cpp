// Probe modules for the host tests. Each module writes its life cycle into the
// file named by HOST_PROBE_LOG, one line per event, so a test can read the
// order in which the real program created, started and deleted modules and
// unloaded their libraries. The library is built twice (PROBE_LIBRARY names
// the copy) so that the order of unloading shows.
//
// Connectors a project may set:
//   "Tag"       (text, kept in the project) names the module in the log;
//   "Setting"   (text, kept) is written to the settings store at Start;
// The window probe also shows a main window and closes it when the first copy
// is asked to come to the front, or after "CloseAfterMs" (long, kept).

#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/PlugIn.h"
#include "platform/Application.h"
#include "platform/SingleInstance.h"
#include "platform/Window.h"

namespace {

void Log(const std::string& line) {
    const char* path = std::getenv("HOST_PROBE_LOG");
    if (path == nullptr) return;
    if (FILE* file = std::fopen(path, "a")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

struct UnloadRecorder {
    ~UnloadRecorder() { Log("unload " PROBE_LIBRARY); }
} unloadRecorder;

class ProbeModule : public KorvoModule {
public:
    explicit ProbeModule(const char* kind) : kind(kind) {
        connectors.Add(new KorvoTextConnector(L"Tag", nullptr, KorvoConnector::FlagPersistent, this));
        connectors.Add(
            new KorvoTextConnector(L"Setting", nullptr, KorvoConnector::FlagPersistent, this));
        connectors.Add(
            new KorvoLongConnector(L"CloseAfterMs", nullptr, KorvoConnector::FlagPersistent, this));
        Log("create " + this->kind);
    }
    ~ProbeModule() override { Log("delete " + Tag()); }

    void Start() override {
        Log("start " + Tag());
        auto& profile = platform::Application::Instance().Profile();
        Log("setting " + Narrow(profile.GetText(L"Probe", L"Value", L"(none)")));
        String setting = FindConnector(L"Setting")->GetText();
        if (!setting.IsEmpty()) profile.WriteText(L"Probe", L"Value", setting.Text());
    }

protected:
    std::string Tag() { return FindConnector(L"Tag")->GetText().ToUtf8(); }
    static std::string Narrow(const std::wstring& text) { return String(text.c_str()).ToUtf8(); }

    std::string kind;
};

class ProbeA : public ProbeModule {
public:
    ProbeA() : ProbeModule("ProbeA") {}
};

class ProbeB : public ProbeModule {
public:
    ProbeB() : ProbeModule("ProbeB") {}
};

class ProbeWindow : public ProbeModule, public platform::Window {
public:
    ProbeWindow() : ProbeModule("ProbeWindow") {}
    ~ProbeWindow() override {
        // The observer's code lives in this library, which is unloaded later.
        platform::SingleInstance::SetActivateObserver(nullptr);
        Destroy();
    }

    void Start() override {
        ProbeModule::Start();
        GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(window), "probe");
        AttachToplevel(window);
        auto& application = platform::Application::Instance();
        if (application.MainWindow() == nullptr) application.SetMainWindow(this);
        gtk_widget_show(window);
        platform::SingleInstance::SetActivateObserver([this] {
            Log("activated " + Tag());
            SetTimer(2, 0);
        });
        int32_t closeAfter = FindConnector(L"CloseAfterMs")->GetLong();
        if (closeAfter > 0) SetTimer(1, closeAfter);
    }

protected:
    void OnTimer(unsigned) override {
        if (Toplevel() != nullptr) gtk_widget_destroy(Toplevel());
    }
};

}  // namespace

KORVO_DEFINE_CREATE_MODULE(ProbeA)
KORVO_DEFINE_CREATE_MODULE(ProbeB)
KORVO_DEFINE_CREATE_MODULE(ProbeWindow)
KORVO_DEFINE_DELETE_MODULE
