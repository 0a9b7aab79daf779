#pragma once
// The resident memory of a program and of the WebKit processes it started
// (web and network process, wherever they sit below it: the sandbox puts
// bwrap processes in between), read from /proc.

#include <sys/types.h>

#include <string>
#include <vector>

struct ProcessMemory {
    pid_t pid = 0;
    std::string name;  // the kernel's short command name
    long rssKb = 0;
};

// Every process below root, at any depth.
std::vector<pid_t> Descendants(pid_t root);

// root itself and those of its descendants whose command name starts with
// "WebKit"; processes that end while they are read are left out.
std::vector<ProcessMemory> ProgramMemory(pid_t root);
