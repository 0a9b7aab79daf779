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

namespace {

String TextOf(const ScriptValue& value) { return value.text.c_str(); }
int32_t IntegerOf(const ScriptValue& value) { return value.intValue; }
bool BooleanOf(const ScriptValue& value) { return value.boolValue; }

}  // namespace

template <typename T>
bool ScriptArguments::Take(T& value, Kind kind, T (*read)(const ScriptValue&), const T* fallback) {
    const ScriptValue* next = Next();
    if (next == nullptr) return false;
    if (fallback && next->kind == Kind::Empty) {
        value = *fallback;
        return true;
    }
    if (next->kind != kind) return Fail();
    value = read(*next);
    return true;
}

bool ScriptArguments::Text(String& value) {
    return Take<String>(value, Kind::Text, TextOf, nullptr);
}

bool ScriptArguments::OptionalText(String& value, const wchar_t* defaultValue) {
    const String fallback = defaultValue;
    return Take(value, Kind::Text, TextOf, &fallback);
}

bool ScriptArguments::Integer(int32_t& value) {
    return Take<int32_t>(value, Kind::Int32, IntegerOf, nullptr);
}

bool ScriptArguments::OptionalInteger(int32_t& value, int32_t defaultValue) {
    return Take(value, Kind::Int32, IntegerOf, &defaultValue);
}

bool ScriptArguments::OptionalBoolean(bool& value, bool defaultValue) {
    return Take(value, Kind::Bool, BooleanOf, &defaultValue);
}

bool ScriptArguments::Value(ScriptValue& value) {
    const ScriptValue* next = Next();
    if (next == nullptr) return false;
    value = *next;
    return true;
}
