// A small program that the platform tests start as a separate process, for
// what one process cannot show: the single-instance lock between two copies,
// and the shell's default applications (GIO reads them once per process).
//
//   PlatformHelper instance <name> [project]   takes the lock; prints "First" or "Second".
//       First: waits (10 s at most) for "activate", prints "activated" and,
//              when the request named one, "project <name>"; exit 0.
//       Second: sends "activate" with the project, if given; prints
//              "notified" or "unreachable", exit 0.
//   PlatformHelper shell <file>      prints the result of ShellOpen(file).

#include <glib.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/Shell.h"
#include "platform/SingleInstance.h"
#include "framework/Utf8.h"

using namespace platform;

namespace {

int RunInstance(const char* name, const char* project) {
    if (SingleInstance::Acquire(DecodeUtf8(name, BadUtf8::Latin1)) == InstanceResult::Second) {
        std::printf("Second\n%s\n", SingleInstance::NotifyFirstInstance(project) ? "notified" : "unreachable");
        return 0;
    }
    std::string requested;
    SingleInstance::SetProjectRequestObserver([&](const std::string& file) { requested = file; });
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    bool activated = false;
    SingleInstance::SetActivateObserver([&] {
        activated = true;
        g_main_loop_quit(loop);
    });
    g_timeout_add_seconds(10, [](gpointer data) {
        g_main_loop_quit(static_cast<GMainLoop*>(data));
        return G_SOURCE_REMOVE;
    }, loop);
    std::printf("First\n");
    std::fflush(stdout);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
    std::printf(activated ? "activated\n" : "timed out\n");
    if (!requested.empty()) std::printf("project %s\n", requested.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "instance") == 0)
        return RunInstance(argv[2], argc == 4 ? argv[3] : "");
    if (argc == 3 && std::strcmp(argv[1], "shell") == 0) {
        std::printf("%d\n", ShellOpen(DecodeUtf8(argv[2], BadUtf8::Latin1), 5));
        return 0;
    }
    std::fprintf(stderr, "usage: PlatformHelper instance <name> [project] | shell <file>\n");
    return 2;
}
