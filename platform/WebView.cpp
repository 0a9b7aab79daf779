// WebView: the user-interface end of the script bridge.
//
// WebKit runs each page in a web process and offers only asynchronous
// messages, so the synchronous bridge is our own (ScriptChannel). Every view
// uses the process's one web context (WebContext.h), whose web processes
// connect to the process's one bridge server (BridgeServer.h); the server
// hands each connection to the view whose page said hello on it.
//
// Only the allowed area (OriginPolicy.h) is ever loaded: navigations that
// leave it are refused here (a link the user clicks to a web address goes to
// the desktop's browser instead), and the extension refuses every resource
// load that leaves it (scripts, styles, frames, fetches), asking here with the
// same rule; the content policy (PageContentPolicy) holds the rest. The
// bridge is narrower: only an area that is a trusted page folder
// (PageTrust.h) has it, so a web page or a file elsewhere loads without
// window.external. Calls from the page are served only while the view's
// current document lies in a bridged area.
//
// Calls into script are refused with E_FAIL until the current document exists
// and lies in a bridged area. It exists once the web process asked whether
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
//
// Sections: the page's state shared with the bridge server; serving the page;
// calls into the page; WebKit's signals; the view.

#include "WebView.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "PageTrust.h"
#include "ScriptDialog.h"
#include "Shell.h"
#include "TestUserScript.h"
#include "WebContext.h"
#include "bridge/BridgeServer.h"
#include "bridge/OriginPolicy.h"
#include "framework/Utf8.h"

namespace platform {

ScriptHost::~ScriptHost() = default;
void ScriptHost::Test(const std::wstring&, const std::wstring&) {}
void ScriptHost::SetVar(const std::wstring&) {}
std::wstring ScriptHost::GetVar() { return {}; }
void ScriptHost::SetFunction(int32_t) {}
int32_t ScriptHost::GetFunction() { return 0; }

namespace {

// WebKit's texts (titles, dialog messages, addresses) may be null; they are
// shown to a person, so bytes that are not UTF-8 are mended.
std::wstring WebKitText(const char* text) {
    return text ? DecodeUtf8(text, BadUtf8::Replace) : std::wstring();
}

// --- The page's state shared with the bridge server --------------------------

// Shared, and kept alive by whoever runs a handler of the page: a native
// handler called from the page may destroy the WebView while the page still
// waits on it.
struct ViewPage final : BridgePage, std::enable_shared_from_this<ViewPage> {
    WebView* owner = nullptr;
    ScriptHost* host = nullptr;
    WebKitWebView* view = nullptr;
    GtkWidget* offscreen = nullptr;
    Window* dialogOwner = nullptr;
    std::string uri;
    AllowedArea area;
    bool bridged = false;  // the area is a trusted page folder
    bool loaded = false;
    bool loadFailed = false;
    bool windowCleared = false;  // the current navigation's main document asked for its window
    bool unresponsive = false;
    int timeoutMs = WebView::kDefaultWaitTimeoutMs;
    unsigned reloadId = 0;

