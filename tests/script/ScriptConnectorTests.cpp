// The page in the connector network: functions 20 to 25, notifications
// through korvoOnConnectorChanged (also while the page loads), the adoption of
// the project's connectors, and the diagnostic members of window.external.

#include <gtest/gtest.h>

#include "framework/Connector.h"
#include "framework/Module.h"
#include "modules/application/JavaScriptInterface.h"
#include "platform/WebView.h"
#include "window/ScriptPageTest.h"

using platform::ScriptValue;
using platform::MB_ICONERROR;
using platform::MB_OK;

namespace {

// Records what the page hears and lets the test read it back.
const char* const ConnectorScript = R"js(
var changes = [];
function korvoOnConnectorChanged(name, value) { changes.push(name + "=" + value); }
function takeChanges() { var r = changes.join("|"); changes = []; return r; }
function call(number, args) { return window.external.korvoApiCall(number, args); }
)js";

// The other end of a project connection: a module with one text connector
// that writes down every value it is given.
class PeerModule : public KorvoModule {
  public:
    PeerModule() {
        peer = new KorvoTextConnector(L"Peer", MakeHandler(&PeerModule::OnChanged), 0, this);
        connectors.Add(peer);
    }
    void OnChanged(KorvoConnector* connector) { received.push_back(connector->GetText().Text()); }

    KorvoConnector* peer;
    std::vector<std::wstring> received;
};

class ScriptConnectorTest : public ScriptPageTest {
  protected:
    // Starts a module on a page with the connector script; prepare runs before
    // Start, as the host's project loading does.
    std::unique_ptr<JavaScriptInterface> StartPage(
        const std::string& script = "",
        const std::function<void(JavaScriptInterface&)>& prepare = {},
        const std::string& body = "") {
        auto module = std::make_unique<JavaScriptInterface>();
        if (prepare) prepare(*module);
        std::string path =
            WritePage("page.html", Page("page", std::string(ConnectorScript) + script, body));
        module->FindConnector(L"Script")->SetText(String::FromUtf8(path), false);
        module->Start();
        WaitForPage(*module->View());
        return module;
    }

    std::wstring Changes(JavaScriptInterface& module) {
        ScriptValue result;
        EXPECT_EQ(module.CallScript(L"takeChanges", &result), platform::S_OK);
        return result.text;
    }
};

