// What a page may reach: only a page in a trusted folder has the bridge,
// nothing from the network and nothing outside its folder loads or navigates,
// the content policy holds line by line, a clicked web link goes to the
// desktop's browser, only our own web processes can speak for a page, and the
// bridge survives the back/forward cache. The pages are small files in a
// temporary folder; a loopback HTTP server counts every request that gets out.

#include <gio/gio.h>
#include <glib/gstdio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "BridgeTestSupport.h"
#include "platform/Shell.h"
#include "platform/WebSandbox.h"
#include "platform/WebView.h"
#include "platform/bridge/BridgeFolder.h"
#include "platform/bridge/BridgeServer.h"
#include "platform/bridge/ScriptFrame.h"
#include "support/LoopbackServer.h"

using namespace platform;
using namespace bridge_test;

namespace {

struct GuardHost : ScriptHost {
    std::vector<int32_t> calls;
    ScriptValue ApiCall(int32_t number, const ScriptValue&) override {
        calls.push_back(number);
        return ScriptValue::Int32(number * 2);
    }
};

// Functions every page below shares: messages from frames, navigation and
// calls into native code.
const char* kCommonScript = R"(
var messages = [];
var restored = false;
window.addEventListener("message", function (e) { messages.push(String(e.data)); });
window.addEventListener("pageshow", function (e) {
  if (e.persisted) restored = true;
  if (window.external) window.external.korvoApiCall(100, []);
});
function messageList() { return messages.join(","); }
function go(url) { location.href = url; return true; }
function callNative(n) { return window.external.korvoApiCall(n, []); }
function title() { return document.title; }
function wasRestored() { return restored; }
function addFrame(src) {
  var f = document.createElement("iframe");
  f.src = src;
  document.body.appendChild(f);
  return true;
}
function startTicks(n) {
  var i = 0;
  var timer = setInterval(function () {
    window.external.korvoApiCall(77, []);
    if (++i >= n) clearInterval(timer);
  }, 10);
  return true;
}
function tellFrames(text) {
  for (var i = 0; i < frames.length; i++) frames[i].postMessage(text, "*");
  return true;
}
)";

