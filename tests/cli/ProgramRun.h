#pragma once
// A program of the installed tree run as a person runs it from a terminal:
// its own process, no display (DISPLAY and WAYLAND_DISPLAY removed from its
// environment), standard output and error into files that the test reads
// once it ended. Several runs may go at once; each is bounded, so that a
// program that never ends fails its test instead of stopping the run.

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace clitest {

struct ProgramResult {
    int exit = -1;  // the exit code; 128 + n when signal n ended it; -1 when it had to be killed
    std::string out;
    std::string err;
};

class ProgramRun {
  public:
    // Starts program with arguments; environment adds to (or, with an empty
    // value, removes from) the test's own environment.
    ProgramRun(const std::string& program, const std::vector<std::string>& arguments,
               const std::map<std::string, std::string>& environment = {});
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    // Sends signal once the program's standard error or output holds text
    // (or at once when text is empty), waiting at most timeoutMs for it.
    bool SignalWhen(int signal, const std::string& text, int timeoutMs = BoundMs);
    // Waits until the program's standard error or output holds text.
    bool WaitFor(const std::string& text, int timeoutMs = BoundMs);
    // Waits for the end (killing the program after timeoutMs) and reads its output.
    ProgramResult Finish(int timeoutMs = BoundMs);
    // Output so far.
    std::string Output() const;

    static constexpr int BoundMs = 60000;

  private:
    pid_t pid = -1;
    std::string outPath;
    std::string errPath;
    ProgramResult result;
    bool finished = false;
};

// Runs to the end and returns the result.
ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment = {});

// Reads a whole file ("" when it cannot be read).
std::string ReadFile(const std::string& path);

}  // namespace clitest
