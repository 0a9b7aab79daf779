#include "ScriptPageTest.h"

#include <fcntl.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/Application.h"
#include "platform/PageTrust.h"

// The leaks this test looks past are those of .ci/lsan.supp; one of them (the
// lower-casing of addresses inside the web view) shows in a leak's stack only
// with the full unwinder, hence the option. (The sanitizer runtime finds the
// function by name.)
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0";
}

namespace {

// Starts a private Xvfb when the test runs without a display; Xvfb picks a
// free display number itself and reports it on a pipe.
class DisplayEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == '\0') StartXvfb();
        ASSERT_TRUE(platform::Application::Instance().InitToolkit()) << "no X display";
    }
    void TearDown() override {
        if (server > 0) {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
        }
    }

private:
    void StartXvfb() {
        int pipeEnds[2];
        ASSERT_EQ(pipe(pipeEnds), 0);
        server = fork();
        ASSERT_GE(server, 0);
        if (server == 0) {
            // The server goes with the test, and keeps its chatter and the
            // test's output pipe to itself.
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, STDOUT_FILENO);
            dup2(quiet, STDERR_FILENO);
            close(pipeEnds[0]);
            std::string fd = std::to_string(pipeEnds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24",
                   "-nolisten", "tcp", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(pipeEnds[1]);
        std::string number;
        char c;
        while (read(pipeEnds[0], &c, 1) == 1 && c != '\n') number += c;
        close(pipeEnds[0]);
        ASSERT_FALSE(number.empty()) << "Xvfb did not start";
        setenv("DISPLAY", (":" + number).c_str(), 1);
    }

    pid_t server = 0;
};

[[maybe_unused]] auto* const displayEnvironment =
    ::testing::AddGlobalTestEnvironment(new DisplayEnvironment);

const char* const ProbeLibrary = R"js(
function describe(r) {
  if (r === undefined) return "undefined";
  if (r === null) return "null";
  return typeof r + ":" + String(r);
}
function probe(number, source) {
  return describe(window.external.korvoApiCall(number, eval("(" + source + ")")));
}
)js";

}  // namespace

std::string Page(const std::string& title, const std::string& script, const std::string& body) {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>" + title +
           "</title><script>" + ProbeLibrary + script + "</script></head><body>" + body +
           "</body></html>";
}

void ScriptPageTest::SetUp() {
    temporary = std::make_unique<korvotest::TemporaryFolder>("korvo-page");
    folder = temporary->path.string();
    // The pages of these tests stand for an installation's own page.
    platform::TrustPageFolder(folder);
    g_setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), TRUE);
    platform::Application::Instance().SetRegistryKey(L"YonderpadTests", L"ScriptPages");
    platform::SetMessageBoxHook([this](const platform::MessageBoxRecord& box) {
        boxes.push_back(box);
        return platform::IDOK;
    });
}

void ScriptPageTest::TearDown() {
    platform::SetMessageBoxHook(nullptr);
    platform::ForgetTrustedPageFolders();
    // Let the views that the test destroyed finish going away.
    korvotest::PumpFor(20);
    temporary.reset();
}

std::string ScriptPageTest::WritePage(const std::string& name, const std::string& html) {
    std::string path = folder + "/" + name;
    EXPECT_TRUE(g_file_set_contents(path.c_str(), html.c_str(), -1, nullptr));
    return path;
}

void ScriptPageTest::WaitForPage(platform::WebView& view) {
    auto finished = std::make_shared<bool>(false);
    view.onLoadFinished = [finished] { *finished = true; };
    EXPECT_TRUE(korvotest::PumpUntil([&] { return *finished && view.IsLoaded(); })) << "page did not load";
    view.onLoadFinished = nullptr;
}

std::vector<std::wstring> ScriptPageTest::BoxTexts() const {
    std::vector<std::wstring> texts;
    for (const auto& box : boxes) texts.push_back(box.text);
    return texts;
}
