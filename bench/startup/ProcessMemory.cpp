#include "ProcessMemory.h"

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

namespace {

struct ProcessEntry {
    pid_t parent = 0;
    std::string name;
};

// /proc/<pid>/stat: "pid (name) state ppid ..."; the name may hold blanks and
// parentheses, so it ends at the last ')'.
bool ReadStat(pid_t pid, ProcessEntry& entry) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(file, line)) return false;
    size_t open = line.find('('), close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return false;
    entry.name = line.substr(open + 1, close - open - 1);
    std::istringstream rest(line.substr(close + 1));
    std::string state;
    return static_cast<bool>(rest >> state >> entry.parent);
}

std::map<pid_t, ProcessEntry> AllProcesses() {
    std::map<pid_t, ProcessEntry> processes;
    DIR* proc = opendir("/proc");
    if (!proc) return processes;
    while (dirent* item = readdir(proc)) {
        char* end = nullptr;
        long pid = std::strtol(item->d_name, &end, 10);
        if (pid <= 0 || *end != '\0') continue;
        ProcessEntry entry;
        if (ReadStat(static_cast<pid_t>(pid), entry)) processes[static_cast<pid_t>(pid)] = entry;
    }
    closedir(proc);
    return processes;
}

long ResidentKb(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

}  // namespace

std::vector<pid_t> Descendants(pid_t root) {
    std::map<pid_t, ProcessEntry> processes = AllProcesses();
    std::vector<pid_t> found{root};
    // Breadth first: each pass adds the children of what was found before.
    for (size_t next = 0; next < found.size(); ++next) {
        for (const auto& [pid, entry] : processes)
            if (entry.parent == found[next]) found.push_back(pid);
    }
    found.erase(found.begin());
    return found;
}

std::vector<ProcessMemory> ProgramMemory(pid_t root) {
    std::vector<ProcessMemory> result;
    std::vector<pid_t> pids = Descendants(root);
    pids.insert(pids.begin(), root);
    for (pid_t pid : pids) {
        ProcessEntry entry;
        if (!ReadStat(pid, entry)) continue;
        if (pid != root && entry.name.rfind("WebKit", 0) != 0) continue;
        long rss = ResidentKb(pid);
        if (rss >= 0) result.push_back({pid, entry.name, rss});
    }
    return result;
}
