#include "JavaScriptWindow.h"

#include <algorithm>

#include "ScriptArguments.h"
#include "framework/Connector.h"
#include "platform/Application.h"

using platform::ScriptStatus;
using platform::ScriptValue;

JavaScriptWindow::JavaScriptWindow() {
    Register(102, L"JavaScriptWindow", L"korvoClearMenu",
             BindApiOperation(this, &JavaScriptWindow::korvoClearMenu));
    Register(103, L"JavaScriptWindow", L"korvoAddMenuItem",
             BindApiOperation(this, &JavaScriptWindow::korvoAddMenuItem));
    Register(104, L"JavaScriptWindow", L"korvoCheckMenuItem",
             BindApiOperation(this, &JavaScriptWindow::korvoCheckMenuItem));
    Register(105, L"JavaScriptWindow", L"korvoShowMenu",
             BindApiOperation(this, &JavaScriptWindow::korvoShowMenu));
}

JavaScriptWindow::~JavaScriptWindow() {
    // Destroyed here, not by the base, so that OnDestroy still saves the placement.
    Destroy();
}

int JavaScriptWindow::MinimumFromConnector(const wchar_t* name, int fallback) {
    KorvoConnector* connector = FindConnector(name);
    int32_t value = connector ? connector->GetLong() : 0;
    // A size below one pixel means nothing to the window system.
    return value != 0 ? std::max(value, 1) : fallback;
}

void JavaScriptWindow::LoadIcon(GtkWindow* window) {
    // Relative names: the icon lies in the current directory.
    for (std::string file : {exeName.ToUtf8() + ".ico", std::string("App.ico")}) {
        if (GdkPixbuf* icon = gdk_pixbuf_new_from_file(file.c_str(), nullptr)) {
            gtk_window_set_icon(window, icon);
            g_object_unref(icon);
            return;
        }
    }
}

void JavaScriptWindow::Start() {
    // The web process takes longest to come up: the page starts loading as
    // soon as the view exists, and the window is built meanwhile.
    CreateView(false);
    bool loading = NavigateToScript();
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_resizable(GTK_WINDOW(window), TRUE);
    LoadIcon(GTK_WINDOW(window));

    menu = std::make_unique<ScriptMenu>();
    menu->onCommand = [this](int64_t identifier) {
        std::vector<String> texts{String::Format(L"%lld", static_cast<long long>(identifier))};
        CallScript(L"korvoOnCommand", &texts, nullptr);
    };

    minWidth = MinimumFromConnector(L"MinWidth", DefaultMinWidth);
    minHeight = MinimumFromConnector(L"MinHeight", DefaultMinHeight);
    GdkGeometry hints{};
    hints.min_width = minWidth;
    hints.min_height = minHeight;
    gtk_window_set_geometry_hints(GTK_WINDOW(window), nullptr, &hints, GDK_HINT_MIN_SIZE);

    GtkWidget* view = webView->View();
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    gtk_box_pack_start(GTK_BOX(box), menu->Bar(), FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), view, TRUE, TRUE, 0);
    gtk_container_add(GTK_CONTAINER(window), box);

    g_signal_connect(window, "delete-event", G_CALLBACK(OnDeleteEvent), this);
    // F5 would reload the page and the right button open the view's own
    // menu: the page is the whole user interface, so both are kept from it.
    g_signal_connect(view, "key-press-event", G_CALLBACK(OnKeyPress), this);
    g_signal_connect(view, "button-press-event", G_CALLBACK(OnButtonPress), this);
    g_signal_connect(view, "context-menu", G_CALLBACK(OnContextMenu), this);

    AttachToplevel(window);
    webView->SetDialogOwner(this);
    placement = std::make_unique<WindowPlacement>(GTK_WINDOW(window));
    placement->Restore(minWidth, minHeight);
    gtk_widget_show_all(window);

    platform::Application& application = platform::Application::Instance();
    if (application.MainWindow() == nullptr) application.SetMainWindow(this);

    // Without a page address the user is told so, over the window.
    if (!loading) LoadScript(nullptr);
}

void JavaScriptWindow::OnDestroy() {
    if (placement) placement->Save();
    JavaScriptInterface::OnDestroy();
}

ScriptValue JavaScriptWindow::korvoApiCall(int32_t number, const ScriptValue& argument) {
    ScriptValue result;
    if (RunEntry(number, L"JavaScriptWindow", argument, result)) return result;
    return JavaScriptInterface::korvoApiCall(number, argument);
}

void JavaScriptWindow::CloseRequest() {
    // One close runs the protocol once: a request from inside it (the page's
    // korvoOnQueryClose or korvoOnExit calling korvoClose) changes nothing.
    if (closing) return;
    closing = true;
    bool consent = true;
    // A window without a page that can answer (no valid address, or a page
    // that navigated out of its folder and has no bridge) would never close:
    // it closes without asking.
    bool pageAnswers = webView && webView->IsBridged();
    if (pageAnswers) {
        ScriptValue answer;
        ScriptStatus status = CallScript(L"korvoOnQueryClose", &answer);
        consent = platform::Succeeded(status) &&
                  ((answer.kind == ScriptValue::Kind::Int32 && answer.intValue != 0) ||
                   (answer.kind == ScriptValue::Kind::Bool && answer.boolValue));
    }
    if (consent) {
        platform::Application& application = platform::Application::Instance();
        if (application.MainWindow() == this) {
            if (pageAnswers) CallScript(L"korvoOnExit", nullptr);
            application.Quit(0);
        } else {
            JavaScriptInterface::CloseRequest();
        }
    }
    closing = false;
}

gboolean JavaScriptWindow::OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer module) {
    static_cast<JavaScriptWindow*>(module)->CloseRequest();
    // The window itself stays: the program ends, or the window was hidden.
    return TRUE;
}

gboolean JavaScriptWindow::OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer) {
    return event->keyval == GDK_KEY_F5;
}

gboolean JavaScriptWindow::OnButtonPress(GtkWidget*, GdkEventButton* event, gpointer) {
    return event->button == GDK_BUTTON_SECONDARY;
}

gboolean JavaScriptWindow::OnContextMenu(GtkWidget*, gpointer, GdkEvent*, gpointer, gpointer) {
    return TRUE;
}

void JavaScriptWindow::korvoClearMenu(const ScriptValue&, ScriptValue& result) {
    menu->Clear();
    result = ScriptValue::Bool(true);
}

void JavaScriptWindow::korvoAddMenuItem(const ScriptValue& argument, ScriptValue& result) {
    ScriptArguments arguments(*this, argument, L"JavaScriptWindow::korvoAddMenuItem");
    String text;
    int32_t identifier = 0, parent = 0, unused = 0;
    arguments.Text(text);
    arguments.OptionalInteger(identifier, 0);
    arguments.OptionalInteger(parent, 0);
    arguments.OptionalInteger(unused, 0);
    if (arguments.Failed()) return;
    menu->Add(text, identifier, parent);
    result = ScriptValue::Bool(true);
}

void JavaScriptWindow::korvoCheckMenuItem(const ScriptValue& argument, ScriptValue& result) {
    ScriptArguments arguments(*this, argument, L"JavaScriptWindow::korvoCheckMenuItem");
    int32_t command = 0, check = 1;
    arguments.Integer(command);
    arguments.OptionalInteger(check, 1);
    if (arguments.Failed()) return;
    result = ScriptValue::Bool(menu->Check(command, check != 0));
}

void JavaScriptWindow::korvoShowMenu(const ScriptValue&, ScriptValue& result) {
    menu->Show();
    result = ScriptValue::Bool(true);
}
