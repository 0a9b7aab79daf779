// The page's part in the connector network (functions 20 to 25) and the
// diagnostic members of window.external.
//
// The page makes connectors in its own module, or adopts connectors that the
// project already made there (the page address "Script" included): either way
// the connector's handler becomes OnConnectorChanged, so every value that
// arrives through its link group is passed on to the page's
// korvoOnConnectorChanged(name, value). A value the page sets travels to the
// linked peers only; the page hears of its own changes through
// korvoReceiveValue when it asks.

#include <glib.h>

#include "JavaScriptInterface.h"
#include "ScriptArguments.h"
#include "framework/Connector.h"
#include "platform/MessageBox.h"

using platform::ScriptValue;
using Kind = ScriptValue::Kind;

namespace {

// The script's kind codes of korvoAddConnector; text is 4, not 3.
enum ScriptConnectorKind : int32_t { ScriptLong = 1, ScriptDouble = 2, ScriptText = 4 };

// Sets value on connector as the value's own kind (each connector converts to
// its kind); false when the value is no number or text.
bool SetFromScript(KorvoConnector* connector, const ScriptValue& value, bool force) {
    switch (value.kind) {
        case Kind::Int32:
            connector->SetLong(value.intValue, force);
            return true;
        case Kind::Double:
            connector->SetDouble(value.doubleValue, force);
            return true;
        case Kind::Text:
            connector->SetText(value.text.c_str(), force);
            return true;
        default:
            return false;
    }
}

const wchar_t* const DisplayMarkup =
    L"<span class=\"_display\" style=\"background-color: #333; color: #fff;\" "
    L"id=\"ID_DISPLAY\">DISPLAY</span>";

}  // namespace

void JavaScriptInterface::OnConnectorChanged(KorvoConnector* connector) {
    // A page without the function, or one that throws, changes nothing here.
    std::vector<String> texts{connector->Name(), connector->GetText()};
    CallScript(L"korvoOnConnectorChanged", &texts, nullptr);
}

KorvoConnector* JavaScriptInterface::FindNamedConnector(const String& name) {
    KorvoConnector* connector = FindConnector(name);
    if (connector == nullptr) Box(String(L"Connector not found: ") + name, platform::MB_ICONERROR);
    return connector;
}

void JavaScriptInterface::SetFromPage(KorvoConnector* connector, const ScriptValue& value,
                                      bool force, ScriptValue& result) {
    if (SetFromScript(connector, value, force))
        result = ScriptValue::Bool(true);
    else
        Refuse(String(L"Invalid connector value: ") + connector->Name(), platform::MB_ICONERROR,
               result);
}

void JavaScriptInterface::korvoAddConnector(const ScriptValue& argument, ScriptValue& result) {
    ScriptArguments arguments(*this, argument, L"JavaScriptInterface::korvoAddConnector");
    String name;
    int32_t kind = 0;
    ScriptValue value;
    arguments.Text(name) && arguments.Integer(kind) && arguments.Value(value);
    if (arguments.Failed()) return;

    if (KorvoConnector* existing = FindConnector(name)) {
        // Adopted as it is: value, owner and links stay.
        existing->SetHandler(MakeHandler(&JavaScriptInterface::OnConnectorChanged));
        result = ScriptValue::Bool(true);
        return;
    }
    KorvoHandler handler = MakeHandler(&JavaScriptInterface::OnConnectorChanged);
    KorvoConnector* connector = nullptr;
    switch (kind) {
        case ScriptLong:
            connector = new KorvoLongConnector(name, handler, 0, this);
            break;
        case ScriptDouble:
            connector = new KorvoDoubleConnector(name, handler, 0, this);
            break;
        case ScriptText:
            connector = new KorvoTextConnector(name, handler, 0, this);
            break;
        default:
            result = ScriptValue::Bool(true);
            return;
    }
    connectors.Add(connector);
    // Refused, the connector stays, with its zero value.
    SetFromPage(connector, value, false, result);
}

