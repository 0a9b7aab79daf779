#pragma once
// WebView: an HTML view whose page's script and native code call each other
// synchronously.
//
// The page sees window.external with
//   korvoApiCall(number, argument)  -> ScriptHost::ApiCall, result returned to script
//   Test(first, second)             -> ScriptHost::Test
//   var       (text property)       -> ScriptHost::GetVar / SetVar
//   function  (integer property)    -> ScriptHost::GetFunction / SetFunction
// but only while its document is a file: document under the folder of the
// address last given to Navigate, and that folder lies in a trusted page
// folder (PageTrust.h); any other page loads without it. Native code calls the
// page's global functions
// with CallFunction / CallFunctionWithArray and gets their result before it goes
// on. Calls nest both ways: a script function called from native code may call
// korvoApiCall, whose native handler may call script again, and so on.
//
// alert, confirm and prompt of the page are answered natively (MessageBox and
// PromptBox of ScriptDialog.h); window.open gives null.
//
// Everything runs on the user-interface thread (the GTK main context).

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Export.h"
#include "bridge/ScriptValue.h"

typedef struct _GtkWidget GtkWidget;

namespace platform {

class Window;

// Native side of window.external, implemented by the module that owns the view.
class PLATFORM_API ScriptHost {
public:
    virtual ~ScriptHost();
    // window.external.korvoApiCall(number, argument).
    virtual ScriptValue ApiCall(int32_t number, const ScriptValue& argument) = 0;
    // window.external.Test(first, second).
    virtual void Test(const std::wstring& first, const std::wstring& second);
    // window.external.var (the page assigns any value; it arrives as text).
    virtual void SetVar(const std::wstring& value);
    virtual std::wstring GetVar();
    // window.external.function (the page's value converted to a 32-bit integer).
    virtual void SetFunction(int32_t value);
    virtual int32_t GetFunction();
};

class PLATFORM_API WebView {
public:
    // How long a native call into script waits without hearing from the page
    // before it gives up with E_FAIL and reports the page as unresponsive. Time
    // spent in native handlers called back from the page (a message box waiting
    // for the user, say) does not count: every frame from the page restarts it.
    static constexpr int kDefaultWaitTimeoutMs = 10000;

    // host may be null (then window.external calls give undefined). offscreen:
    // the view lives in a GtkOffscreenWindow and is never on screen; otherwise
    // the caller packs View() into its own window.
    WebView(ScriptHost* host, bool offscreen);
    ~WebView();
    WebView(const WebView&) = delete;
    WebView& operator=(const WebView&) = delete;

    GtkWidget* View();             // the WebKitWebView
    GtkWidget* OffscreenWindow();  // null unless offscreen

    // Owner window of the script's alert/confirm/prompt boxes (may be null).
    void SetDialogOwner(Window* owner);

    // Loads uri; a plain absolute file path is taken as its file: address. The
    // folder of a file: address, or the origin of any other, becomes the area
    // the page may load from; a file: area inside a trusted page folder also
    // gives its documents window.external (the log says so when it does not).
    void Navigate(const std::string& uri);
    // Reloads the current page.
    void Reload();
    // True once the current document exists (its window object was set up, so
    // window.external is there before any of the page's script runs), until
    // the next navigation starts, the load fails or the web process goes away.
    bool IsLoaded() const;
    // True while the loaded document may use the bridge (it lies in the area
    // of the address last given to Navigate, and that area is bridged).
    bool IsBridged() const;
    std::wstring Title() const;
    std::string Uri() const;
    // Process id of the web process that serves the page over the bridge (0
    // while none is connected); for diagnostics and tests.
    int WebProcessId() const;
    // The socket web processes connect to (empty when the bridge could not
    // listen); for diagnostics and tests.
    static std::string BridgeSocketPath();

    // Calls the page's global function name with args. Returns S_OK with the
    // function's result in *result (may be null); E_FAIL when no document
    // exists yet, the page is unresponsive or its process ended; DISP_E_UNKNOWNNAME
    // when the window has no such property; DISP_E_MEMBERNOTFOUND when it is not
    // a function; DISP_E_EXCEPTION when the function threw.
    ScriptStatus CallFunction(const std::wstring& name, const std::vector<ScriptValue>& args,
                              ScriptValue* result);
    // Builds an array with the page's own window.Array constructor, stores values
    // at "0", "1", ..., and calls name with that array as its only argument. The
    // statuses of CallFunction, plus those of looking up and constructing Array
    // (DISP_E_TYPEMISMATCH when window.Array is not an object, E_NOINTERFACE when
    // it cannot construct).
    ScriptStatus CallFunctionWithArray(const std::wstring& name,
                                       const std::vector<ScriptValue>& values, ScriptValue* result);
    // Replaces the outer HTML of the element with this id. S_OK done; S_FALSE no
    // such element; E_FAIL not loaded; DISP_E_EXCEPTION the document refused.
    ScriptStatus ReplaceOuterHtml(const std::wstring& elementId, const std::wstring& html);

    // Changes the wait bound of native calls into script (tests use short ones).
    void SetWaitTimeout(int milliseconds);

    // Called once the current document exists (IsLoaded() turned true): from
    // here on the page's functions can be called, also while it is loading.
    std::function<void()> onDocumentReady;
    // Called after the current document finished loading (IsLoaded() is true).
    std::function<void()> onLoadFinished;
    std::function<void(const std::wstring&)> onTitleChanged;
    // The page's web process ended; the view is reloading its page.
    std::function<void()> onWebProcessTerminated;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

}  // namespace platform
