// WebView: the user-interface end of the script bridge.
//
// WebKit runs each page in a web process and offers only asynchronous
// messages, so the synchronous bridge is our own (ScriptChannel). The process
// keeps one WebKitWebContext for all views. When that context starts a web
// process it loads libKorvoWebExtension.so from the webext folder beside
// libKorvoPlatform.so and hands it the path of a Unix socket that lives in a
// private directory (mode 0700, added to the web-process sandbox). The
// extension connects once per page and says hello with the page id; the id
// matches webkit_web_view_get_page_id of exactly one view, which takes the
// connection over. Every web process gets its own random token with the socket
// path and must repeat it in its hello, so no other process of the user can
// take a page's place; a connection replaces a view's live one only when it
// comes from a web process started after the one that holds it (the old one
// died, or a navigation moved the page into a new process).
//
// Only the allowed area is ever loaded: navigations that leave it are refused
// here (a link the user clicks to a web address goes to the desktop's browser
// instead), and the extension refuses every resource load that leaves it
// (scripts, styles, frames, fetches), asking here with the same rule. Calls
// from the page are served only while the view's current document lies in it.
//
// Calls into script are refused with E_FAIL until the current document exists
// and lies in the allowed area. It exists once the web process asked whether
// the main frame's new document may have window.external: the extension asks
// when the document's window object is cleared, after the navigation
// committed and before any of the page's own script runs. That question is
// the notice to go by, not load-changed: WebKit's notices reach this process
// over its own connection and may come after the page has already called in
// over ours (load-finished comes even after the page's load event). A load
// that finishes without that question (no bridge) counts from then on. A
// web process that dies fails the calls in flight (end of file on the socket),
// and the view then loads its page again. A wait for the page is bounded (see
// kDefaultWaitTimeoutMs); a page that let it run out counts as unresponsive and
// further calls fail at once until the page is heard from again.
//
// The extension also asks, for every new document, whether that document may
// have window.external; the answer is given here from the address last passed
// to Navigate, so there is no window in which a navigation and the answer can
// disagree.

#include "WebView.h"

#include <dlfcn.h>
#include <glib-unix.h>
#include <glib/gstdio.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "BridgeFolder.h"
#include "ScriptChannel.h"
#include "ScriptDialog.h"
#include "Shell.h"
#include "WebSandbox.h"

