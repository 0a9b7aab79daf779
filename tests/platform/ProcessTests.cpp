// Behaviour that needs a second process: the single-instance lock and the
// shell's default applications. The other process is PlatformHelper.

#include <gtest/gtest.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "platform/SingleInstance.h"
#include "support/TemporaryFolder.h"

namespace {

// A child process with its standard output readable line by line.
class Child {
public:
    Child(const std::vector<std::string>& args, const std::vector<std::string>& env) {
        std::vector<char*> argv{const_cast<char*>(PLATFORM_HELPER)};
        for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        gchar** envp = g_get_environ();
        for (auto& e : env) {
            auto eq = e.find('=');
            envp = g_environ_setenv(envp, e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), TRUE);
        }
        GError* error = nullptr;
        started = g_spawn_async_with_pipes(nullptr, argv.data(), envp, G_SPAWN_DO_NOT_REAP_CHILD,
                                           nullptr, nullptr, &pid, nullptr, &out, nullptr, &error);
        if (error) g_error_free(error);
        g_strfreev(envp);
    }
    ~Child() {
        if (started && !reaped) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (started) close(out);
    }

    // The next line of output, or "" when none came within timeoutMs.
    std::string ReadLine(int timeoutMs = 5000) {
        for (;;) {
            auto newline = pending.find('\n');
            if (newline != std::string::npos) {
                std::string line = pending.substr(0, newline);
                pending.erase(0, newline + 1);
                return line;
            }
            pollfd p{out, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0) return "";
            char buffer[256];
            ssize_t n = read(out, buffer, sizeof buffer);
            if (n <= 0) return "";
            pending.append(buffer, static_cast<size_t>(n));
        }
    }

    // Exit status, or -1 when the child did not end within timeoutMs.
    int Wait(int timeoutMs = 5000) {
        for (int waited = 0; waited <= timeoutMs; waited += 10) {
            int status;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                reaped = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            g_usleep(10 * 1000);
        }
        return -1;
    }

    bool started = false;

private:
    GPid pid = 0;
    int out = -1;
    bool reaped = false;
    std::string pending;
};

// A temporary folder whose path is text, for the child's environment.
struct TextFolder {
    korvotest::TemporaryFolder folder{"platform"};
    const std::string path = folder.path.string();
};

TEST(SingleInstanceTest, SecondCopyActivatesTheFirstAndLeaves) {
    TextFolder runtime;
    const std::vector<std::string> env{"XDG_RUNTIME_DIR=" + runtime.path};
    const std::string lock = runtime.path + "/yonderpad__$__instance_mutex__$__";
    // A socket file left behind by a copy that crashed must not stop the next.
    g_file_set_contents((lock + ".socket").c_str(), "stale", -1, nullptr);

    Child first({"instance", "yonderpad"}, env);
    ASSERT_TRUE(first.started);
    ASSERT_EQ(first.ReadLine(), "First");
    EXPECT_TRUE(g_file_test(lock.c_str(), G_FILE_TEST_EXISTS));

    Child second({"instance", "yonderpad"}, env);
    EXPECT_EQ(second.ReadLine(), "Second");
    EXPECT_EQ(second.ReadLine(), "notified");
    EXPECT_EQ(second.Wait(), 0);

    EXPECT_EQ(first.ReadLine(), "activated");
    EXPECT_EQ(first.Wait(), 0);

    // A copy started with a project hands its full name over.
    const std::string project = runtime.path + "/a folder/My Unit.prj";
    Child holder({"instance", "yonderpad"}, env);
    ASSERT_EQ(holder.ReadLine(), "First");
    Child asking({"instance", "yonderpad", project}, env);
    EXPECT_EQ(asking.ReadLine(), "Second");
    EXPECT_EQ(asking.ReadLine(), "notified");
    EXPECT_EQ(holder.ReadLine(), "activated");
    EXPECT_EQ(holder.ReadLine(), "project " + project);
    EXPECT_EQ(holder.Wait(), 0);

    // The lock ends with its process: the next copy is first again.
    Child third({"instance", "yonderpad"}, env);
    EXPECT_EQ(third.ReadLine(), "First");
    // Another name is another lock.
    Child other({"instance", "otherprogram"}, env);
    EXPECT_EQ(other.ReadLine(), "First");
}

