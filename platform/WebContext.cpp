#include "WebContext.h"

#include <dlfcn.h>
#include <webkit2/webkit2.h>

#include <string>

#include "WebSandbox.h"
#include "bridge/BridgeServer.h"

namespace platform {

namespace {

std::string ExtensionFolder() {
    // The extension sits in webext/ next to the library that holds this code.
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ExtensionFolder), &info) && info.dli_fname) {
        g_autofree gchar* dir = g_path_get_dirname(info.dli_fname);
        g_autofree gchar* path = g_build_filename(dir, "webext", nullptr);
        return path;
    }
    return "webext";
}

const std::string& ExtensionFolderOnce() {
    static const std::string folder = ExtensionFolder();
    return folder;
}

// Called once for every web process about to start: each gets a token of its own.
void OnInitializeExtensions(WebKitWebContext* context, gpointer) {
    BridgeServer& server = BridgeServer::Get();
    std::string token = server.IssueToken();
    webkit_web_context_set_web_extensions_directory(context, ExtensionFolderOnce().c_str());
    webkit_web_context_set_web_extensions_initialization_user_data(
        context, g_variant_new("(ss)", server.SocketPath().c_str(), token.c_str()));
}

WebKitWebContext* MakeContext() {
    const std::string& extensionFolder = ExtensionFolderOnce();
    BridgeServer& server = BridgeServer::Get();
    WebKitWebContext* context = webkit_web_context_new();
    // The web processes run sandboxed: they see the extension folder and the
    // socket folder, both read-only (WebKit mounts neither by itself): a web
    // process connects to the socket, which a read-only folder allows, but
    // cannot remove it or put another in its place. Paths must be given
    // before the first web process starts, that is here. Where
    // the sandbox cannot start, WebKit would abort the program at the first
    // page: the pages then run without it (the bridge still serves only the
    // page's own folder or origin).
    std::string sandboxProblem = WebSandboxProblem();
    if (sandboxProblem.empty()) {
        webkit_web_context_set_sandbox_enabled(context, TRUE);
        if (g_file_test(extensionFolder.c_str(), G_FILE_TEST_IS_DIR))
            webkit_web_context_add_path_to_sandbox(context, extensionFolder.c_str(), TRUE);
        if (!server.Folder().empty())
            webkit_web_context_add_path_to_sandbox(context, server.Folder().c_str(), TRUE);
    } else {
        g_warning("Web view: the web process sandbox cannot start here (%s); web pages run "
                  "without it",
                  sandboxProblem.c_str());
        webkit_web_context_set_sandbox_enabled(context, FALSE);
    }
    g_signal_connect(context, "initialize-web-extensions", G_CALLBACK(OnInitializeExtensions), nullptr);
    return context;
}

}  // namespace

WebKitWebContext* BridgedWebContext() {
    static WebKitWebContext* context = MakeContext();  // lives until exit
    return context;
}

}  // namespace platform