namespace platform {

ScriptHost::~ScriptHost() = default;
void ScriptHost::Test(const std::wstring&, const std::wstring&) {}
void ScriptHost::SetVar(const std::wstring&) {}
std::wstring ScriptHost::GetVar() { return {}; }
void ScriptHost::SetFunction(int32_t) {}
int32_t ScriptHost::GetFunction() { return 0; }

namespace {

std::wstring Wide(const char* utf8) {
    std::wstring out;
    if (utf8 && !Utf8ToWide(utf8, std::strlen(utf8), out)) {
        gchar* valid = g_utf8_make_valid(utf8, -1);
        Utf8ToWide(valid, std::strlen(valid), out);
        g_free(valid);
    }
    return out;
}

// Where documents may use the bridge: a folder (file:) or an origin.
struct AllowedArea {
    bool valid = false;
    bool file = false;
    std::string folder;  // canonical, with a trailing '/'
    std::string scheme, host;
    int port = -1;
};

int DefaultPort(const std::string& scheme) {
    if (scheme == "http" || scheme == "ws") return 80;
    if (scheme == "https" || scheme == "wss") return 443;
    return -1;
}

// Parses uri into its area; for file: the canonical path of the document
// itself is left in folder (the caller takes its folder).
AllowedArea Parse(const std::string& uri) {
    AllowedArea area;
    GUri* parsed = g_uri_parse(uri.c_str(), G_URI_FLAGS_NONE, nullptr);
    if (!parsed) return area;
    const char* scheme = g_uri_get_scheme(parsed);
    const char* host = g_uri_get_host(parsed);
    if (scheme) {
        gchar* lower = g_ascii_strdown(scheme, -1);
        area.scheme = lower;
        g_free(lower);
    }
    if (area.scheme == "file") {
        const char* path = g_uri_get_path(parsed);
        bool localHost = !host || !*host || g_ascii_strcasecmp(host, "localhost") == 0;
        if (localHost && path && path[0] == '/') {
            gchar* canonical = g_canonicalize_filename(path, "/");
            area.folder = canonical;
            g_free(canonical);
            if (std::strlen(path) > 1 && path[std::strlen(path) - 1] == '/') area.folder += '/';
            area.file = true;
            area.valid = true;
        }
    } else if (host && *host) {
        gchar* lower = g_ascii_strdown(host, -1);
        area.host = lower;
        g_free(lower);
        area.port = g_uri_get_port(parsed);
        if (area.port < 0) area.port = DefaultPort(area.scheme);
        area.valid = true;
    }
    g_uri_unref(parsed);
    return area;
}

// The path with every symbolic link resolved, keeping a trailing '/'; empty
// when it does not exist. A link inside the folder that points outside must
// count as outside.
std::string Resolved(const std::string& path) {
    char* real = realpath(path.c_str(), nullptr);
    if (!real && errno == ENOENT && path.size() > 1 && path.back() != '/') {
        // A missing document: its folder decides, and its load fails as usual.
        gchar* parent = g_path_get_dirname(path.c_str());
        gchar* name = g_path_get_basename(path.c_str());
        char* realParent = realpath(parent, nullptr);
        std::string result;
        if (realParent) result = std::string(realParent) + (realParent[1] ? "/" : "") + name;
        free(realParent);
        g_free(parent);
        g_free(name);
        return result;
    }
    if (!real) return {};
    std::string result = real;
    free(real);
    if (path.size() > 1 && path.back() == '/' && result.back() != '/') result += '/';
    return result;
}

AllowedArea AreaOf(const std::string& uri) {
    AllowedArea area = Parse(uri);
    if (area.valid && area.file) {
        // The folder of the document itself: a page address that is a link
        // makes the folder of the file it points to the area.
        std::string document = Resolved(area.folder);
        if (!document.empty()) area.folder = document;
        if (area.folder.back() != '/') {
            gchar* folder = g_path_get_dirname(area.folder.c_str());
            area.folder = folder;
            g_free(folder);
            if (area.folder.back() != '/') area.folder += '/';
        }
        std::string real = Resolved(area.folder);
        if (!real.empty()) area.folder = real;
    }
    return area;
}

bool Contains(const AllowedArea& area, const std::string& uri) {
    if (!area.valid) return false;
    AllowedArea document = Parse(uri);
    if (!document.valid || document.file != area.file) return false;
    if (area.file) {
        std::string real = Resolved(document.folder);
        return !real.empty() && real.compare(0, area.folder.size(), area.folder) == 0;
    }
    return document.scheme == area.scheme && document.host == area.host && document.port == area.port;
}

// Addresses that never leave the page: its own blank and inline documents and
// the objects its script made.
bool IsLocalScheme(const char* uri) {
    for (const char* scheme : {"about:", "data:", "blob:"})
        if (g_ascii_strncasecmp(uri, scheme, std::strlen(scheme)) == 0) return true;
    return false;
}

// Addresses a clicked link may hand to the desktop's browser or mail program.
bool IsWebAddress(const char* uri) {
    for (const char* scheme : {"http:", "https:", "mailto:"})
        if (g_ascii_strncasecmp(uri, scheme, std::strlen(scheme)) == 0) return true;
    return false;
}

}  // namespace

struct WebView::Impl : std::enable_shared_from_this<WebView::Impl> {
    WebView* owner = nullptr;
    ScriptHost* host = nullptr;
    WebKitWebView* view = nullptr;
    GtkWidget* offscreen = nullptr;
    Window* dialogOwner = nullptr;
    std::string uri;
    AllowedArea area;
    bool loaded = false;
    bool loadFailed = false;
    bool windowCleared = false;  // the current navigation's main document asked for its window
    bool unresponsive = false;
    int timeoutMs = kDefaultWaitTimeoutMs;
    unsigned reloadId = 0;
    std::shared_ptr<ScriptChannel> channel;
    int processId = 0;
    // Which web process (in order of start) the channel came from.
    size_t channelGeneration = 0;