class WebViewGuardTest : public SharedViewSuite<GuardHost> {
  protected:
    static void SetUpTestSuite() {
        if (!OpenFolder("bridge-guard")) return;
        server = new korvotest::LoopbackServer(
            "<script>parent.postMessage('remote', '*'); ran = ['remote'];"
            "document.title = 'remote:' + typeof window.external;</script>");
        std::string remote = server->Base();
        g_mkdir((folder + "/app").c_str(), 0700);
        g_mkdir((folder + "/app/sub").c_str(), 0700);
        std::string common = std::string("<script>") + kCommonScript + "</script>";
        WriteFile(folder + "/app/first.html", "<!doctype html><html><head><title>first</title>" +
                                                  common + "</head><body></body></html>");
        WriteFile(folder + "/app/second.html", "<!doctype html><html><head><title>second</title>" +
                                                   common + "</head><body></body></html>");
        // Loads of every kind, from here and from elsewhere.
        WriteFile(
            folder + "/app/loads.html",
            "<!doctype html><html><head><meta charset='utf-8'><title>loads</title>" + common +
                "<style>#inline { color: rgb(1, 2, 3); }</style>"
                "<link rel='stylesheet' href='local.css'>"
                "<link rel='stylesheet' href='" +
                remote +
                "/remote.css'>"
                "<script>var ran = [];</script>"
                "<script src='local.js'></script>"
                "<script src='" +
                remote +
                "/remote.js'></script>"
                "<script src='../outside.js'></script>"
                "<script>"
                "function colors() { return ['inline', 'local', 'remote'].map(function (id) {"
                "  return getComputedStyle(document.getElementById(id)).color; }).join('|'); }"
                "var fetched = 'pending';"
                "function tryFetch(url) { fetched = 'pending';"
                "  fetch(url).then(function () { fetched = 'loaded'; },"
                "                  function () { fetched = 'refused'; }); return true; }"
                "function fetchResult() { return fetched; }"
                "function tryWebSocket(url) { try { new WebSocket(url); } catch (e) {} return "
                "true; }"
                "function scriptsRun() { return ran.join(','); }"
                "</script></head><body>"
                "<p id='inline'>i</p><p id='local'>l</p><p id='remote'>r</p>"
                "<img src='" +
                remote +
                "/image.png'>"
                "<iframe src='" +
                remote +
                "/frame.html'></iframe>"
                "<iframe src='sub/frame.html'></iframe>"
                "</body></html>");
        // A page in a folder that nobody trusts.
        g_mkdir((folder + "/untrusted").c_str(), 0700);
        WriteFile(folder + "/untrusted/probe.html",
                  "<!doctype html><script>document.title = 'local:' + typeof window.external;"
                  "</script>");
        // Every attempt the content policy stops shows as a violation event.
        WriteFile(folder + "/app/policy.html",
                  "<!doctype html><html><head><title>policy</title>" + common +
                      "<script>var violations = [];"
                      "document.addEventListener('securitypolicyviolation', function (e) {"
                      "  violations.push(e.effectiveDirective); });"
                      "function attempt(code) { eval(code); return true; }"
                      "function violated() { return violations.join(','); }"
                      "var inlineRan = true;</script></head>"
                      "<body><button id='b' onclick='clicked = true'>b</button>"
                      "<form id='f' action='second.html'></form></body></html>");
        // A page that declares a policy of its own.
        WriteFile(folder + "/app/own-policy.html",
                  "<!doctype html><html><head><title>own</title>"
                  "<meta http-equiv='Content-Security-Policy' content=\"script-src 'none'\">" +
                      common + "</head><body></body></html>");
        WriteFile(folder + "/app/local.css", "#local { color: rgb(4, 5, 6); }");
        WriteFile(folder + "/app/local.js", "ran.push('local');");
        WriteFile(folder + "/outside.js", "ran.push('outside');");
        // A frame of our own that moves the whole window when told to.
        WriteFile(
            folder + "/app/sub/frame.html",
            "<!doctype html><script>parent.postMessage('local:' + typeof window.external, '*');"
            "window.addEventListener('message', function (e) { top.location.href = e.data; });"
            "</script>");
        // A page outside the folder, reached directly and through a link.
        WriteFile(folder + "/outside.html",
                  "<!doctype html><title>outside</title><script>"
                  "parent.postMessage('outside:' + typeof window.external, '*');</script>");
        if (symlink("../outside.html", (folder + "/app/link.html").c_str()) != 0)
            g_warning("cannot make the link: %s", g_strerror(errno));
        // A web link at a known place, for the click.
        WriteFile(folder + "/app/link-page.html",
                  "<!doctype html><html><head><title>links</title>" + common +
                      "<style>body { margin: 0 }</style></head><body>"
                      "<a id='out' href='" +
                      remote +
                      "/clicked' style='display:block; position:absolute;"
                      " left:0; top:0; width:200px; height:100px; background:#ccc'>out</a>"
                      "</body></html>");
        OpenView();
        // The page's own script has run, its load event included.
        view->onLoadFinished = [] { finishedUri = view->Uri(); };
        gtk_widget_set_size_request(view->View(), 400, 300);
    }
    static void TearDownTestSuite() {
        CloseSuite();
        delete server;
        server = nullptr;
    }
    void SetUp() override {
        if (!view) GTEST_SKIP() << "no display (DISPLAY unset or not reachable): run under Xvfb";
        SetShellOpenHook(nullptr);
    }
    void TearDown() override { SetShellOpenHook(nullptr); }

    static std::string Uri(const char* name) { return "file://" + folder + "/app/" + name; }
    static void Load(const char* name) {
        finishedUri.clear();
        view->Navigate(Uri(name));
        ASSERT_TRUE(PumpUntil([&] { return finishedUri == Uri(name); }))
            << "the page did not load: " << name;
    }
    static std::wstring Messages() { return Call(L"messageList").text; }
    // Both directions of the bridge work on the current page.
    static void ExpectBridge(const wchar_t* expectedTitle) {
        EXPECT_EQ(Call(L"title"), ScriptValue::Text(expectedTitle));
        host->calls.clear();
        EXPECT_EQ(Call(L"callNative", {ScriptValue::Int32(21)}), ScriptValue::Int32(42));
        EXPECT_EQ(host->calls, std::vector<int32_t>{21});
    }
    // Gives a refused navigation or load time to show itself, had it happened.
    static void Settle() {
        PumpUntil([] { return false; }, 600);
    }

