#include "Application.h"

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <signal.h>

#include <clocale>

#include "MessageBox.h"
#include "Window.h"

namespace platform {

Application& Application::Instance() {
    static Application application;
    return application;
}

bool Application::InitToolkit() {
    static bool tried = false;
    static bool ready = false;
    if (!tried) {
        tried = true;
        // The narrow conversions of the C library follow the user's locale.
        setlocale(LC_ALL, "");
        ready = gtk_init_check(nullptr, nullptr);
        if (!ready) g_warning("The display cannot be opened; GTK is not available.");
    }
    return ready;
}

int Application::Run() {
    if (quitPending) {
        quitPending = false;
        return exitCode;
    }
    // Without a main window nothing could ever end the loop.
    if (!mainWindow || !mainWindow->Exists() || running) return exitCode;
    running = true;
    loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
    loop = nullptr;
    running = false;
    return exitCode;
}

void Application::Quit(int code) {
    exitCode = code;
    if (running)
        g_main_loop_quit(loop);
    else
        quitPending = true;
}

void Application::QuitOnTerminationSignals() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        g_unix_signal_add(
            signal,
            [](gpointer number) -> gboolean {
                g_debug("Signal %d: ending the program.", GPOINTER_TO_INT(number));
                // A box waiting for an answer would keep the loop from ending.
                CloseMessageBoxes();
                Application::Instance().Quit(0);
                return G_SOURCE_CONTINUE;
            },
            GINT_TO_POINTER(signal));
    }
}

void Application::SetMainWindow(Window* window) { mainWindow = window; }

void Application::SetActiveWindow(Window* window) { activeWindow = window; }

void Application::WindowDestroyed(Window* window) {
    if (!window) return;
    if (window == activeWindow) activeWindow = nullptr;
    if (window == mainWindow) {
        mainWindow = nullptr;
        // Closing the main window ends the program, keeping the exit code.
        if (running) g_main_loop_quit(loop);
    }
}

void Application::SetRegistryKey(const std::wstring& company, const std::wstring& program) {
    settings.Open(company, program);
}

}  // namespace platform
