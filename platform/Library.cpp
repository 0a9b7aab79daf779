#include "Library.h"

#include <dlfcn.h>
#include <glib.h>
#include <unistd.h>

namespace platform {

namespace {

std::string LastLoaderError() {
    const char* reason = dlerror();
    return reason ? reason : "unknown reason";
}

}  // namespace

LibraryHandle Library::Load(const std::string& path) {
    // dlopen of an empty name returns the program itself; a registry entry
    // without a path must not bind to the host's own symbols.
    if (path.empty()) {
        g_message("Cannot load a library without a file name.");
        return nullptr;
    }
    std::string file = path;
    if (path.find('/') == std::string::npos) {
        std::string folder = ProgramFolder();
        if (!folder.empty() && access((folder + path).c_str(), F_OK) == 0) file = folder + path;
    }
    dlerror();
    LibraryHandle library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        g_message("Cannot load the library %s: %s", file.c_str(), LastLoaderError().c_str());
    return library;
}

void* Library::FindExport(LibraryHandle library, const std::string& name) {
    if (library == nullptr || name.empty()) return nullptr;
    dlerror();
    void* address = dlsym(library, name.c_str());
    if (address == nullptr) g_message("Export %s not found: %s", name.c_str(), LastLoaderError().c_str());
    return address;
}

void Library::Free(LibraryHandle library) {
    if (library == nullptr) return;
    if (dlclose(library) != 0) g_message("Cannot unload a library: %s", LastLoaderError().c_str());
}

std::string Library::ProgramFolder() {
    gchar* program = g_file_read_link("/proc/self/exe", nullptr);
    if (program == nullptr) return std::string();
    gchar* folder = g_path_get_dirname(program);
    std::string result = folder;
    g_free(folder);
    g_free(program);
    if (result.empty() || result.back() != '/') result += '/';
    return result;
}

}  // namespace platform
