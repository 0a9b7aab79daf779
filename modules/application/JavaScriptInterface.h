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
    // Every numbered function of this level has this signature: it reads the
    // script's argument and writes the answer into result.
    using Operation = void(const platform::ScriptValue& argument, platform::ScriptValue& result);
    struct NumberedOperation {
        int number;
        const wchar_t* name;  // as the page's script library names it; empty: no name there
        Operation JavaScriptInterface::*operation;
    };
    // The functions this level answers, by number; the constructor registers them.
    static const NumberedOperation Operations[];

    // Shows text in the error box and answers false: how a function refuses a
    // value or a name it cannot use.
    void Refuse(const String& text, unsigned style, platform::ScriptValue& result);

    Operation korvoReserved;
    Operation korvoClose;

    // Connectors (ScriptConnectors.cpp).
    Operation korvoAddConnector;
    Operation korvoValidConnector;
    Operation korvoConnect;
    Operation korvoSendValue;
    Operation korvoReceiveValue;
    Operation korvoGetValue;
    // The connector the page names; null after the "Connector not found" box.
    KorvoConnector* FindNamedConnector(const String& name);
    // Sets a value from the page on connector and answers true; a value that
    // is no number or text is refused with a box naming the connector.
    void SetFromPage(KorvoConnector* connector, const platform::ScriptValue& value, bool force,
                     platform::ScriptValue& result);
    void OnIFunctionChanged();
    void OnIVarChanged();

    // Trace, settings, message box, program folder and shell (HostServices.cpp).
    Operation korvoTrace;
    Operation korvoSetProfileString;
    Operation korvoSetProfileInt;
    Operation korvoGetProfileString;
    Operation korvoGetProfileInt;
    Operation korvoMessageBox;
    Operation korvoGetExeDir;
    Operation korvoShellExecute;
    // Both profile setters: stores the value as text or as an integer.
    void SetProfileValue(const platform::ScriptValue& argument, platform::ScriptValue& result,
                         const wchar_t* functionName, bool asInteger);

    // Files (ScriptFiles.cpp).
    Operation korvoListDir;
    Operation korvoReadFile;
    Operation korvoReadFileLine;
    Operation korvoWriteFile;
};