    bool CurrentDocumentAllowed() const {
        const char* current = webkit_web_view_get_uri(view);
        return current && Contains(area, current);
    }
    std::wstring Caption() const {
        std::wstring title = Wide(webkit_web_view_get_title(view));
        if (title.empty()) title = Wide(g_get_application_name());
        return title;
    }
    bool MayLoad(const char* address) const {
        return address && (IsLocalScheme(address) || Contains(area, address));
    }
    void Serve(const ScriptFrame& request, ScriptFrame& reply);
    void DocumentReady();
    void ForgetDocument() {
        loaded = false;
        windowCleared = false;
    }
    void ServeHost(const ScriptFrame& request, ScriptFrame& reply);
    ScriptStatus Call(ScriptFrame& request, ScriptValue* result);
};

namespace {

// The process's one web context with its bridge socket.
class Bridge {
public:
    static Bridge& Get() {
        static Bridge* bridge = new Bridge;  // lives until exit; the socket is removed atexit
        return *bridge;
    }

    WebKitWebContext* context = nullptr;
    std::vector<WebView::Impl*> views;
    std::string socketPath;

private:
    Bridge();
    static void OnInitializeExtensions(WebKitWebContext* context, gpointer self);
    static gboolean OnConnection(gint fd, GIOCondition, gpointer self);
    void Adopt(int fd, int processId);
    // Start order of the web process that was given token, or -1 for none.
    long Generation(const std::string& token) const;

    std::string folder;
    std::string extensionFolder;
    // One per web process started, in order.
    std::vector<std::string> tokens;
    int listenFd = -1;
    std::vector<std::shared_ptr<ScriptChannel>> connections;
};

std::string ExtensionFolder() {
    // The extension sits in webext/ next to the library that holds this code.
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ExtensionFolder), &info) && info.dli_fname) {
        gchar* dir = g_path_get_dirname(info.dli_fname);
        gchar* path = g_build_filename(dir, "webext", nullptr);
        std::string result = path;
        g_free(dir);
        g_free(path);
        return result;
    }
    return "webext";
}

Bridge::Bridge() {
    extensionFolder = ExtensionFolder();
    // A private folder for the socket: only this user can reach it.
    const char* runtime = g_getenv("XDG_RUNTIME_DIR");
    gchar* made = nullptr;
    // Copies that were killed left their folders behind.
    if (runtime) RemoveStaleBridgeFolders(runtime);
    RemoveStaleBridgeFolders(g_get_tmp_dir());
    if (runtime && g_file_test(runtime, G_FILE_TEST_IS_DIR)) {
        gchar* pattern = g_build_filename(runtime, "korvo-bridge-XXXXXX", nullptr);
        made = g_mkdtemp_full(pattern, 0700);
        if (!made) g_free(pattern);
    }
    if (!made) made = g_dir_make_tmp("korvo-bridge-XXXXXX", nullptr);
    if (made) {
        g_chmod(made, 0700);
        folder = made;
        g_free(made);
        socketPath = folder + "/bridge";
    }
    context = webkit_web_context_new();
    if (!socketPath.empty()) {
        listenFd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        bool fits = socketPath.size() < sizeof address.sun_path;
        if (fits) std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
        if (listenFd < 0 || !fits ||
            bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(listenFd, 16) != 0) {
            g_warning("Script bridge: cannot listen on %s: %s; pages get no bridge",
                      socketPath.c_str(), fits ? g_strerror(errno) : "path too long");
            if (listenFd >= 0) close(listenFd);
            listenFd = -1;
        } else {
            g_unix_fd_add(listenFd, G_IO_IN, &Bridge::OnConnection, this);
            static std::string removeSocket, removeFolder;
            removeSocket = socketPath;
            removeFolder = folder;
            atexit([] {
                g_unlink(removeSocket.c_str());
                g_rmdir(removeFolder.c_str());
            });
        }
    } else {
        g_warning("Script bridge: cannot make a private folder for the socket; pages get no bridge");
    }
    // The web processes run sandboxed: they see the extension folder (read
    // only; WebKit does not mount it by itself) and the socket folder. Paths
    // must be given before the first web process starts, that is here. Where
    // the sandbox cannot start, WebKit would abort the program at the first
    // page: the pages then run without it (the bridge still serves only the
    // page's own folder or origin).
    std::string sandboxProblem = WebSandboxProblem();
    if (sandboxProblem.empty()) {
        webkit_web_context_set_sandbox_enabled(context, TRUE);
        if (g_file_test(extensionFolder.c_str(), G_FILE_TEST_IS_DIR))
            webkit_web_context_add_path_to_sandbox(context, extensionFolder.c_str(), TRUE);
        if (!folder.empty()) webkit_web_context_add_path_to_sandbox(context, folder.c_str(), FALSE);
    } else {
        g_warning("Web view: the web process sandbox cannot start here (%s); web pages run "
                  "without it",
                  sandboxProblem.c_str());
        webkit_web_context_set_sandbox_enabled(context, FALSE);
    }
    g_signal_connect(context, "initialize-web-extensions", G_CALLBACK(&Bridge::OnInitializeExtensions),
                     this);
}