    static inline korvotest::LoopbackServer* server = nullptr;
    static inline std::string finishedUri;  // the address whose load finished last
};

TEST_F(WebViewGuardTest, NothingFromTheNetworkOrOutsideTheFolderLoads) {
    int before = server->Requests();
    Load("loads.html");
    ASSERT_TRUE(PumpUntil([] { return Messages().find(L"local:object") != std::wstring::npos; }));
    Call(L"tryFetch", {ScriptValue::Text(DecodeLatin1(server->Base() + "/fetched"))});
    ASSERT_TRUE(PumpUntil([] { return Call(L"fetchResult").text != L"pending"; }));
    std::string socketAddress = server->Base();
    socketAddress.replace(0, 4, "ws");
    Call(L"tryWebSocket", {ScriptValue::Text(DecodeLatin1(socketAddress + "/socket"))});
    Settle();
    EXPECT_EQ(Call(L"fetchResult"), ScriptValue::Text(L"refused"));
    EXPECT_EQ(server->Requests(), before) << "a request reached the network";
    // Inline and local script and style work; remote and outside ones do not.
    EXPECT_EQ(Call(L"scriptsRun"), ScriptValue::Text(L"local"));
    EXPECT_EQ(Call(L"colors"), ScriptValue::Text(L"rgb(1, 2, 3)|rgb(4, 5, 6)|rgb(0, 0, 0)"));
    // The local frame has the bridge; the remote one never ran.
    EXPECT_EQ(Messages(), L"local:object");
    ExpectBridge(L"loads");
}

// The log lines written while kept is set (GLib takes one writer per process).
std::vector<std::string>* kept = nullptr;
GLogWriterOutput KeepMessages(GLogLevelFlags level, const GLogField* fields, gsize count,
                              gpointer) {
    for (gsize i = 0; kept && i < count; ++i)
        if (g_strcmp0(fields[i].key, "MESSAGE") == 0)
            kept->push_back(static_cast<const char*>(fields[i].value));
    return g_log_writer_default(level, fields, count, nullptr);
}

// Only a file: page inside a trusted folder gets window.external; a web page
// or a file elsewhere loads without it, its calls fail as in a browser, and
// the log says why.
TEST_F(WebViewGuardTest, OnlyPagesInATrustedFolderHaveTheBridge) {
    struct Case {
        const char* what;
        std::string address;
        std::wstring title;  // what the page reports of window.external
    } cases[] = {
        {"a web page", server->Base() + "/page.html", L"remote:undefined"},
        {"a file in a folder nobody trusts", "file://" + folder + "/untrusted/probe.html",
         L"local:undefined"},
    };
    std::vector<std::string> lines;
    static bool writerSet = false;
    if (!writerSet) g_log_set_writer_func(KeepMessages, nullptr, nullptr);
    writerSet = true;
    kept = &lines;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        lines.clear();
        view->Navigate(c.address);
        EXPECT_TRUE(PumpUntil([&] { return view->Title() == c.title; }))
            << "title: " << EncodeUtf8(view->Title());
        EXPECT_TRUE(view->IsLoaded());
        EXPECT_FALSE(view->IsBridged());
        EXPECT_EQ(view->CallFunction(L"title", {}, nullptr), E_FAIL);
        bool said = std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find(c.address) != std::string::npos &&
                   line.find("without the script bridge") != std::string::npos;
        });
        EXPECT_TRUE(said) << "the log does not say why";
    }
    kept = nullptr;
    Load("first.html");
    ExpectBridge(L"first");
}

