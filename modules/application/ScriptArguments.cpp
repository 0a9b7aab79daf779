#include "ScriptArguments.h"

using platform::ScriptValue;
using Kind = ScriptValue::Kind;

ScriptArguments::ScriptArguments(JavaScriptDispatch& dispatch, const ScriptValue& argument,
                                 const wchar_t* functionName)
    : dispatch(dispatch), argument(argument), functionName(functionName) {}

bool ScriptArguments::Fail() {
    if (!failed) {
        failed = true;
        dispatch.ReportInvalidParameter(functionName);
    }
    return false;
}

const ScriptValue* ScriptArguments::Next() {
    if (failed) return nullptr;
    String name = String::Format(L"%i", index++);
    if (!argument.IsObject() || !dispatch.GetScriptProperty(argument, name, element)) {
        Fail();
        return nullptr;
    }
    return &element;
}

bool ScriptArguments::Text(String& value) {
    const ScriptValue* next = Next();
    if (next == nullptr) return false;
    if (next->kind != Kind::Text) return Fail();
    value = next->text.c_str();
    return true;
}

bool ScriptArguments::Integer(int32_t& value) {
    const ScriptValue* next = Next();
    if (next == nullptr) return false;
    if (next->kind != Kind::Int32) return Fail();
    value = next->intValue;
    return true;
}

bool ScriptArguments::OptionalInteger(int32_t& value, int32_t defaultValue) {
    const ScriptValue* next = Next();
    if (next == nullptr) return false;
    if (next->kind == Kind::Empty) {
        value = defaultValue;
        return true;
    }
    if (next->kind != Kind::Int32) return Fail();
    value = next->intValue;
    return true;
}

bool ScriptArguments::OptionalText(String& value, const wchar_t* defaultValue) {
    const ScriptValue* next = Next();
    if (next == nullptr) return false;
    if (next->kind == Kind::Empty) {
        value = defaultValue;
        return true;
    }
    if (next->kind != Kind::Text) return Fail();
    value = next->text.c_str();
    return true;
}

bool ScriptArguments::OptionalBoolean(bool& value, bool defaultValue) {
    const ScriptValue* next = Next();
    if (next == nullptr) return false;
    if (next->kind == Kind::Empty) {
        value = defaultValue;
        return true;
    }
    if (next->kind != Kind::Bool) return Fail();
    value = next->boolValue;
    return true;
}

bool ScriptArguments::Value(ScriptValue& value) {
    const ScriptValue* next = Next();
    if (next == nullptr) return false;
    value = *next;
    return true;
}