void Bridge::OnInitializeExtensions(WebKitWebContext* context, gpointer data) {
    auto* self = static_cast<Bridge*>(data);
    // Called once for every web process about to start: each gets a token of
    // its own.
    std::string token(kTokenSize, '\0');
    if (getrandom(token.data(), token.size(), 0) != static_cast<ssize_t>(token.size())) {
        g_warning("Script bridge: no random token for a new web process; its pages get no bridge");
        token.clear();
    }
    self->tokens.push_back(token);
    auto* hex = static_cast<gchar*>(g_malloc(token.size() * 2 + 1));
    for (size_t i = 0; i < token.size(); ++i)
        g_snprintf(hex + 2 * i, 3, "%02x", static_cast<unsigned char>(token[i]));
    hex[token.size() * 2] = '\0';
    webkit_web_context_set_web_extensions_directory(context, self->extensionFolder.c_str());
    webkit_web_context_set_web_extensions_initialization_user_data(
        context, g_variant_new("(ss)", self->socketPath.c_str(), hex));
    g_free(hex);
}

long Bridge::Generation(const std::string& token) const {
    if (token.size() != kTokenSize) return -1;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const std::string& issued = tokens[i];
        if (issued.size() != kTokenSize) continue;
        unsigned char difference = 0;
        for (size_t k = 0; k < kTokenSize; ++k) difference |= issued[k] ^ token[k];
        if (difference == 0) return static_cast<long>(i);
    }
    return -1;
}

gboolean Bridge::OnConnection(gint fd, GIOCondition, gpointer data) {
    auto* self = static_cast<Bridge*>(data);
    for (;;) {
        int client = accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) break;
        // Only our own user's processes can reach the folder; check anyway.
        ucred peer{};
        socklen_t size = sizeof peer;
        if (getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != getuid()) {
            g_warning("Script bridge: refused a connection from another user");
            close(client);
            continue;
        }
        self->Adopt(client, peer.pid);
    }
    return G_SOURCE_CONTINUE;
}