// Each line of the content policy, tried by the page: what it forbids is
// refused by the policy itself (the violation names the line), and inline
// script runs.
TEST_F(WebViewGuardTest, TheContentPolicyHoldsLineByLine) {
    std::string remote = server->Base();
    std::string socketAddress = "ws" + remote.substr(4);
    struct Case {
        const char* what;
        std::string code;
        const char* directive;
    } cases[] = {
        {"remote script",
         "var e = document.createElement('script'); e.src = '" + remote +
             "/x.js';"
             "document.head.appendChild(e);",
         "script-src"},
        {"remote style",
         "var e = document.createElement('link'); e.rel = 'stylesheet'; e.href = '" + remote +
             "/x.css'; document.head.appendChild(e);",
         "style-src"},
        {"remote frame",
         "var e = document.createElement('iframe'); e.src = '" + remote +
             "/f.html';"
             "document.body.appendChild(e);",
         "frame-src"},
        {"remote fetch", "fetch('" + remote + "/fetched').catch(function () {});", "connect-src"},
        {"remote web socket", "try { new WebSocket('" + socketAddress + "/s'); } catch (e) {}",
         "connect-src"},
        {"plug-in content",
         "var e = document.createElement('embed'); e.src = 'local.css';"
         "document.body.appendChild(e);",
         "object-src"},
        {"a base address",
         "var e = document.createElement('base'); e.href = '" + remote +
             "/'; document.head.appendChild(e);",
         "base-uri"},
        {"a form", "document.getElementById('f').submit();", "form-action"},
    };
    int before = server->Requests();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Load("policy.html");
        EXPECT_EQ(Call(L"attempt", {ScriptValue::Text(DecodeLatin1(c.code))}),
                  ScriptValue::Bool(true));
        std::wstring expected = DecodeLatin1(c.directive);
        EXPECT_TRUE(PumpUntil([&] {
            return Call(L"violated").text.find(expected) != std::wstring::npos;
        })) << "no "
            << c.directive << " violation; seen: " << EncodeUtf8(Call(L"violated").text);
        EXPECT_EQ(view->Uri(), Uri("policy.html"));
    }
    EXPECT_EQ(server->Requests(), before) << "a request reached the network";
    // Inline script and inline handlers run.
    Load("policy.html");
    EXPECT_EQ(Call(L"eval", {ScriptValue::Text(L"inlineRan")}), ScriptValue::Bool(true));
    Call(L"attempt", {ScriptValue::Text(L"document.getElementById('b').click()")});
    EXPECT_EQ(Call(L"eval", {ScriptValue::Text(L"typeof clicked")}), ScriptValue::Text(L"boolean"));
    // A page cannot put a policy of its own in place: WebKit ignores it once
    // the view sets one (this one would have stopped every inline script).
    Load("own-policy.html");
    EXPECT_EQ(Call(L"title"), ScriptValue::Text(L"own"));
}

TEST_F(WebViewGuardTest, NavigationsStayInTheFolder) {
    struct Case {
        const char* what;
        std::string target;
        bool allowed;
    } cases[] = {
        {"a page beside it", Uri("second.html"), true},
        {"a page outside the folder", "file://" + folder + "/outside.html", false},
        {"a link out of the folder", Uri("link.html"), false},
        {"a web page", server->Base() + "/page.html", false},
    };
    // An allowed navigation arrives at its target; a refused one leaves the
    // view on the page that asked for it.
    auto expectOutcome = [](const Case& c, const char* asking) {
        if (c.allowed)
            EXPECT_TRUE(PumpUntil([&] { return finishedUri == c.target; }));
        else
            Settle();
        EXPECT_EQ(view->Uri(), c.allowed ? c.target : Uri(asking));
    };
    int before = server->Requests();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // By the page's own script...
        Load("first.html");
        Call(L"go", {ScriptValue::Text(DecodeLatin1(c.target))});
        expectOutcome(c, "first.html");
        // ...and by a frame of the page, which would move the whole window.
        Load("loads.html");
        ASSERT_TRUE(
            PumpUntil([] { return Messages().find(L"local:object") != std::wstring::npos; }));
        Call(L"tellFrames", {ScriptValue::Text(DecodeLatin1(c.target))});
        expectOutcome(c, "loads.html");
    }
    EXPECT_EQ(server->Requests(), before);
    // The window still serves its page both ways.
    ExpectBridge(L"loads");
}

TEST_F(WebViewGuardTest, AMissingPageInTheFolderIsTriedAndFails) {
    // Not refused as outside: the load is made and fails as any missing file.
    Load("first.html");
    Call(L"go", {ScriptValue::Text(DecodeLatin1(Uri("missing.html")))});
    Settle();
    EXPECT_EQ(view->Uri(), Uri("missing.html"));
}

