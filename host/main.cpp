// The program Yonderpad. Everything it does comes from the module
// descriptions, the project file and the settings store; the only argument is
// the project to open instead of the one beside the program, which
// --trust-project lets open without asking whether to trust its page.

#include <glib.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "host/KorvoApp.h"

YonderpadApp theApp;

namespace {

constexpr const char* Usage =
    "Usage: %s [--trust-project] [PROJECT.prj]\n"
    "Opens the project file PROJECT.prj, or without it the project beside the program.\n"
    "--trust-project: trust PROJECT.prj's page with your files without asking.\n";

// A file name or file: URI as given, made a full file name against the
// current folder; empty when it names no local file.
std::string FullFileName(const char* argument) {
    std::string file = argument;
    if (g_str_has_prefix(argument, "file:")) {
        gchar* name = g_filename_from_uri(argument, nullptr, nullptr);
        file = name ? name : "";
        g_free(name);
        if (file.empty()) return file;
    }
    gchar* full = g_canonicalize_filename(file.c_str(), nullptr);
    file = full;
    g_free(full);
    return file;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf(Usage, argv[0]);
        return 0;
    }
    int first = 1;
    bool trust = argc > first && std::strcmp(argv[first], "--trust-project") == 0;
    if (trust) ++first;
    // "--" ends the options, for a project whose name starts with "-".
    bool ended = argc > first && std::strcmp(argv[first], "--") == 0;
    if (ended) ++first;
    if (argc - first > 1 || (!ended && argc - first == 1 && argv[first][0] == '-') ||
        (trust && argc - first == 0)) {
        std::fprintf(stderr, Usage, argv[0]);
        return 2;
    }
    theApp.SetTrustProject(trust);
    if (argc - first == 1) {
        std::string project = FullFileName(argv[first]);
        if (project.empty()) {
            std::fprintf(stderr, "%s: %s is not a local file.\n", argv[0], argv[first]);
            return 2;
        }
        theApp.SetUserProject(String::FromUtf8(project));
    }
    return theApp.Main();
}
