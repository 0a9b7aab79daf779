#pragma once
// JavaScriptInterface: the invisible script module. It runs a page in a web
// view that is never on screen, so that the page's script takes part in the
// connector network through the numbered functions of window.external.
//
// The page address comes from the "Script" connector, kept in the project
// file; "#EXEDIR#" in it stands for the program's folder, and an address
// without a scheme is a file path. The connector's handler reloads the page
// when a new address arrives through its link group.

#include <memory>

#include "JavaScriptDispatch.h"
#include "framework/Module.h"
#include "platform/WebView.h"
#include "platform/Window.h"

class JavaScriptInterface : public platform::Window,
                            public JavaScriptDispatch,
                            public KorvoModule,
                            public platform::ScriptHost {
public:
    JavaScriptInterface();
    ~JavaScriptInterface() override;

    // Creates the web view and starts loading the page.
    void Start() override;

    // window.external.korvoApiCall: entries of this class first, then the dispatch level.
    virtual ScriptValue korvoApiCall(int32_t number, const ScriptValue& argument);
    ScriptValue ApiCall(int32_t number, const ScriptValue& argument) override;

    // Handler of "Script": loads the page that the connector names.
    void LoadScript(KorvoConnector* connector);
    // Handler of every connector that the page made or adopted: hands the
    // connector's name and value text to the page's korvoOnConnectorChanged.
    void OnConnectorChanged(KorvoConnector* connector);

    // The diagnostic members of window.external.
    void Test(const std::wstring& first, const std::wstring& second) override;
    void SetVar(const std::wstring& value) override;
    std::wstring GetVar() override;
    void SetFunction(int32_t value) override;
    int32_t GetFunction() override;

    // What closing the module's window does; korvoClose asks for the same.
    // Here: the main window ends the program, any other window is hidden.
    virtual void CloseRequest();

    const String& ExeDirectory() const { return exeDirectory; }
    const String& ExeName() const { return exeName; }
    platform::WebView* View() const { return webView.get(); }

protected:
    // The page is gone with the window: calls into script fail from here on.
    void OnDestroy() override;
    // Creates the web view (offscreen or to be packed by the caller) and
    // connects its load and title notices.
    void CreateView(bool offscreen);
    // Loads the page that "Script" names into the view; false (and nothing
    // loaded) when it names none.
    bool NavigateToScript();
    // The page address after "#EXEDIR#" substitution, as a URI.
    std::string PageUri(const String& address) const;
    // The application's modal message box with the program's name as title.
    int Box(const String& text, unsigned style);

    String exeDirectory;  // the program's folder, ending in "/"
    String exeName;       // the program's file name without extension
    int32_t functionValue = 0;  // behind window.external.function
    String varValue;            // behind window.external.var
    std::unique_ptr<platform::WebView> webView;

private:
    void korvoReserved(const ScriptValue& argument, ScriptValue& result);
    void korvoClose(const ScriptValue& argument, ScriptValue& result);

    // Connectors (ScriptConnectors.cpp).
    void RegisterConnectorFunctions();
    void korvoAddConnector(const ScriptValue& argument, ScriptValue& result);
    void korvoValidConnector(const ScriptValue& argument, ScriptValue& result);
    void korvoConnect(const ScriptValue& argument, ScriptValue& result);
    void korvoSendValue(const ScriptValue& argument, ScriptValue& result);
    void korvoReceiveValue(const ScriptValue& argument, ScriptValue& result);
    void korvoGetValue(const ScriptValue& argument, ScriptValue& result);
    void OnIFunctionChanged();
    void OnIVarChanged();

    // Trace, settings, message box, program folder and shell (HostServices.cpp).
    void RegisterHostServices();
    void korvoTrace(const ScriptValue& argument, ScriptValue& result);
    void korvoSetProfileString(const ScriptValue& argument, ScriptValue& result);
    void korvoSetProfileInt(const ScriptValue& argument, ScriptValue& result);
    void korvoGetProfileString(const ScriptValue& argument, ScriptValue& result);
    void korvoGetProfileInt(const ScriptValue& argument, ScriptValue& result);
    void korvoMessageBox(const ScriptValue& argument, ScriptValue& result);
    void korvoGetExeDir(const ScriptValue& argument, ScriptValue& result);
    void korvoShellExecute(const ScriptValue& argument, ScriptValue& result);

    // Files (ScriptFiles.cpp).
    void RegisterFileFunctions();
    void korvoListDir(const ScriptValue& argument, ScriptValue& result);
    void korvoReadFile(const ScriptValue& argument, ScriptValue& result);
    void korvoReadFileLine(const ScriptValue& argument, ScriptValue& result);
    void korvoWriteFile(const ScriptValue& argument, ScriptValue& result);
};