void JavaScriptInterface::korvoValidConnector(const ScriptValue& argument, ScriptValue& result) {
    ScriptArguments arguments(*this, argument, L"JavaScriptInterface::korvoValidConnector");
    String name;
    if (!arguments.Text(name)) return;
    result = ScriptValue::Bool(FindConnector(name) != nullptr);
}

void JavaScriptInterface::korvoConnect(const ScriptValue& argument, ScriptValue& result) {
    ScriptArguments arguments(*this, argument, L"JavaScriptInterface::korvoConnect");
    String first, second;
    arguments.Text(first) && arguments.Text(second);
    if (arguments.Failed()) return;
    KorvoConnector* from = FindConnector(first);
    KorvoConnector* to = from ? FindConnector(second) : nullptr;
    if (to == nullptr) {
        Refuse(String(L"Connector not found: ") + (from ? second : first), platform::MB_OK, result);
        return;
    }
    from->Connect(to);
    result = ScriptValue::Bool(true);
}

void JavaScriptInterface::korvoSendValue(const ScriptValue& argument, ScriptValue& result) {
    ScriptArguments arguments(*this, argument, L"JavaScriptInterface::korvoSendValue");
    String name;
    ScriptValue value;
    bool force = true;
    arguments.Text(name) && arguments.Value(value) && arguments.OptionalBoolean(force, true);
    if (arguments.Failed()) return;
    if (KorvoConnector* connector = FindNamedConnector(name))
        SetFromPage(connector, value, force, result);
    else
        result = ScriptValue::Bool(false);
}

void JavaScriptInterface::korvoReceiveValue(const ScriptValue& argument, ScriptValue& result) {
    ScriptArguments arguments(*this, argument, L"JavaScriptInterface::korvoReceiveValue");
    String name;
    if (!arguments.Text(name)) return;
    KorvoConnector* connector = FindNamedConnector(name);
    if (connector) OnConnectorChanged(connector);
    result = ScriptValue::Bool(connector != nullptr);
}

void JavaScriptInterface::korvoGetValue(const ScriptValue& argument, ScriptValue& result) {
    ScriptArguments arguments(*this, argument, L"JavaScriptInterface::korvoGetValue");
    String name;
    if (!arguments.Text(name)) return;
    KorvoConnector* connector = FindNamedConnector(name);
    result = ScriptValue::Text(connector ? connector->GetText().Text() : L"");
}

// --- Diagnostic members ------------------------------------------------------

void JavaScriptInterface::SetFunction(int32_t value) {
    functionValue = value;
    OnIFunctionChanged();
}

int32_t JavaScriptInterface::GetFunction() {
    return functionValue;
}

void JavaScriptInterface::OnIFunctionChanged() {
    Box(String::Format(L"C-API OnIFunctionChanged: %ld", static_cast<long>(functionValue)),
        platform::MB_OK);
    if (functionValue == 0x1001) {
        ScriptValue answer;
        if (CallScript(L"korvoOnIFunctionChanged", &answer) == platform::S_OK &&
            answer.kind == Kind::Text)
            Box(String(L"C-API korvoOnIFunctionChanged returned: ") + answer.text.c_str(),
                platform::MB_OK);
    } else if (functionValue == 0x1002) {
        // Only the page's current document is touched; before it exists nothing is.
        if (platform::WebView* window = ScriptWindow())
            window->ReplaceOuterHtml(L"ID_DISPLAY", DisplayMarkup);
    }
}

void JavaScriptInterface::SetVar(const std::wstring& value) {
    varValue = value.c_str();
    OnIVarChanged();
}

std::wstring JavaScriptInterface::GetVar() {
    return varValue.Text();
}

void JavaScriptInterface::OnIVarChanged() {
    Box(String::Format(L"C-API OnIVarChanged: %ls", varValue.Text()), platform::MB_OK);
}

void JavaScriptInterface::Test(const std::wstring& first, const std::wstring& second) {
    Box(varValue, platform::MB_OK);
    Box(first.c_str(), platform::MB_OK);
    Box(second.c_str(), platform::MB_OK);
    varValue = L"C-API: jetzt 15";
}