void Bridge::Adopt(int fd, int processId) {
    auto channel = ScriptChannel::Create(fd);
    // The view this connection serves, known once the hello arrives.
    auto served = std::make_shared<std::weak_ptr<WebView::Impl>>();
    std::weak_ptr<ScriptChannel> weakChannel = channel;
    channel->notify = [this, served, weakChannel, processId](const ScriptFrame& hello) {
        auto channel = weakChannel.lock();
        if (!channel || !served->expired()) return;
        long generation = Generation(hello.token);
        if (generation < 0) {
            g_warning("Script bridge: refused a hello without a valid token (process %d)", processId);
            channel->Close();
            return;
        }
        for (auto* impl : views) {
            if (webkit_web_view_get_page_id(impl->view) != hello.pageId) continue;
            auto& live = impl->channel;
            if (live && live != channel && live->IsOpen()) {
                // Only a web process started later may take a live page's
                // place, or any one when the holder is gone.
                bool holderAlive = kill(impl->processId, 0) == 0 || errno != ESRCH;
                if (static_cast<size_t>(generation) <= impl->channelGeneration && holderAlive) {
                    g_warning("Script bridge: refused a second connection for page %llu from "
                              "process %d; page keeps its bridge",
                              static_cast<unsigned long long>(hello.pageId), processId);
                    channel->Close();
                    return;
                }
                live->Close();
            }
            impl->channel = channel;
            impl->channelGeneration = static_cast<size_t>(generation);
            impl->processId = processId;
            impl->unresponsive = false;
            *served = impl->weak_from_this();
            return;
        }
        g_warning("Script bridge: hello from page %llu, which belongs to no view; closing",
                  static_cast<unsigned long long>(hello.pageId));
        channel->Close();
    };
    channel->serve = [served](const ScriptFrame& request, ScriptFrame& reply) {
        if (auto impl = served->lock()) impl->Serve(request, reply);
        else if (request.kind == FrameKind::DocumentQuery) reply.values[0] = ScriptValue::Bool(false);
    };
    channel->onActivity = [served] {
        if (auto impl = served->lock()) impl->unresponsive = false;
    };
    channel->onClosed = [this, weakChannel] {
        auto closing = weakChannel.lock();
        connections.erase(std::remove(connections.begin(), connections.end(), closing),
                          connections.end());
    };
    connections.push_back(channel);
    channel->StartWatch();
}

}  // namespace

void WebView::Impl::ServeHost(const ScriptFrame& request, ScriptFrame& reply) {
    ScriptValue& result = reply.values[0];
    const ScriptValue& argument = request.values.empty() ? ScriptValue() : request.values[0];
    if (!host) return;
    switch (request.kind) {
    case FrameKind::ApiCall: result = host->ApiCall(request.number, argument); break;
    case FrameKind::PropertyGet:
        if (request.selector == static_cast<uint8_t>(ScriptProperty::Var))
            result = ScriptValue::Text(host->GetVar());
        else
            result = ScriptValue::Int32(host->GetFunction());
        break;
    case FrameKind::PropertySet:
        if (request.selector == static_cast<uint8_t>(ScriptProperty::Var))
            host->SetVar(argument.kind == ScriptValue::Kind::Text ? argument.text : std::wstring());
        else
            host->SetFunction(argument.kind == ScriptValue::Kind::Int32 ? argument.intValue : 0);
        break;
    case FrameKind::Test: host->Test(request.name, request.text); break;
    default: break;
    }
}

void WebView::Impl::Serve(const ScriptFrame& request, ScriptFrame& reply) {
    auto self = shared_from_this();  // the view may be destroyed by a handler
    reply.number = S_OK;
    ScriptValue& result = reply.values[0];
    switch (request.kind) {
    case FrameKind::DocumentQuery: {
        std::string document = WideToUtf8(request.name);
        result = ScriptValue::Bool(Contains(area, document));
        const char* current = webkit_web_view_get_uri(view);
        if (document == uri || (current && document == current)) {
            windowCleared = true;
            DocumentReady();
        }
        break;
    }
    case FrameKind::ApiCall:
    case FrameKind::PropertyGet:
    case FrameKind::PropertySet:
    case FrameKind::Test:
        // Whatever holds the connection, only an allowed document reaches the host.
        if (!CurrentDocumentAllowed()) {
            reply.number = E_FAIL;
            const char* current = webkit_web_view_get_uri(view);
            g_warning("Script bridge: refused a call from the page: its document %s may not use "
                      "the bridge",
                      current ? current : "(none)");
            break;
        }
        ServeHost(request, reply);
        break;
    case FrameKind::ScriptDialog:
        switch (static_cast<ScriptDialogKind>(request.selector)) {
        case ScriptDialogKind::Alert: ScriptAlert(dialogOwner, Caption(), request.name); break;
        case ScriptDialogKind::Confirm:
            result = ScriptValue::Bool(ScriptConfirm(dialogOwner, Caption(), request.name));
            break;
        case ScriptDialogKind::Prompt:
            if (auto text = PromptBox(dialogOwner, Caption(), request.name, request.text))
                result = ScriptValue::Text(*text);
            else
                result = ScriptValue::Null();
            break;
        }
        break;
    default:
        reply.number = E_FAIL;
        g_warning("Script bridge: the page sent a request of kind %u, which pages may not send",
                  static_cast<unsigned>(request.kind));
        break;
    }
}