TEST(SingleInstanceTest, GarbageOnTheSocketDoesNotActivate) {
    TextFolder runtime;
    Child first({"instance", "yonderpad"}, {"XDG_RUNTIME_DIR=" + runtime.path});
    ASSERT_EQ(first.ReadLine(), "First");
    const std::string socketPath = runtime.path + "/yonderpad__$__instance_mutex__$__.socket";
    // Words that are not "activate" are ignored, and so is a request too long
    // to hold a file name; a plain "activate" then works.
    for (const std::string& word :
         std::vector<std::string>{"activat", "activate-now", "", "ACTIVATE", std::string(4096, 'a'),
                                  "activate\n/" + std::string(PATH_MAX + 16, 'a'), "active\n/x.prj"}) {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        ASSERT_LT(socketPath.size(), sizeof address.sun_path);
        memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
        ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << word;
        EXPECT_EQ(send(fd, word.data(), word.size(), MSG_NOSIGNAL), ssize_t(word.size()));
        close(fd);
    }
    EXPECT_EQ(first.ReadLine(300), "") << "activated by a wrong word";
    Child second({"instance", "yonderpad"}, {"XDG_RUNTIME_DIR=" + runtime.path});
    EXPECT_EQ(second.ReadLine(), "Second");
    EXPECT_EQ(first.ReadLine(), "activated");
}

TEST(SingleInstanceTest, AcquiringAgainInTheSameProcessKeepsTheLock) {
    TextFolder runtime;
    g_setenv("XDG_RUNTIME_DIR", runtime.path.c_str(), TRUE);
    using platform::InstanceResult;
    using platform::SingleInstance;
    EXPECT_EQ(SingleInstance::Acquire(L"inprocess"), InstanceResult::First);
    EXPECT_EQ(SingleInstance::Acquire(L"inprocess"), InstanceResult::First);
    EXPECT_EQ(SingleInstance::LockPath(), runtime.path + "/inprocess__$__instance_mutex__$__");
    Child other({"instance", "inprocess"}, {"XDG_RUNTIME_DIR=" + runtime.path});
    EXPECT_EQ(other.ReadLine(), "Second");
    g_unsetenv("XDG_RUNTIME_DIR");
}

// The shell in a private desktop: one application that opens text files by
// touching a marker file, and nothing else.
class ShellTest : public ::testing::Test {
protected:
    TextFolder home;
    std::vector<std::string> env;
    std::string marker;

    void SetUp() override {
        std::string data = home.path + "/data", config = home.path + "/config";
        g_mkdir_with_parents((data + "/applications").c_str(), 0700);
        g_mkdir_with_parents(config.c_str(), 0700);
        marker = home.path + "/opened";
        std::string entry = "[Desktop Entry]\nType=Application\nName=Marker\nExec=/usr/bin/touch " +
                            marker + " %f\nMimeType=text/plain;\n";
        g_file_set_contents((data + "/applications/marker.desktop").c_str(), entry.c_str(), -1, nullptr);
        g_file_set_contents((config + "/mimeapps.list").c_str(),
                            "[Default Applications]\ntext/plain=marker.desktop\n", -1, nullptr);
        g_file_set_contents((home.path + "/note.txt").c_str(), "hello\n", -1, nullptr);
        // The system's shared MIME data stays, its applications do not.
        g_mkdir_with_parents((home.path + "/system").c_str(), 0700);
        symlink("/usr/share/mime", (home.path + "/system/mime").c_str());
        env = {"XDG_DATA_HOME=" + data, "XDG_CONFIG_HOME=" + config,
               "XDG_DATA_DIRS=" + home.path + "/system", "XDG_CURRENT_DESKTOP=", "DISPLAY="};
    }

    std::string Open(const std::string& file) {
        Child child({"shell", file}, env);
        std::string result = child.ReadLine();
        child.Wait();
        return result;
    }
};

TEST_F(ShellTest, ResultCodes) {
    struct Case {
        std::string file;
        std::string result;
    } cases[] = {
        {home.path + "/note.txt", "42"},
        {"file://" + home.path + "/note.txt", "42"},
        {home.path + "/missing.txt", "2"},
        {"file://" + home.path + "/missing.txt", "2"},
        {"", "2"},
        {home.path + "/system", "31"},      // a folder: no file manager here
        {"korvo-unknown-scheme://x", "5"},  // only web and mail addresses open
    };
    for (const Case& c : cases) EXPECT_EQ(Open(c.file), c.result) << "file: " << c.file;
    for (int i = 0; i < 200 && !g_file_test(marker.c_str(), G_FILE_TEST_EXISTS); ++i) g_usleep(10000);
    EXPECT_TRUE(g_file_test(marker.c_str(), G_FILE_TEST_EXISTS)) << "the text file was not opened";
}

}  // namespace
