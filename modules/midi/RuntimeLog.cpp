// The library's run-time log file. Loading the library makes sure that
// "Runtime.log" exists in the current directory: it is created empty when it is
// missing and never truncated when it is there. Nothing writes to it.

#include <fcntl.h>
#include <unistd.h>

#include <string>

namespace {

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
    if (path.empty()) path = "./Runtime.log";
    version = "v22122301";
    // Read access with O_CREAT: creates an empty file, leaves an existing one
    // alone. A failure (read-only directory) is of no consequence.
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
