#include "JavaScriptInterface.h"

#include <glib.h>
#include <gtk/gtk.h>

#include "framework/Connector.h"
#include "platform/Application.h"
#include "platform/MessageBox.h"
#include "platform/PageTrust.h"
#include "platform/ProgramFile.h"

using platform::ScriptValue;

namespace {

// With KORVO_REPORT_PAGE_LOAD set, every finished page load is logged with the
// monotonic clock's time, so that a start-up measurement can see when the
// page was there (after its load event) without anything changing on screen.
void ReportPageLoad(const std::string& uri) {
    static const bool wanted = g_getenv("KORVO_REPORT_PAGE_LOAD") != nullptr;
    if (wanted)
        g_message("Page %s loaded at %" G_GINT64_FORMAT " us (monotonic clock)", uri.c_str(),
                  g_get_monotonic_time());
}

}  // namespace

const JavaScriptInterface::NumberedOperation JavaScriptInterface::Operations[] = {
    {0, L"korvoTrace", &JavaScriptInterface::korvoTrace},
    {1, L"", &JavaScriptInterface::korvoReserved},
    {10, L"korvoSetProfileString", &JavaScriptInterface::korvoSetProfileString},
    {11, L"korvoSetProfileInt", &JavaScriptInterface::korvoSetProfileInt},
    {12, L"korvoGetProfileString", &JavaScriptInterface::korvoGetProfileString},
    {13, L"korvoGetProfileInt", &JavaScriptInterface::korvoGetProfileInt},
    {20, L"korvoAddConnector", &JavaScriptInterface::korvoAddConnector},
    {21, L"korvoValidConnector", &JavaScriptInterface::korvoValidConnector},
    {22, L"korvoConnect", &JavaScriptInterface::korvoConnect},
    {23, L"korvoSendValue", &JavaScriptInterface::korvoSendValue},
    {24, L"korvoReceiveValue", &JavaScriptInterface::korvoReceiveValue},
    {25, L"korvoGetValue", &JavaScriptInterface::korvoGetValue},
    {100, L"korvoMessageBox", &JavaScriptInterface::korvoMessageBox},
    {101, L"korvoClose", &JavaScriptInterface::korvoClose},
    {150, L"korvoGetExeDir", &JavaScriptInterface::korvoGetExeDir},
    {151, L"korvoListDir", &JavaScriptInterface::korvoListDir},
    {152, L"korvoReadFile", &JavaScriptInterface::korvoReadFile},
    {153, L"korvoReadFileLine", &JavaScriptInterface::korvoReadFileLine},
    {154, L"korvoWriteFile", &JavaScriptInterface::korvoWriteFile},
    {170, L"korvoShellExecute", &JavaScriptInterface::korvoShellExecute},
};

JavaScriptInterface::JavaScriptInterface()
    : exeDirectory(platform::ProgramFile::Directory().c_str()),
      exeName(platform::ProgramFile::ExeName().c_str()) {
    for (const NumberedOperation& entry : Operations)
        Register(entry.number, L"JavaScriptInterface", entry.name,
                 BindApiOperation(this, entry.operation));

    connectors.Add(new KorvoTextConnector(L"Script", MakeHandler(&JavaScriptInterface::LoadScript),
                                          KorvoConnector::FlagPersistent, this));
}

JavaScriptInterface::~JavaScriptInterface() {
    // The window goes first; no call reaches the page from here on.
    Destroy();
    webView.reset();
}

void JavaScriptInterface::CreateView(bool offscreen) {
    webView = std::make_unique<platform::WebView>(this, offscreen);
    webView->onDocumentReady = [this] { SetScriptDispatch(webView.get()); };
    webView->onWebProcessTerminated = [this] { SetScriptDispatch(nullptr); };
    webView->onLoadFinished = [this] { ReportPageLoad(webView->Uri()); };
    webView->onTitleChanged = [this](const std::wstring& title) {
        if (GtkWidget* window = Toplevel())
            gtk_window_set_title(GTK_WINDOW(window), String(title.c_str()).ToUtf8().c_str());
    };
}

void JavaScriptInterface::OnDestroy() { SetScriptDispatch(nullptr); }

void JavaScriptInterface::Start() {
    CreateView(true);
    AttachToplevel(webView->OffscreenWindow());
    webView->SetDialogOwner(this);
    gtk_widget_show_all(webView->OffscreenWindow());
    LoadScript(nullptr);
}

std::string JavaScriptInterface::PageUri(const String& address) const {
    return platform::PageAddress(address.Text(), exeDirectory.Text(),
                                 platform::Application::Instance().ProjectFolder());
}

void JavaScriptInterface::LoadScript(KorvoConnector*) {
    // Before Start there is no view yet; Start loads whatever "Script" holds then.
    if (!webView) return;
    if (!NavigateToScript()) Box(L"Invalid script source!", platform::MB_ICONERROR);
}

bool JavaScriptInterface::NavigateToScript() {
    KorvoConnector* script = FindConnector(L"Script");
    String address = script ? script->GetText() : String();
    std::string uri = address.IsEmpty() ? std::string() : PageUri(address);
    if (uri.empty()) return false;
    SetScriptDispatch(nullptr);
    webView->Navigate(uri);
    return true;
}

ScriptValue JavaScriptInterface::ApiCall(int32_t number, const ScriptValue& argument) {
    return korvoApiCall(number, argument);
}

ScriptValue JavaScriptInterface::korvoApiCall(int32_t number, const ScriptValue& argument) {
    ScriptValue result;
    if (RunEntry(number, L"JavaScriptInterface", argument, result)) return result;
    return DispatchApiCall(number, argument);
}

void JavaScriptInterface::CloseRequest() {
    platform::Application& application = platform::Application::Instance();
    if (application.MainWindow() == this)
        application.Quit(0);
    else if (GtkWidget* window = Toplevel())
        gtk_widget_hide(window);
}

int JavaScriptInterface::Box(const String& text, unsigned style) {
    return platform::MessageBox(platform::Application::Instance().MainOrActiveWindow(), text.Text(),
                                platform::ProgramFile::ExeName(), style);
}

void JavaScriptInterface::Refuse(const String& text, unsigned style, ScriptValue& result) {
    Box(text, style);
    result = ScriptValue::Bool(false);
}

void JavaScriptInterface::korvoReserved(const ScriptValue&, ScriptValue& result) {
    result = ScriptValue::Bool(false);
}

void JavaScriptInterface::korvoClose(const ScriptValue&, ScriptValue& result) {
    CloseRequest();
    result = ScriptValue::Bool(true);
}
