#pragma once
// Support for tests that run the script modules on real pages in WebKitGTK:
// an X display (a private Xvfb when DISPLAY is unset), the main loop pumped
// until something happens, message boxes answered and written down, settings
// in a temporary folder, and pages written to a temporary folder.
//
// Every page gets a small script library: probe(number, source) evaluates
// source to build the argument, calls korvoApiCall and describes the result
// as text ("undefined", "null", "boolean:true", "number:5", "string:x").

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/Connector.h"
#include "modules/application/JavaScriptDispatch.h"
#include "platform/MessageBox.h"
#include "platform/WebView.h"
#include "support/MainLoopWait.h"
#include "support/TemporaryFolder.h"

// A page with title and script (added after the probe library) in body.
std::string Page(const std::string& title, const std::string& script, const std::string& body = "");

class ScriptPageTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes a page into the test's folder and returns its path.
    std::string WritePage(const std::string& name, const std::string& html);
    // Sets the module's "Script" to address, starts it and waits until the
    // page has finished loading (its load event included).
    template <typename Module>
    std::unique_ptr<Module> StartModule(const std::string& address, bool waitForPage = true) {
        auto module = std::make_unique<Module>();
        module->FindConnector(L"Script")->SetText(String::FromUtf8(address), false);
        module->Start();
        if (waitForPage) WaitForPage(*module->View());
        return module;
    }
    // Waits until the view's current load has finished.
    static void WaitForPage(platform::WebView& view);
    // The text of every box shown so far.
    std::vector<std::wstring> BoxTexts() const;

    std::unique_ptr<korvotest::TemporaryFolder> temporary;
    std::string folder;  // temporary's path
    std::vector<platform::MessageBoxRecord> boxes;
};

// Calls probe(number, source) in the module's page; the described result.
template <typename Module>
std::wstring Probe(Module& module, int32_t number, const std::string& source) {
    platform::ScriptValue result;
    std::vector<platform::ScriptValue> arguments{
        platform::ScriptValue::Int32(number),
        platform::ScriptValue::Text(String::FromUtf8(source).Text())};
    platform::ScriptStatus status = module.CallScript(L"probe", arguments, &result);
    if (status != platform::S_OK) return L"status " + std::to_wstring(status);
    return result.text;
}