ScriptStatus WebView::Impl::Call(ScriptFrame& request, ScriptValue* result) {
    auto self = shared_from_this();
    if (!owner || !loaded || !channel || !channel->IsOpen() || !CurrentDocumentAllowed())
        return E_FAIL;
    if (unresponsive) return E_FAIL;
    auto used = channel;
    ScriptFrame reply;
    switch (used->Request(request, reply, timeoutMs)) {
    case ScriptChannel::Result::Ok:
        if (result && !reply.values.empty()) *result = std::move(reply.values[0]);
        return reply.number;
    case ScriptChannel::Result::TimedOut:
        g_warning("Script bridge: the page %s did not answer within %d ms; it is treated as "
                  "unresponsive until it is heard from again",
                  uri.c_str(), timeoutMs);
        unresponsive = true;
        return E_FAIL;
    case ScriptChannel::Result::TooLarge:
        g_warning("Script bridge: a call of %ls is too large to send", request.name.c_str());
        return E_FAIL;
    case ScriptChannel::Result::Closed: return E_FAIL;
    }
    return E_FAIL;
}

void WebView::Impl::DocumentReady() {
    if (loaded || loadFailed) return;
    loaded = true;
    if (owner && owner->onDocumentReady) {
        auto keep = shared_from_this();
        auto call = owner->onDocumentReady;
        call();
    }
}

namespace {

void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    auto* impl = static_cast<WebView::Impl*>(data);
    if (event == WEBKIT_LOAD_STARTED) {
        impl->loadFailed = false;
        // The page moved on by itself (a link, a reload of its own): its old
        // document no longer counts. A navigation started here was forgotten
        // by Navigate already, and its new document may have asked before
        // this notice arrived.
        if (impl->loaded) impl->ForgetDocument();
    } else if (event == WEBKIT_LOAD_COMMITTED) {
        if (impl->windowCleared) impl->DocumentReady();
    } else if (event == WEBKIT_LOAD_FINISHED) {
        impl->DocumentReady();
        if (impl->loaded && impl->owner && impl->owner->onLoadFinished) {
            auto keep = impl->shared_from_this();
            auto call = impl->owner->onLoadFinished;
            call();
        }
    }
}

gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer data) {
    auto* impl = static_cast<WebView::Impl*>(data);
    impl->loadFailed = true;
    impl->ForgetDocument();
    g_message("Web view: loading %s failed: %s", uri, error ? error->message : "unknown error");
    return FALSE;
}

void OnTitle(GObject*, GParamSpec*, gpointer data) {
    auto* impl = static_cast<WebView::Impl*>(data);
    if (impl->owner && impl->owner->onTitleChanged) {
        auto keep = impl->shared_from_this();
        auto call = impl->owner->onTitleChanged;
        call(Wide(webkit_web_view_get_title(impl->view)));
    }
}

void OnTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer data) {
    auto* impl = static_cast<WebView::Impl*>(data);
    auto keep = impl->shared_from_this();
    g_warning("Web view: the web process of %s ended (%s); loading the page again",
              impl->uri.c_str(),
              reason == WEBKIT_WEB_PROCESS_CRASHED                 ? "crashed"
              : reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "out of memory"
                                                                   : "terminated");
    impl->ForgetDocument();
    impl->unresponsive = false;
    if (impl->channel) {
        auto channel = std::move(impl->channel);
        channel->Close();
    }
    if (impl->owner && impl->owner->onWebProcessTerminated) {
        auto call = impl->owner->onWebProcessTerminated;
        call();
    }
    if (!impl->uri.empty() && impl->reloadId == 0) {
        impl->reloadId = g_idle_add(
            [](gpointer data) -> gboolean {
                auto* impl = static_cast<WebView::Impl*>(data);
                impl->reloadId = 0;
                webkit_web_view_load_uri(impl->view, impl->uri.c_str());
                return G_SOURCE_REMOVE;
            },
            impl);
    }
}

gboolean OnScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer data) {
    // Dialogs that still come this way (those the page's replacements do not
    // cover) are answered with the same native dialogs.
    auto* impl = static_cast<WebView::Impl*>(data);
    auto keep = impl->shared_from_this();
    std::wstring message = Wide(webkit_script_dialog_get_message(dialog));
    switch (webkit_script_dialog_get_dialog_type(dialog)) {
    case WEBKIT_SCRIPT_DIALOG_ALERT: ScriptAlert(impl->dialogOwner, impl->Caption(), message); break;
    case WEBKIT_SCRIPT_DIALOG_CONFIRM:
    case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
        webkit_script_dialog_confirm_set_confirmed(
            dialog, ScriptConfirm(impl->dialogOwner, impl->Caption(), message));
        break;
    case WEBKIT_SCRIPT_DIALOG_PROMPT:
        if (auto text = PromptBox(impl->dialogOwner, impl->Caption(), message,
                                  Wide(webkit_script_dialog_prompt_get_default_text(dialog))))
            webkit_script_dialog_prompt_set_text(dialog, WideToUtf8(*text).c_str());
        break;
    }
    return TRUE;
}

gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                        WebKitPolicyDecisionType type, gpointer data) {
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
        type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION)
        return FALSE;
    auto* impl = static_cast<WebView::Impl*>(data);
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    const char* address = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && impl->MayLoad(address))
        return FALSE;  // WebKit goes on as usual
    webkit_policy_decision_ignore(decision);
    // The page stays; a web address the user clicked opens where the desktop
    // opens such addresses.
    if (address && IsWebAddress(address) && webkit_navigation_action_is_user_gesture(action) &&
        webkit_navigation_action_get_navigation_type(action) == WEBKIT_NAVIGATION_TYPE_LINK_CLICKED) {
        auto keep = impl->shared_from_this();
        ShellOpen(Wide(address), 1);
    } else {
        g_message("Web view: refused to load %s outside the page's folder",
                  address ? address : "(no address)");
    }
    return TRUE;
}

GtkWidget* OnCreate(WebKitWebView*, WebKitNavigationAction*, gpointer) {
    return nullptr;  // no new windows
}

}  // namespace

WebView::WebView(ScriptHost* host, bool offscreen) : impl(std::make_shared<Impl>()) {
    Bridge& bridge = Bridge::Get();
    impl->owner = this;
    impl->host = host;
    // Connections that open no resource load (WebSocket) pass by the
    // extension's load check; the policy keeps them to the page's own origin.
    impl->view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", bridge.context,
                                              "default-content-security-policy",
                                              "connect-src 'self' file: data: blob:", nullptr));
    g_object_ref_sink(impl->view);
    // The pages are forms and tables: drawn without GPU compositing they
    // need no GL context in either process, which saves about 50 MB and a
    // good part of the web process's start.
    webkit_settings_set_hardware_acceleration_policy(webkit_web_view_get_settings(impl->view),
                                                     WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    Impl* data = impl.get();
    g_signal_connect(impl->view, "load-changed", G_CALLBACK(OnLoadChanged), data);
    g_signal_connect(impl->view, "load-failed", G_CALLBACK(OnLoadFailed), data);
    g_signal_connect(impl->view, "notify::title", G_CALLBACK(OnTitle), data);
    g_signal_connect(impl->view, "web-process-terminated", G_CALLBACK(OnTerminated), data);
    g_signal_connect(impl->view, "script-dialog", G_CALLBACK(OnScriptDialog), data);
    g_signal_connect(impl->view, "create", G_CALLBACK(OnCreate), data);
    g_signal_connect(impl->view, "decide-policy", G_CALLBACK(OnDecidePolicy), data);
    if (offscreen) {
        impl->offscreen = gtk_offscreen_window_new();
        g_object_ref_sink(impl->offscreen);
        gtk_container_add(GTK_CONTAINER(impl->offscreen), GTK_WIDGET(impl->view));
        gtk_widget_show_all(impl->offscreen);
    } else {
        gtk_widget_show(GTK_WIDGET(impl->view));
    }
    bridge.views.push_back(data);
}

