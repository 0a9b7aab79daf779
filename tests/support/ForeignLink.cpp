#include "support/ForeignLink.h"

#include <sys/fsuid.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korvotest {

bool CanPlantForeignLinks() {
    return geteuid() == 0;
}

bool PlantForeignLink(const std::string& target, const std::string& link) {
    pid_t child = fork();
    if (child == 0) {
        // Only system calls here: the child of a threaded process.
        setfsgid(ForeignUser);
        setfsuid(ForeignUser);
        _exit(symlink(target.c_str(), link.c_str()) == 0 ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return false;
    struct stat info {};
    return lstat(link.c_str(), &info) == 0 && S_ISLNK(info.st_mode) && info.st_uid == ForeignUser;
}

}  // namespace korvotest
