// The library's run-time log file. Loading the library makes sure that
// "Runtime.log" exists in the program folder (the folder of the running
// program file, where a desktop program of the designed-on platform starts):
// it is created empty when it is missing and never truncated when it is there.
// Nothing writes to it. A program folder that is read-only (a packaged
// install) sends the file to the cache folder that also holds the registry
// index, $XDG_CACHE_HOME/<company>/<program>/; the folder the user started the
// program from is never touched.

#include <fcntl.h>
#include <glib.h>
#include <unistd.h>

#include <string>

#include "platform/ProgramFile.h"
#include "framework/Utf8.h"
#include "platform/VersionInfo.h"

namespace {

// The folder for Runtime.log with a trailing "/", or "" when there is none.
std::string LogFolder() {
    std::string program = EncodeUtf8(platform::ProgramFile::Directory());
    if (program.empty()) return "";
    if (access(program.c_str(), W_OK) == 0) return program;
    const char* cache = g_getenv("XDG_CACHE_HOME");
    std::string root =
        cache != nullptr && g_path_is_absolute(cache) ? cache : g_get_user_cache_dir();
    gchar* folder = g_build_filename(
        root.c_str(), EncodeUtf8(platform::VersionInfo::CompanyName()).c_str(),
        EncodeUtf8(platform::ProgramFile::ExeName()).c_str(), nullptr);
    std::string made = folder;
    g_free(folder);
    if (g_mkdir_with_parents(made.c_str(), 0700) != 0) return "";
    return made + "/";
}

class CLogFile {
  public:
    CLogFile();
    ~CLogFile();

  private:
    std::string path;
    int file = -1;  // open only for the moment of the check
    std::string version;
};

CLogFile* currentLog = nullptr;

CLogFile::CLogFile() {
    currentLog = this;
    std::string folder = LogFolder();
    if (folder.empty()) return;
    path = folder + "Runtime.log";
    version = "v22122301";
    // Read access with O_CREAT: creates an empty file, leaves an existing one
    // alone. A failure is of no consequence.
    file = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (file >= 0) {
        ::close(file);
        file = -1;
    }
}

CLogFile::~CLogFile() {
    if (file >= 0) ::close(file);
    currentLog = nullptr;
}

CLogFile runtimeLog;

}  // namespace