TEST_F(WebViewGuardTest, AFrameOutsideTheFolderDoesNotLoad) {
    Load("first.html");
    for (const char* src : {"link.html", "../outside.html"})
        Call(L"addFrame", {ScriptValue::Text(DecodeLatin1(src))});
    Call(L"addFrame", {ScriptValue::Text(L"sub/frame.html")});  // loads last, as the marker
    ASSERT_TRUE(PumpUntil([] { return Messages().find(L"local:object") != std::wstring::npos; }));
    Settle();
    EXPECT_EQ(Messages(), L"local:object");
}

TEST_F(WebViewGuardTest, AClickedWebLinkOpensInTheBrowserAndThePageStays) {
    std::vector<std::wstring> opened;
    SetShellOpenHook([&](const std::wstring& file) {
        opened.push_back(file);
        return int(ShellOpenSucceeded);
    });
    Load("link-page.html");
    int before = server->Requests();
    // Script that sends the window to the web opens nothing.
    Call(L"go", {ScriptValue::Text(DecodeLatin1(server->Base() + "/scripted"))});
    Settle();
    EXPECT_TRUE(opened.empty());

    // A real click on the link, as the user makes it.
    gtk_widget_grab_focus(view->View());
    GdkWindow* window = gtk_widget_get_window(view->View());
    ASSERT_NE(window, nullptr);
    GdkDevice* pointer =
        gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_display_get_default()));
    for (GdkEventType type : {GDK_MOTION_NOTIFY, GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
        GdkEvent* event = gdk_event_new(type);
        if (type == GDK_MOTION_NOTIFY) {
            event->motion.window = GDK_WINDOW(g_object_ref(window));
            event->motion.x = event->motion.y = 20;
            event->motion.time = GDK_CURRENT_TIME;
        } else {
            event->button.window = GDK_WINDOW(g_object_ref(window));
            event->button.x = event->button.y = 20;
            event->button.button = 1;
            event->button.time = GDK_CURRENT_TIME;
            if (type == GDK_BUTTON_RELEASE) event->button.state = GDK_BUTTON1_MASK;
        }
        gdk_event_set_device(event, pointer);
        gtk_widget_event(view->View(), event);
        gdk_event_free(event);
        PumpUntil([] { return false; }, 50);
    }
    ASSERT_TRUE(PumpUntil([&] { return !opened.empty(); }, 5000)) << "the click opened nothing";
    Settle();
    EXPECT_EQ(opened, std::vector<std::wstring>{DecodeLatin1(server->Base() + "/clicked")});
    EXPECT_EQ(view->Uri(), Uri("link-page.html"));
    EXPECT_EQ(server->Requests(), before);
    ExpectBridge(L"links");
}

TEST_F(WebViewGuardTest, BackAndForwardKeepTheBridge) {
    // Each page tells native code when it is shown (pageshow), restored or not.
    auto shown = [] { return std::count(host->calls.begin(), host->calls.end(), 100); };
    auto showAndWait = [&](const std::function<void()>& action, const char* name) {
        host->calls.clear();
        finishedUri.clear();
        action();
        return PumpUntil([&] { return shown() > 0 && finishedUri == Uri(name); });
    };
    ASSERT_TRUE(showAndWait([] { view->Navigate(Uri("first.html")); }, "first.html"));
    ASSERT_TRUE(showAndWait(
        [] { Call(L"go", {ScriptValue::Text(DecodeLatin1(Uri("second.html")))}); }, "second.html"));
    ExpectBridge(L"second");
    auto* web = WEBKIT_WEB_VIEW(view->View());
    ASSERT_TRUE(showAndWait([&] { webkit_web_view_go_back(web); }, "first.html"));
    EXPECT_EQ(Call(L"wasRestored"), ScriptValue::Bool(true))
        << "the page did not come from the cache";
    ExpectBridge(L"first");
    ASSERT_TRUE(showAndWait([&] { webkit_web_view_go_forward(web); }, "second.html"));
    EXPECT_EQ(Call(L"wasRestored"), ScriptValue::Bool(true))
        << "the page did not come from the cache";
    ExpectBridge(L"second");
}

