#include "ProgramRun.h"

#include <fcntl.h>
#include <glib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#ifndef KORVO_LSAN_LIST
#error KORVO_LSAN_LIST must name the leak suppression list
#endif

namespace clitest {

namespace {

std::string TemporaryFile(const char* what) {
    gchar* name = nullptr;
    const int fd =
        g_file_open_tmp((std::string("korvo-cli-") + what + "-XXXXXX").c_str(), &name, nullptr);
    if (fd >= 0) close(fd);
    std::string path = name ? name : "";
    g_free(name);
    return path;
}

}  // namespace

std::string ReadFile(const std::string& path) {
    gchar* content = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(path.c_str(), &content, &length, nullptr)) return "";
    std::string text(content, length);
    g_free(content);
    return text;
}

ProgramRun::ProgramRun(const std::string& program, const std::vector<std::string>& arguments,
                       const std::map<std::string, std::string>& environment)
    : outPath(TemporaryFile("out")), errPath(TemporaryFile("err")) {
    // The environment is built before the fork: the child only calls exec.
    gchar** env = g_get_environ();
    env = g_environ_unsetenv(env, "DISPLAY");
    env = g_environ_unsetenv(env, "WAYLAND_DISPLAY");
    // A sanitized build judges leaks as the test run does, also when the test
    // runs by hand.
    if (g_environ_getenv(env, "LSAN_OPTIONS") == nullptr)
        env = g_environ_setenv(env, "LSAN_OPTIONS",
                               "suppressions=" KORVO_LSAN_LIST ":print_suppressions=0", TRUE);
    for (const auto& [name, value] : environment)
        env = value.empty() ? g_environ_unsetenv(env, name.c_str())
                            : g_environ_setenv(env, name.c_str(), value.c_str(), TRUE);
    std::vector<char*> argv = {const_cast<char*>(program.c_str())};
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int out = open(outPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    const int err = open(errPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid = fork();
    if (pid == 0) {
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execve(argv[0], argv.data(), env);
        _exit(127);
    }
    close(in);
    close(out);
    close(err);
    g_strfreev(env);
}

ProgramRun::~ProgramRun() {
    Finish(0);
    unlink(outPath.c_str());
    unlink(errPath.c_str());
}

std::string ProgramRun::Output() const {
    return ReadFile(outPath) + ReadFile(errPath);
}

bool ProgramRun::WaitFor(const std::string& text, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Output().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > end || waitpid(pid, nullptr, WNOHANG) != 0)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool ProgramRun::SignalWhen(int signal, const std::string& text, int timeoutMs) {
    if (!text.empty() && !WaitFor(text, timeoutMs)) return false;
    return pid > 0 && kill(pid, signal) == 0;
}

ProgramResult ProgramRun::Finish(int timeoutMs) {
    if (finished || pid <= 0) return result;
    finished = true;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (done == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        result.exit = -1;
    } else if (WIFEXITED(status)) {
        result.exit = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.exit = 128 + WTERMSIG(status);
    }
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
}

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::map<std::string, std::string>& environment) {
    ProgramRun run(program, arguments, environment);
    return run.Finish();
}

}  // namespace clitest