WebView::~WebView() {
    auto& views = Bridge::Get().views;
    views.erase(std::remove(views.begin(), views.end(), impl.get()), views.end());
    impl->owner = nullptr;
    impl->host = nullptr;
    impl->loaded = false;
    if (impl->reloadId) g_source_remove(impl->reloadId);
    impl->reloadId = 0;
    g_signal_handlers_disconnect_by_data(impl->view, impl.get());
    if (impl->channel) {
        auto channel = std::move(impl->channel);
        channel->Close();
    }
    if (impl->offscreen) {
        gtk_widget_destroy(impl->offscreen);
        g_object_unref(impl->offscreen);
    } else {
        gtk_widget_destroy(GTK_WIDGET(impl->view));
    }
    g_object_unref(impl->view);
    impl->view = nullptr;
}

GtkWidget* WebView::View() { return GTK_WIDGET(impl->view); }
GtkWidget* WebView::OffscreenWindow() { return impl->offscreen; }
void WebView::SetDialogOwner(Window* owner) { impl->dialogOwner = owner; }
void WebView::SetWaitTimeout(int milliseconds) { impl->timeoutMs = milliseconds; }
bool WebView::IsLoaded() const { return impl->loaded; }
bool WebView::IsBridged() const { return impl->loaded && impl->CurrentDocumentAllowed(); }
std::wstring WebView::Title() const { return Wide(webkit_web_view_get_title(impl->view)); }
std::string WebView::BridgeSocketPath() { return Bridge::Get().socketPath; }
int WebView::WebProcessId() const { return impl->channel && impl->channel->IsOpen() ? impl->processId : 0; }
std::string WebView::Uri() const {
    const char* uri = webkit_web_view_get_uri(impl->view);
    return uri ? uri : "";
}

void WebView::Navigate(const std::string& address) {
    std::string uri = address;
    if (!address.empty() && address[0] == '/') {
        // A plain absolute path, as a project may store it.
        if (gchar* fileUri = g_filename_to_uri(address.c_str(), nullptr, nullptr)) {
            uri = fileUri;
            g_free(fileUri);
        }
    }
    impl->uri = uri;
    impl->area = AreaOf(uri);
    impl->ForgetDocument();
    webkit_web_view_load_uri(impl->view, uri.c_str());
}

void WebView::Reload() {
    impl->ForgetDocument();
    webkit_web_view_reload(impl->view);
}

ScriptStatus WebView::CallFunction(const std::wstring& name, const std::vector<ScriptValue>& args,
                                   ScriptValue* result) {
    ScriptFrame request;
    request.kind = FrameKind::CallFunction;
    request.name = name;
    request.values = args;
    return impl->Call(request, result);
}

ScriptStatus WebView::CallFunctionWithArray(const std::wstring& name,
                                            const std::vector<ScriptValue>& values,
                                            ScriptValue* result) {
    ScriptFrame request;
    request.kind = FrameKind::CallFunctionWithArray;
    request.name = name;
    request.values = values;
    return impl->Call(request, result);
}

ScriptStatus WebView::ReplaceOuterHtml(const std::wstring& elementId, const std::wstring& html) {
    ScriptFrame request;
    request.kind = FrameKind::ReplaceOuterHtml;
    request.name = elementId;
    request.text = html;
    return impl->Call(request, nullptr);
}

}  // namespace platform