// Writes a hello for pageId with this token (or, tokenBytes 0, the page id
// alone, as a hello without a token looked) and says whether the view closed
// the connection.
bool HelloIsRefused(uint64_t pageId, const std::string& token, size_t tokenBytes) {
    std::string path = WebView::BridgeSocketPath();
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    std::string frame;
    uint32_t size = static_cast<uint32_t>(5 + 8 + tokenBytes);
    for (int i = 0; i < 4; ++i) frame.push_back(char(size >> (8 * i)));
    frame.push_back(1);  // hello
    frame.append(4, '\0');
    for (int i = 0; i < 8; ++i) frame.push_back(char(pageId >> (8 * i)));
    frame += token.substr(0, tokenBytes);
    EXPECT_EQ(write(fd, frame.data(), frame.size()), ssize_t(frame.size()));
    // An api call that a wrongly adopted connection would pass on.
    const char call[] = {10, 0, 0, 0, 3, 1, 0, 0, 0, 21, 0, 0, 0, 0};
    EXPECT_EQ(write(fd, call, sizeof call), ssize_t(sizeof call));
    bool closed = PumpUntil(
        [&] {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 0) <= 0) return false;
            char byte;
            return read(fd, &byte, 1) == 0;
        },
        3000);
    close(fd);
    return closed;
}

TEST_F(WebViewGuardTest, OnlyOurWebProcessesSpeakForAPage) {
    Load("first.html");
    uint64_t pageId = webkit_web_view_get_page_id(WEBKIT_WEB_VIEW(view->View()));
    int processBefore = view->WebProcessId();
    struct Case {
        const char* what;
        std::string token;
        size_t bytes;
    } cases[] = {
        {"no token at all", "", 0},
        {"a token of zeros", std::string(kTokenSize, '\0'), kTokenSize},
        {"a guessed token", std::string(kTokenSize, 'k'), kTokenSize},
    };
    host->calls.clear();
    for (const auto& c : cases) EXPECT_TRUE(HelloIsRefused(pageId, c.token, c.bytes)) << c.what;
    EXPECT_TRUE(host->calls.empty()) << "a stranger's call reached the host";
    EXPECT_EQ(view->WebProcessId(), processBefore);
    ExpectBridge(L"first");
}

// The web process sees the socket folder read-only: it connects, and the
// bridge works, but it cannot remove the socket or put another in its place.
TEST_F(WebViewGuardTest, TheSandboxSeesTheSocketFolderReadOnly) {
    if (!WebSandboxProblem().empty())
        GTEST_SKIP() << "the web sandbox cannot run here: " << WebSandboxProblem();
    Load("first.html");
    ExpectBridge(L"first");
    int process = view->WebProcessId();
    ASSERT_GT(process, 0);
    std::string socketFolder = WebView::BridgeSocketPath();
    socketFolder.resize(socketFolder.rfind('/'));
    gchar* table = nullptr;
    ASSERT_TRUE(g_file_get_contents(("/proc/" + std::to_string(process) + "/mountinfo").c_str(),
                                    &table, nullptr, nullptr));
    std::istringstream lines(table);
    g_free(table);
    std::string options;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string id, parent, device, root, mountPoint, mountOptions;
        if (fields >> id >> parent >> device >> root >> mountPoint >> mountOptions &&
            mountPoint == socketFolder)
            options = mountOptions;
    }
    ASSERT_FALSE(options.empty()) << "the web process does not see " << socketFolder;
    EXPECT_EQ(("," + options + ",").find(",ro,"), 0u) << options;
}