TEST_F(ScriptConnectorTest, ConnectorFunctionsInSequence) {
    auto module = StartPage();
    const std::wstring invalidSend =
        L"Invalid parameter in function 'JavaScriptInterface::korvoSendValue'!";
    struct Row {
        int32_t number;
        const char* argument;
        std::wstring result;
        std::wstring box;      // the one box expected, or none
        unsigned style;        // its style
        std::wstring changes;  // what the page heard
    } rows[] = {
        // Kind 3 (and any code but 1, 2, 4) makes nothing.
        {20, "['Three', 3, 'x']", L"boolean:true", L"", 0, L""},
        {21, "['Three']", L"boolean:false", L"", 0, L""},
        {20, "['Nine', 9, true]", L"boolean:true", L"", 0, L""},
        {21, "['Nine']", L"boolean:false", L"", 0, L""},
        // Kind 1 with 0 keeps the zero value, with 7 stores 7.
        {20, "['Zero', 1, 0]", L"boolean:true", L"", 0, L""},
        {25, "['Zero']", L"string:0", L"", 0, L""},
        {20, "['Long', 1, 7]", L"boolean:true", L"", 0, L""},
        {25, "['Long']", L"string:7", L"", 0, L""},
        // A second add finds the connector and leaves its value.
        {20, "['Long', 4, 'ignored']", L"boolean:true", L"", 0, L""},
        {25, "['Long']", L"string:7", L"", 0, L""},
        // Each kind converts what it is given.
        {20, "['Double', 2, '1.5']", L"boolean:true", L"", 0, L""},
        {25, "['Double']", L"string:1.500000", L"", 0, L""},
        {20, "['Text', 4, 12]", L"boolean:true", L"", 0, L""},
        {25, "['Text']", L"string:12", L"", 0, L""},
        // A boolean initial value: the box, false, and the connector is there.
        {20, "['Flag', 1, true]", L"boolean:false", L"Invalid connector value: Flag", MB_ICONERROR,
         L""},
        {21, "['Flag']", L"boolean:true", L"", 0, L""},
        {25, "['Flag']", L"string:0", L"", 0, L""},
        {20, "['Undefined', 4, undefined]", L"boolean:false", L"Invalid connector value: Undefined",
         MB_ICONERROR, L""},
        {20, "['Short', 4]", L"undefined",
         L"Invalid parameter in function 'JavaScriptInterface::korvoAddConnector'!", MB_ICONERROR,
         L""},
        // 2.9 to a long connector truncates toward zero.
        {23, "['Long', 2.9, undefined]", L"boolean:true", L"", 0, L""},
        {25, "['Long']", L"string:2", L"", 0, L""},
        {23, "['Long', -2.9, false]", L"boolean:true", L"", 0, L""},
        {25, "['Long']", L"string:-2", L"", 0, L""},
        {23, "['Text', 'a\\nb', true]", L"boolean:true", L"", 0, L""},
        // The force element must be there, as every element must.
        {23, "['Text', 'c']", L"undefined", invalidSend, MB_ICONERROR, L""},
        {25, "['Text']", L"string:a\nb", L"", 0, L""},
        {23, "['Long', true, true]", L"boolean:false", L"Invalid connector value: Long",
         MB_ICONERROR, L""},
        {23, "['Long', null, true]", L"boolean:false", L"Invalid connector value: Long",
         MB_ICONERROR, L""},
        {23, "['Long', 1, null]", L"undefined", invalidSend, MB_ICONERROR, L""},
        {23, "['Long', 1, 1]", L"undefined", invalidSend, MB_ICONERROR, L""},
        {23, "['Missing', 1, false]", L"boolean:false", L"Connector not found: Missing",
         MB_ICONERROR, L""},
        // Asking for a value calls the page before the call returns.
        {24, "['Long']", L"boolean:true", L"", 0, L"Long=-2"},
        {24, "['Missing']", L"boolean:false", L"Connector not found: Missing", MB_ICONERROR, L""},
        {25, "['Missing']", L"string:", L"Connector not found: Missing", MB_ICONERROR, L""},
        {21, "[5]", L"undefined",
         L"Invalid parameter in function 'JavaScriptInterface::korvoValidConnector'!", MB_ICONERROR,
         L""},
        // Connecting: a missing first or second name gives a plain box.
        {22, "['Nowhere', 'Long']", L"boolean:false", L"Connector not found: Nowhere", MB_OK, L""},
        {22, "['Long', 'Nowhere']", L"boolean:false", L"Connector not found: Nowhere", MB_OK, L""},
        // The first connector's value goes to the second, whose handler tells the page.
        {22, "['Long', 'Text']", L"boolean:true", L"", 0, L"Text=-2"},
        {25, "['Text']", L"string:-2", L"", 0, L""},
    };
    for (const Row& row : rows) {
        boxes.clear();
        SCOPED_TRACE(std::to_string(row.number) + " " + row.argument);
        EXPECT_EQ(Probe(*module, row.number, row.argument), row.result);
        if (row.box.empty()) {
            EXPECT_TRUE(boxes.empty())
                << (boxes.empty() ? "" : String(boxes[0].text.c_str()).ToUtf8());
        } else {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, row.box);
            EXPECT_EQ(boxes[0].style, row.style);
        }
        EXPECT_EQ(Changes(*module), row.changes);
    }
}