    bool CurrentDocumentBridged() const {
        const char* current = webkit_web_view_get_uri(view);
        return bridged && current && Contains(area, current);
    }
    std::wstring Caption() const {
        std::wstring title = WebKitText(webkit_web_view_get_title(view));
        if (title.empty()) title = WebKitText(g_get_application_name());
        return title;
    }
    bool MayLoad(const char* address) const {
        return address && (IsLocalScheme(address) || Contains(area, address));
    }
    uint64_t PageId() const override { return webkit_web_view_get_page_id(view); }
    void Serve(const ScriptFrame& request, ScriptFrame& reply) override;
    void Heard() override { unresponsive = false; }
    void DocumentReady();
    void ForgetDocument() {
        loaded = false;
        windowCleared = false;
    }
    void ServeHost(const ScriptFrame& request, ScriptFrame& reply);
    ScriptStatus Call(ScriptFrame& request, ScriptValue* result);
    ScriptStatus CallFunction(FrameKind kind, const std::wstring& name,
                              const std::vector<ScriptValue>& values, ScriptValue* result) {
        ScriptFrame request;
        request.kind = kind;
        request.name = name;
        request.values = values;
        return Call(request, result);
    }
};

// --- Serving the page --------------------------------------------------------

void ViewPage::ServeHost(const ScriptFrame& request, ScriptFrame& reply) {
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

void ViewPage::Serve(const ScriptFrame& request, ScriptFrame& reply) {
    auto self = shared_from_this();  // the view may be destroyed by a handler
    reply.number = S_OK;
    ScriptValue& result = reply.values[0];
    switch (request.kind) {
    case FrameKind::DocumentQuery: {
        std::string document = EncodeUtf8(request.name);
        int32_t rights = 0;
        if (Contains(area, document))
            rights = bridged ? DocumentMayLoad | DocumentBridged : DocumentMayLoad;
        result = ScriptValue::Int32(rights);
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
        if (!CurrentDocumentBridged()) {
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

// --- Calls into the page -----------------------------------------------------

ScriptStatus ViewPage::Call(ScriptFrame& request, ScriptValue* result) {
    auto self = shared_from_this();
    auto used = connection.channel;
    if (!owner || !loaded || !used || !used->IsOpen() || !CurrentDocumentBridged()) return E_FAIL;
    if (unresponsive) return E_FAIL;
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

void ViewPage::DocumentReady() {
    if (loaded || loadFailed) return;
    loaded = true;
    if (owner && owner->onDocumentReady) {
        auto keep = shared_from_this();
        auto call = owner->onDocumentReady;
        call();
    }
}


// --- WebKit's signals --------------------------------------------------------

void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
    auto* page = static_cast<ViewPage*>(data);
    if (event == WEBKIT_LOAD_STARTED) {
        page->loadFailed = false;
        // The page moved on by itself (a link, a reload of its own): its old
        // document no longer counts. A navigation started here was forgotten
        // by Navigate already, and its new document may have asked before
        // this notice arrived.
        if (page->loaded) page->ForgetDocument();
    } else if (event == WEBKIT_LOAD_COMMITTED) {
        if (page->windowCleared) page->DocumentReady();
    } else if (event == WEBKIT_LOAD_FINISHED) {
        page->DocumentReady();
        if (page->loaded && page->owner && page->owner->onLoadFinished) {
            auto keep = page->shared_from_this();
            auto call = page->owner->onLoadFinished;
            call();
        }
    }
}

gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer data) {
    auto* page = static_cast<ViewPage*>(data);
    page->loadFailed = true;
    page->ForgetDocument();
    g_message("Web view: loading %s failed: %s", uri, error ? error->message : "unknown error");
    return FALSE;
}

void OnTitle(GObject*, GParamSpec*, gpointer data) {
    auto* page = static_cast<ViewPage*>(data);
    if (page->owner && page->owner->onTitleChanged) {
        auto keep = page->shared_from_this();
        auto call = page->owner->onTitleChanged;
        call(WebKitText(webkit_web_view_get_title(page->view)));
    }
}

void OnTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason, gpointer data) {
    auto* page = static_cast<ViewPage*>(data);
    auto keep = page->shared_from_this();
    g_warning("Web view: the web process of %s ended (%s); loading the page again",
              page->uri.c_str(),
              reason == WEBKIT_WEB_PROCESS_CRASHED                 ? "crashed"
              : reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT ? "out of memory"
                                                                   : "terminated");
    page->ForgetDocument();
    page->unresponsive = false;
    if (page->connection.channel) {
        auto channel = std::move(page->connection.channel);
        channel->Close();
    }
    if (page->owner && page->owner->onWebProcessTerminated) {
        auto call = page->owner->onWebProcessTerminated;
        call();
    }
    if (!page->uri.empty() && page->reloadId == 0) {
        page->reloadId = g_idle_add(
            [](gpointer data) -> gboolean {
                auto* page = static_cast<ViewPage*>(data);
                page->reloadId = 0;
                webkit_web_view_load_uri(page->view, page->uri.c_str());
                return G_SOURCE_REMOVE;
            },
            page);
    }
}

gboolean OnScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer data) {
    // Dialogs that still come this way (those the page's replacements do not
    // cover) are answered with the same native dialogs.
    auto* page = static_cast<ViewPage*>(data);
    auto keep = page->shared_from_this();
    std::wstring message = WebKitText(webkit_script_dialog_get_message(dialog));
    switch (webkit_script_dialog_get_dialog_type(dialog)) {
    case WEBKIT_SCRIPT_DIALOG_ALERT: ScriptAlert(page->dialogOwner, page->Caption(), message); break;
    case WEBKIT_SCRIPT_DIALOG_CONFIRM:
    case WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM:
        webkit_script_dialog_confirm_set_confirmed(
            dialog, ScriptConfirm(page->dialogOwner, page->Caption(), message));
        break;
    case WEBKIT_SCRIPT_DIALOG_PROMPT:
        if (auto text = PromptBox(page->dialogOwner, page->Caption(), message,
                                  WebKitText(webkit_script_dialog_prompt_get_default_text(dialog))))
            webkit_script_dialog_prompt_set_text(dialog, EncodeUtf8(*text).c_str());
        break;
    }
    return TRUE;
}

gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                        WebKitPolicyDecisionType type, gpointer data) {
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION &&
        type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION)
        return FALSE;
    auto* page = static_cast<ViewPage*>(data);
    WebKitNavigationAction* action = webkit_navigation_policy_decision_get_navigation_action(
        WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    const char* address = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && page->MayLoad(address))
        return FALSE;  // WebKit goes on as usual
    webkit_policy_decision_ignore(decision);
    // The page stays; a web address the user clicked opens where the desktop
    // opens such addresses.
    if (address && IsWebAddress(address) && webkit_navigation_action_is_user_gesture(action) &&
        webkit_navigation_action_get_navigation_type(action) == WEBKIT_NAVIGATION_TYPE_LINK_CLICKED) {
        auto keep = page->shared_from_this();
        ShellOpen(WebKitText(address), 1);
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

// --- The view ----------------------------------------------------------------

struct WebView::Impl {
    std::shared_ptr<ViewPage> page = std::make_shared<ViewPage>();
};

WebView::WebView(ScriptHost* host, bool offscreen) : impl(std::make_unique<Impl>()) {
    ViewPage* page = impl->page.get();
    WebKitWebContext* context = BridgedWebContext();
    page->owner = this;
    page->host = host;
    // The one content policy of every page (OriginPolicy.h).
    page->view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", context,
                                              "default-content-security-policy", PageContentPolicy,
                                              nullptr));
    g_object_ref_sink(page->view);
    AddTestUserScript(page->view);
    // The pages are forms and tables: drawn without GPU compositing they
    // need no GL context in either process, which saves about 50 MB and a
    // good part of the web process's start.
    webkit_settings_set_hardware_acceleration_policy(webkit_web_view_get_settings(page->view),
                                                     WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    g_signal_connect(page->view, "load-changed", G_CALLBACK(OnLoadChanged), page);
    g_signal_connect(page->view, "load-failed", G_CALLBACK(OnLoadFailed), page);
    g_signal_connect(page->view, "notify::title", G_CALLBACK(OnTitle), page);
    g_signal_connect(page->view, "web-process-terminated", G_CALLBACK(OnTerminated), page);
    g_signal_connect(page->view, "script-dialog", G_CALLBACK(OnScriptDialog), page);
    g_signal_connect(page->view, "create", G_CALLBACK(OnCreate), page);
    g_signal_connect(page->view, "decide-policy", G_CALLBACK(OnDecidePolicy), page);
    if (offscreen) {
        page->offscreen = gtk_offscreen_window_new();
        g_object_ref_sink(page->offscreen);
        gtk_container_add(GTK_CONTAINER(page->offscreen), GTK_WIDGET(page->view));
        gtk_widget_show_all(page->offscreen);
    } else {
        gtk_widget_show(GTK_WIDGET(page->view));
    }
    BridgeServer::Get().AddPage(impl->page);
}

WebView::~WebView() {
    ViewPage* page = impl->page.get();
    BridgeServer::Get().RemovePage(page);
    page->owner = nullptr;
    page->host = nullptr;
    page->loaded = false;
    if (page->reloadId) g_source_remove(page->reloadId);
    page->reloadId = 0;
    g_signal_handlers_disconnect_by_data(page->view, page);
    if (page->connection.channel) {
        auto channel = std::move(page->connection.channel);
        channel->Close();
    }
    if (page->offscreen) {
        gtk_widget_destroy(page->offscreen);
        g_object_unref(page->offscreen);
    } else {
        gtk_widget_destroy(GTK_WIDGET(page->view));
    }
    g_object_unref(page->view);
    page->view = nullptr;
}

GtkWidget* WebView::View() { return GTK_WIDGET(impl->page->view); }
GtkWidget* WebView::OffscreenWindow() { return impl->page->offscreen; }
void WebView::SetDialogOwner(Window* owner) { impl->page->dialogOwner = owner; }
void WebView::SetWaitTimeout(int milliseconds) { impl->page->timeoutMs = milliseconds; }
bool WebView::IsLoaded() const { return impl->page->loaded; }
bool WebView::IsBridged() const {
    return impl->page->loaded && impl->page->CurrentDocumentBridged();
}
std::wstring WebView::Title() const { return WebKitText(webkit_web_view_get_title(impl->page->view)); }
std::string WebView::BridgeSocketPath() { return BridgeServer::Get().SocketPath(); }
int WebView::WebProcessId() const {
    const BridgeConnection& connection = impl->page->connection;
    return connection.channel && connection.channel->IsOpen() ? connection.processId : 0;
}
std::string WebView::Uri() const {
    const char* uri = webkit_web_view_get_uri(impl->page->view);
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
    ViewPage* page = impl->page.get();
    page->uri = uri;
    page->area = AreaOf(uri);
    page->bridged = page->area.valid && page->area.file && IsTrustedPageFolder(page->area.folder);
    if (!page->bridged)
        g_message(
            "Web view: %s loads without the script bridge: only pages in the installation's "
            "folder or in the folder of a trusted project may use it",
            uri.c_str());
    page->ForgetDocument();
    webkit_web_view_load_uri(page->view, uri.c_str());
}

void WebView::Reload() {
    impl->page->ForgetDocument();
    webkit_web_view_reload(impl->page->view);
}

ScriptStatus WebView::CallFunction(const std::wstring& name, const std::vector<ScriptValue>& args,
                                   ScriptValue* result) {
    return impl->page->CallFunction(FrameKind::CallFunction, name, args, result);
}

ScriptStatus WebView::CallFunctionWithArray(const std::wstring& name,
                                            const std::vector<ScriptValue>& values,
                                            ScriptValue* result) {
    return impl->page->CallFunction(FrameKind::CallFunctionWithArray, name, values, result);
}

ScriptStatus WebView::ReplaceOuterHtml(const std::wstring& elementId, const std::wstring& html) {
    ScriptFrame request;
    request.kind = FrameKind::ReplaceOuterHtml;
    request.name = elementId;
    request.text = html;
    return impl->page->Call(request, nullptr);
}

}  // namespace platform
