#pragma once
// Application: the process's one application object, reachable from every
// deliverable because it lives in libKorvoPlatform.so. It runs the GTK main
// loop, knows the main and the active window, and holds the settings store.

#include <string>

#include "Export.h"
#include "Settings.h"

struct _GMainLoop;

namespace platform {

class Window;

class PLATFORM_API Application {
public:
    static Application& Instance();

    // Initialises GTK (once). Returns false when no display can be opened.
    bool InitToolkit();
    // Runs the main loop until the main window closes or Quit is called;
    // returns at once when no main window is set. Returns the exit code.
    int Run();
    // Ends Run with exitCode once the current handler returns; called before
    // Run, it makes the next Run return at once.
    void Quit(int exitCode = 0);
    bool IsRunning() const { return running; }
    // From now on SIGTERM, SIGINT and SIGHUP (logout, Ctrl+C, kill) no longer
    // end the process at once: they close any open message box and Quit(0),
    // so that Run returns and the caller's normal shutdown runs. Nothing asks
    // the page. A signal that comes before Run makes Run return at once.
    void QuitOnTerminationSignals();

    Window* MainWindow() const { return mainWindow; }
    void SetMainWindow(Window* window);
    // The window that last became active (focused), or null.
    Window* ActiveWindow() const { return activeWindow; }
    void SetActiveWindow(Window* window);
    // The main window, else the active window (what a new child attaches to).
    Window* MainOrActiveWindow() const { return mainWindow ? mainWindow : activeWindow; }
    // Forgets window wherever it is referenced (called when it is destroyed).
    void WindowDestroyed(Window* window);

    // The folder of a project the user named when starting the program
    // (ending in "/"), against which modules resolve relative file names of
    // that project; empty for the project beside the program.
    void SetProjectFolder(const std::wstring& folder) { projectFolder = folder; }
    const std::wstring& ProjectFolder() const { return projectFolder; }

    // Per-user settings for the company and program names given here.
    void SetRegistryKey(const std::wstring& company, const std::wstring& program);
    Settings& Profile() { return settings; }

private:
    Application() = default;
    Window* mainWindow = nullptr;
    Window* activeWindow = nullptr;
    Settings settings;
    std::wstring projectFolder;
    int exitCode = 0;
    bool running = false;
    bool quitPending = false;
    ::_GMainLoop* loop = nullptr;
};

}  // namespace platform
