#include "JavaScriptDispatch.h"

#include <cwchar>

#include "platform/Application.h"
#include "platform/MessageBox.h"
#include "platform/ProgramFile.h"
#include "platform/WebView.h"

using platform::ScriptStatus;
using platform::ScriptValue;

namespace {

// The element index that a property name such as "12" stands for; false for
// anything that is not a plain decimal index.
bool ElementIndex(const wchar_t* name, std::size_t& index) {
    if (name == nullptr || *name == L'\0') return false;
    std::size_t value = 0;
    for (const wchar_t* c = name; *c; ++c) {
        if (*c < L'0' || *c > L'9' || value > (SIZE_MAX - 9) / 10) return false;
        value = value * 10 + static_cast<std::size_t>(*c - L'0');
    }
    index = value;
    return true;
}

}  // namespace

JavaScriptDispatch::JavaScriptDispatch() {
    Register(220, L"JavaScriptDispatch", L"testSetScriptArray",
             BindApiOperation(this, &JavaScriptDispatch::testSetScriptArray));
    Register(221, L"JavaScriptDispatch", L"testGetScriptArray",
             BindApiOperation(this, &JavaScriptDispatch::testGetScriptArray));
}

JavaScriptDispatch::~JavaScriptDispatch() = default;

ScriptValue JavaScriptDispatch::DefaultApiCall(int32_t, const ScriptValue&) { return {}; }

void JavaScriptDispatch::SetScriptDispatch(platform::WebView* window) { scriptWindow = window; }

void JavaScriptDispatch::Register(int number, const wchar_t* owner, const wchar_t* name,
                                  ApiOperation operation) {
    functions.at(static_cast<std::size_t>(number)) =
        std::make_unique<ApiFunctionEntry>(ApiFunctionEntry{owner, name, std::move(operation)});
}

const ApiFunctionEntry* JavaScriptDispatch::EntryOwnedBy(int32_t number, const wchar_t* owner) const {
    // Taken as unsigned, every negative number lies beyond the table too.
    if (static_cast<uint32_t>(number) >= FunctionCount) return nullptr;
    const ApiFunctionEntry* entry = functions[static_cast<std::size_t>(number)].get();
    return entry && entry->owner == owner ? entry : nullptr;
}

bool JavaScriptDispatch::RunEntry(int32_t number, const wchar_t* owner, const ScriptValue& argument,
                                  ScriptValue& result) {
    const ApiFunctionEntry* entry = EntryOwnedBy(number, owner);
    if (entry == nullptr) return false;
    entry->operation(argument, result);
    return true;
}

ScriptValue JavaScriptDispatch::DispatchApiCall(int32_t number, const ScriptValue& argument) {
    ScriptValue result;
    RunEntry(number, L"JavaScriptDispatch", argument, result);
    return result;
}

ScriptStatus JavaScriptDispatch::CallScript(const wchar_t* name, const std::vector<ScriptValue>& arguments,
                                            ScriptValue* result) {
    if (scriptWindow == nullptr || name == nullptr) return platform::E_FAIL;
    return scriptWindow->CallFunction(name, arguments, result);
}

ScriptStatus JavaScriptDispatch::CallScript(const wchar_t* name, const std::vector<String>* texts,
                                            ScriptValue* result) {
    std::vector<ScriptValue> arguments;
    if (texts)
        for (const String& text : *texts) arguments.push_back(ScriptValue::Text(text.Text()));
    return CallScript(name, arguments, result);
}

ScriptStatus JavaScriptDispatch::CallScript(const wchar_t* name, ScriptValue* result) {
    return CallScript(name, std::vector<ScriptValue>{}, result);
}

ScriptStatus JavaScriptDispatch::CallScriptWithArray(const wchar_t* name,
                                                     const std::vector<ScriptValue>& values,
                                                     ScriptValue* result) {
    if (scriptWindow == nullptr || name == nullptr) return platform::E_FAIL;
    return scriptWindow->CallFunctionWithArray(name, values, result);
}

void JavaScriptDispatch::ReportInvalidParameter(const wchar_t* functionName) {
    String text = String::Format(L"Invalid parameter in function '%ls'!", functionName ? functionName : L"");
    platform::MessageBox(platform::Application::Instance().MainOrActiveWindow(), text.Text(),
                         platform::ProgramFile::ExeName(), platform::MB_ICONERROR);
}

bool JavaScriptDispatch::GetScriptProperty(const ScriptValue& object, const wchar_t* name,
                                           ScriptValue& value) {
    std::size_t index = 0;
    if (!object.IsObject() || !ElementIndex(name, index)) return false;
    const ScriptValue* element = object.Element(index);
    if (element == nullptr) return false;
    value = *element;
    return true;
}

void JavaScriptDispatch::testSetScriptArray(const ScriptValue&, ScriptValue& result) {
    std::vector<ScriptValue> values{ScriptValue::Text(L"Hello "), ScriptValue::Text(L"World"),
                                    ScriptValue::Int32(12345), ScriptValue::Int32(67890)};
    CallScriptWithArray(L"testSetScriptArrayCallback", values, nullptr);
    result = ScriptValue::Bool(true);
}

void JavaScriptDispatch::testGetScriptArray(const ScriptValue& argument, ScriptValue& result) {
    if (!argument.IsObject()) {
        result = ScriptValue::Bool(false);
        return;
    }
    // The walk ends at the first element that is not there: a missing index
    // is the successful end, an element whose read threw in script a failure.
    ScriptValue element;
    for (std::size_t index = 0;; ++index) {
        String name = String::Format(L"%zu", index);
        if (GetScriptProperty(argument, name, element)) continue;
        result = ScriptValue::Bool(!argument.ReadFailed(index));
        return;
    }
}