// Any process of the user can connect to the socket. One that sends a byte
// of a hello and then nothing holds up nothing: the page's calls, served from
// the main loop, keep coming while it waits, and it is closed once its hello
// is overdue.
TEST_F(WebViewGuardTest, ASilentConnectionDoesNotStallTheWindow) {
    Load("first.html");
    // Forty calls from the page's timer, 10 ms apart, served from the main
    // loop; meanwhile a peer connects and sends one byte. A window held up by
    // the peer would serve none of the calls until it gave up on the peer.
    constexpr int Ticks = 40;
    constexpr auto StallBound = std::chrono::milliseconds(BridgeServer::HelloDeadlineMs / 2);
    host->calls.clear();
    auto start = std::chrono::steady_clock::now();
    Call(L"startTicks", {ScriptValue::Int32(Ticks)});
    std::string path = WebView::BridgeSocketPath();
    int silent = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(connect(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const char firstByte = 29;  // the start of a hello's size field
    ASSERT_EQ(write(silent, &firstByte, 1), 1);
    ASSERT_TRUE(PumpUntil([] { return host->calls.size() >= size_t(Ticks); }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, StallBound)
        << "the page's calls waited on the silent connection";

    bool closed = PumpUntil(
        [&] {
            pollfd p{silent, POLLIN, 0};
            char byte;
            return poll(&p, 1, 0) > 0 && read(silent, &byte, 1) == 0;
        },
        BridgeServer::HelloDeadlineMs + 5000);
    close(silent);
    EXPECT_TRUE(closed) << "the silent connection was never closed";
    ExpectBridge(L"first");
}

TEST(BridgeFolderTest, StaleFoldersOfKilledCopiesAreRemoved) {
    gchar* made = g_dir_make_tmp("bridge-runtime-XXXXXX", nullptr);
    std::string parent = made;
    g_free(made);
    auto makeFolder = [&](const std::string& name, bool withSocket, bool listening) {
        std::string folder = parent + "/" + name;
        g_mkdir(folder.c_str(), 0700);
        if (!withSocket) return -1;
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::string path = folder + "/bridge";
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        if (listening) {
            EXPECT_EQ(listen(fd, 1), 0);
            return fd;
        }
        close(fd);  // a killed copy: the socket file stays, nobody listens
        return -1;
    };
    makeFolder("korvo-bridge-dead01", true, false);
    int live = makeFolder("korvo-bridge-live01", true, true);
    makeFolder("korvo-bridge-fresh1", false, false);  // just made by a starting copy
    makeFolder("other-dead01", true, false);          // not ours
    makeFolder("korvo-bridge-extra1", true, false);
    WriteFile(parent + "/korvo-bridge-extra1/note", "unexpected");

    EXPECT_EQ(RemoveStaleBridgeFolders(parent), 1);
    auto exists = [&](const char* name) {
        return g_file_test((parent + "/" + name).c_str(), G_FILE_TEST_EXISTS);
    };
    EXPECT_FALSE(exists("korvo-bridge-dead01"));
    EXPECT_TRUE(exists("korvo-bridge-live01"));
    EXPECT_TRUE(exists("korvo-bridge-fresh1"));
    EXPECT_TRUE(exists("other-dead01"));
    EXPECT_TRUE(exists("korvo-bridge-extra1"));
    close(live);
    RemoveTree(parent);
}

TEST(WebSandboxTest, ARootThatIsNoMountPointIsSeen) {
    struct Case {
        const char* what;
        const char* mountinfo;
        bool hasRoot;
    } cases[] = {
        {"a normal system",
         "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
         "23 22 0:5 / /dev rw,nosuid shared:2 - devtmpfs udev rw\n",
         true},
        {"a container on an overlay", "510 480 0:52 / / rw - overlay overlay rw,lowerdir=/a\n",
         true},
        {"a chroot whose root is a plain folder",
         "601 22 8:1 /srv/chroot/proc /proc rw - proc proc rw\n"
         "602 22 8:1 /srv/chroot/usr /usr ro - ext4 /dev/sda1 rw\n",
         false},
        {"a mount below the root only", "30 22 0:30 / /root rw - tmpfs tmpfs rw\n", false},
        {"nothing readable", "", false},
        {"a cut line", "22 1 8:1 /\n", false},
    };
    for (const auto& c : cases) EXPECT_EQ(MountTableHasRoot(c.mountinfo), c.hasRoot) << c.what;
    // Where the root is no mount point, the sandbox is reported as unavailable.
    gchar* table = nullptr;
    ASSERT_TRUE(g_file_get_contents("/proc/self/mountinfo", &table, nullptr, nullptr));
    bool hasRoot = MountTableHasRoot(table);
    g_free(table);
    if (!hasRoot) {
        EXPECT_NE(WebSandboxProblem(), "");
    }
    if (!WebSandboxProblem().empty())
        std::printf("web sandbox unavailable: %s\n", WebSandboxProblem().c_str());
}

}  // namespace