TEST_F(ScriptConnectorTest, ValuesTravelBetweenThePageAndAPeerModule) {
    PeerModule other;
    auto module = StartPage();
    ASSERT_EQ(Probe(*module, 20, "['Send', 4, '']"), L"boolean:true");
    module->FindConnector(L"Send")->Connect(other.peer);
    other.received.clear();

    // From the page to the peer: unforced repeats pass once, forced ones every time.
    struct Row {
        const char* argument;
        size_t received;  // what the peer has heard after the call
    } rows[] = {
        {"['Send', 'abc', false]", 1},     {"['Send', 'abc', false]", 1},
        {"['Send', 'abc', undefined]", 2}, {"['Send', 'abc', undefined]", 3},
        {"['Send', 'abc', true]", 4},      {"['Send', 'xyz', false]", 5},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.argument);
        EXPECT_EQ(Probe(*module, 23, row.argument), L"boolean:true");
        EXPECT_EQ(other.received.size(), row.received);
    }
    EXPECT_EQ(other.received.back(), L"xyz");
    // The page does not hear its own sends.
    EXPECT_EQ(Changes(*module), L"");

    // From the peer to the page.
    other.peer->SetText(L"0012d6871001", true);
    EXPECT_EQ(Changes(*module), L"Send=0012d6871001");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ScriptConnectorTest, AdoptedProjectConnectorKeepsItsValueAndReportsChanges) {
    PeerModule other;
    auto module = StartPage("", [&](JavaScriptInterface& m) {
        auto* status =
            new KorvoTextConnector(L"Status", nullptr, KorvoConnector::FlagPersistent, &m);
        m.connectors.Add(status);
        status->SetText(L"Initializing...", false);
        status->Connect(other.peer);
    });
    EXPECT_EQ(Probe(*module, 20, "['Status', 1, 5]"), L"boolean:true");
    EXPECT_EQ(Probe(*module, 25, "['Status']"), L"string:Initializing...");
    EXPECT_EQ(Changes(*module), L"");
    other.peer->SetText(L"Available", false);
    EXPECT_EQ(Changes(*module), L"Status=Available");
    // The connector keeps its kind and links: the page's send reaches the peer.
    EXPECT_EQ(Probe(*module, 23, "['Status', 'No device available', undefined]"), L"boolean:true");
    EXPECT_EQ(other.received.back(), L"No device available");
}

TEST_F(ScriptConnectorTest, AdoptedScriptConnectorReportsANewAddressInsteadOfLoadingIt) {
    PeerModule other;
    auto module = StartPage("var marker = 'first document';");
    KorvoConnector* script = module->FindConnector(L"Script");
    script->Connect(other.peer);
    std::string uri = module->View()->Uri();
    ASSERT_EQ(Probe(*module, 20, "['Script', 4, '']"), L"boolean:true");

    WritePage("other.html", Page("other", "var marker = 'second document';"));
    other.peer->SetText(String::FromUtf8(folder + "/other.html"), false);
    EXPECT_EQ(Changes(*module), String::FromUtf8("Script=" + folder + "/other.html").Text());
    korvotest::PumpFor(300);
    EXPECT_EQ(module->View()->Uri(), uri);
    ScriptValue marker;
    ASSERT_EQ(module->CallScript(L"eval", std::vector<ScriptValue>{ScriptValue::Text(L"marker")},
                                 &marker),
              platform::S_OK);
    EXPECT_EQ(marker, ScriptValue::Text(L"first document"));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ScriptConnectorTest, PageThatAsksWhileLoadingGetsTheValue) {
    const char* ask = "function ask() { call(20, ['Status', 4, '']); call(24, ['Status']); }\n";
    struct Row {
        const char* when;
        std::string script;
    } rows[] = {
        {"inline script", "ask();"},
        {"DOMContentLoaded", "document.addEventListener('DOMContentLoaded', ask);"},
        {"load handler", "window.addEventListener('load', ask);"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.when);
        PeerModule other;
        auto module = StartPage(ask + row.script, [&](JavaScriptInterface& m) {
            auto* status = new KorvoTextConnector(L"Status", nullptr, 0, &m);
            m.connectors.Add(status);
            status->SetText(L"Available", false);
            status->Connect(other.peer);
        });
        EXPECT_EQ(Changes(*module), L"Status=Available");
        other.peer->SetText(L"No device available", false);
        EXPECT_EQ(Changes(*module), L"Status=No device available");
        EXPECT_TRUE(boxes.empty());
    }
}

