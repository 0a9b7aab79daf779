#pragma once
// ScriptArguments: reads the argument of a numbered function the one way all
// of them share. The argument must be a script array; its elements are read in
// index order, one per call. The first element that is missing or of the
// wrong kind (and a first read from anything but an array) shows the
// parameter box with the function's qualified name once and fails every read
// from then on, so a function reads all its elements and only then looks at
// Failed() to return undefined.
//
// Kinds: text; integer (a 32-bit integer); boolean; any value (whatever the
// element holds, the caller decides by its kind). The Optional forms also
// accept an element that holds undefined and give the default for it; null is
// never undefined.

#include <cstdint>

#include "JavaScriptDispatch.h"

class ScriptArguments {
public:
    // functionName: the qualified name shown in the box ("JavaScriptWindow::korvoAddMenuItem").
    ScriptArguments(JavaScriptDispatch& dispatch, const platform::ScriptValue& argument,
                    const wchar_t* functionName);

    bool Text(String& value);
    bool OptionalText(String& value, const wchar_t* defaultValue);
    bool Integer(int32_t& value);
    bool OptionalInteger(int32_t& value, int32_t defaultValue);
    bool OptionalBoolean(bool& value, bool defaultValue);
    bool Value(platform::ScriptValue& value);

    bool Failed() const { return failed; }

private:
    // The next element, or null after reporting the parameter error.
    const platform::ScriptValue* Next();
    bool Fail();
    // Reads the next element when it is of kind, through read; with a
    // fallback, an undefined element gives the fallback instead.
    template <typename T>
    bool Take(T& value, platform::ScriptValue::Kind kind, T (*read)(const platform::ScriptValue&),
              const T* fallback);

    JavaScriptDispatch& dispatch;
    const platform::ScriptValue& argument;
    const wchar_t* functionName;
    platform::ScriptValue element;
    int32_t index = 0;
    bool failed = false;
};
