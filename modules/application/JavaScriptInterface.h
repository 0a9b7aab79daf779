#pragma once
// JavaScriptInterface: the invisible script module. It runs a page in a web
// view that is never on screen, so that the page's script takes part in the
// connector network through the numbered functions of window.external.
//
// The page address comes from the "Script" connector, kept in the project
// file; "#EXEDIR#" in it stands for the program's folder, and an address
// without a scheme is a file path (a relative one is taken from the folder of
// a project the user named on the command line, else from the current one). The connector's handler reloads the page
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
    virtual platform::ScriptValue korvoApiCall(int32_t number,
                                               const platform::ScriptValue& argument);
    platform::ScriptValue ApiCall(int32_t number, const platform::ScriptValue& argument) override;

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
    void korvoReserved(const platform::ScriptValue& argument, platform::ScriptValue& result);
    void korvoClose(const platform::ScriptValue& argument, platform::ScriptValue& result);

    // Connectors (ScriptConnectors.cpp).
    void RegisterConnectorFunctions();
    void korvoAddConnector(const platform::ScriptValue& argument, platform::ScriptValue& result);
    void korvoValidConnector(const platform::ScriptValue& argument, platform::ScriptValue& result);
    void korvoConnect(const platform::ScriptValue& argument, platform::ScriptValue& result);
    void korvoSendValue(const platform::ScriptValue& argument, platform::ScriptValue& result);
    void korvoReceiveValue(const platform::ScriptValue& argument, platform::ScriptValue& result);
    void korvoGetValue(const platform::ScriptValue& argument, platform::ScriptValue& result);
    void OnIFunctionChanged();
    void OnIVarChanged();

    // Trace, settings, message box, program folder and shell (HostServices.cpp).
    void RegisterHostServices();
    void korvoTrace(const platform::ScriptValue& argument, platform::ScriptValue& result);
    void korvoSetProfileString(const platform::ScriptValue& argument,
                               platform::ScriptValue& result);
    void korvoSetProfileInt(const platform::ScriptValue& argument, platform::ScriptValue& result);
    void korvoGetProfileString(const platform::ScriptValue& argument,
                               platform::ScriptValue& result);
    void korvoGetProfileInt(const platform::ScriptValue& argument, platform::ScriptValue& result);
    void korvoMessageBox(const platform::ScriptValue& argument, platform::ScriptValue& result);
    void korvoGetExeDir(const platform::ScriptValue& argument, platform::ScriptValue& result);
    void korvoShellExecute(const platform::ScriptValue& argument, platform::ScriptValue& result);

    // Files (ScriptFiles.cpp).
    void RegisterFileFunctions();
    void korvoListDir(const platform::ScriptValue& argument, platform::ScriptValue& result);
    void korvoReadFile(const platform::ScriptValue& argument, platform::ScriptValue& result);
    void korvoReadFileLine(const platform::ScriptValue& argument, platform::ScriptValue& result);
    void korvoWriteFile(const platform::ScriptValue& argument, platform::ScriptValue& result);
};
