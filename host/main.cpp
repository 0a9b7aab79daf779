// The program Yonderpad. Everything it does comes from the module
// descriptions, the project file and the settings store; the only argument is
// the project to open instead of the one beside the program.

#include <glib.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "host/KorvoApp.h"

YonderpadApp theApp;

namespace {

constexpr const char* Usage =
    "Usage: %s [PROJECT.prj]\n"
    "Opens the project file PROJECT.prj, or without it the project beside the program.\n";

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
    // "--" ends the options, for a project whose name starts with "-".
    int first = argc > 1 && std::strcmp(argv[1], "--") == 0 ? 2 : 1;
    if (argc - first > 1 || (first == 1 && argc == 2 && argv[1][0] == '-')) {
        std::fprintf(stderr, Usage, argv[0]);
        return 2;
    }
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