// --- Diagnostic members ------------------------------------------------------

const char* const DiagnosticScript = R"js(
function setFunction(value) { window.external["function"] = value; return window.external["function"]; }
function setVar(value) { window.external["var"] = value; return window.external["var"]; }
function test(first, second) { window.external.Test(first, second); return window.external["var"]; }
function outer(id) { var e = document.getElementById(id); return e ? e.outerHTML : "none"; }
)js";

TEST_F(ScriptConnectorTest, FunctionPropertyBoxesAndItsTwoActions) {
    auto bare = StartPage(DiagnosticScript, {}, "<div id=\"ID_DISPLAY\">old</div>");
    ScriptValue result;
    // Without the page's korvoOnIFunctionChanged only the first box.
    ASSERT_EQ(bare->CallScript(L"setFunction", std::vector<ScriptValue>{ScriptValue::Int32(4097)},
                               &result),
              platform::S_OK);
    EXPECT_EQ(result, ScriptValue::Int32(4097));
    EXPECT_EQ(BoxTexts(), std::vector<std::wstring>{L"C-API OnIFunctionChanged: 4097"});
    EXPECT_EQ(boxes[0].style, MB_OK);

    boxes.clear();
    ASSERT_EQ(bare->CallScript(L"setFunction", std::vector<ScriptValue>{ScriptValue::Int32(4098)},
                               &result),
              platform::S_OK);
    EXPECT_EQ(BoxTexts(), std::vector<std::wstring>{L"C-API OnIFunctionChanged: 4098"});
    ASSERT_EQ(bare->CallScript(L"outer", std::vector<ScriptValue>{ScriptValue::Text(L"ID_DISPLAY")},
                               &result),
              platform::S_OK);
    EXPECT_EQ(result,
              ScriptValue::Text(L"<span class=\"_display\" style=\"background-color: #333; color: "
                                L"#fff;\" id=\"ID_DISPLAY\">DISPLAY</span>"));
    bare.reset();

    boxes.clear();
    auto answering = StartPage(std::string(DiagnosticScript) +
                               "function korvoOnIFunctionChanged() { return 'from the page'; }");
    ASSERT_EQ(answering->CallScript(L"setFunction",
                                    std::vector<ScriptValue>{ScriptValue::Int32(0x1001)}, &result),
              platform::S_OK);
    EXPECT_EQ(BoxTexts(), (std::vector<std::wstring>{
                              L"C-API OnIFunctionChanged: 4097",
                              L"C-API korvoOnIFunctionChanged returned: from the page"}));
}

TEST_F(ScriptConnectorTest, VarPropertyAndTestShowTheirBoxesInOrder) {
    auto module = StartPage(DiagnosticScript);
    ScriptValue result;
    ASSERT_EQ(module->CallScript(L"setVar", std::vector<ScriptValue>{ScriptValue::Text(L"before")},
                                 &result),
              platform::S_OK);
    EXPECT_EQ(result, ScriptValue::Text(L"before"));
    ASSERT_EQ(
        module->CallScript(
            L"test", std::vector<ScriptValue>{ScriptValue::Text(L"one"), ScriptValue::Text(L"two")},
            &result),
        platform::S_OK);
    EXPECT_EQ(result, ScriptValue::Text(L"C-API: jetzt 15"));
    EXPECT_EQ(BoxTexts(), (std::vector<std::wstring>{L"C-API OnIVarChanged: before", L"before",
                                                     L"one", L"two"}));
    for (const auto& box : boxes) EXPECT_EQ(box.style, MB_OK);
}

}  // namespace
