#pragma once
// JavaScriptDispatch: the numbered function table behind the page's
// window.external.korvoApiCall(number, argument), and native calls into the
// page's script.
//
// The table has 300 slots, numbered 0 to 299; the numbers are the interface
// that the page's script library is written against, so they never move. Each
// filled slot holds an ApiFunctionEntry: the name of the class that owns the
// operation and the operation itself. The constructors of the three class
// levels fill the slots they own: this class 220 and 221, JavaScriptInterface
// its numbers, JavaScriptWindow its menu numbers. A call is resolved level by
// level from the most derived class down: each level runs an entry only when
// the entry carries its own class name (compared exactly), and otherwise hands
// the call to the level below; the bottom level runs only "JavaScriptDispatch"
// entries. A number outside 0..299, an empty slot or an owner that no level
// claims gives undefined, without a message.
//
// Arguments follow one convention, checked by ScriptArguments: the argument is
// a script array, read element by element in index order; a missing element or
// one of the wrong kind is a parameter error, which shows the box of
// ReportInvalidParameter and makes the result undefined.
//
// Calls into the page go through the script window reference: the web view,
// once its current document exists (also while that document still loads).
// Before then every call fails with E_FAIL.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "framework/String.h"
#include "platform/bridge/ScriptValue.h"

namespace platform {
class WebView;
}

// A numbered function bound to the module object that owns it: reads its
// argument and writes its result.
using ApiOperation =
    std::function<void(const platform::ScriptValue& argument, platform::ScriptValue& result)>;

// Binds a member operation of a class level to that level's object.
template <typename Owner>
ApiOperation BindApiOperation(Owner* owner, void (Owner::*operation)(const platform::ScriptValue&,
                                                                     platform::ScriptValue&)) {
    return
        [owner, operation](const platform::ScriptValue& argument, platform::ScriptValue& result) {
            (owner->*operation)(argument, result);
        };
}

struct ApiFunctionEntry {
    String owner;  // "JavaScriptDispatch", "JavaScriptInterface" or "JavaScriptWindow"
    // The name the page's script library (installation/page/korvo.js) gives
    // the number, for the functions named korvo...; the reserved slot and the
    // diagnostic functions have no name there.
    String name;
    ApiOperation operation;
};

class JavaScriptDispatch {
public:
    // The number of function slots; the page's script library addresses them by number.
    static constexpr int FunctionCount = 300;

    JavaScriptDispatch();

    // Undefined for every number; nothing overrides it.
    virtual platform::ScriptValue DefaultApiCall(int32_t number,
                                                 const platform::ScriptValue& argument);
    virtual ~JavaScriptDispatch();
    // The web view whose loaded document native calls go to; null: none.
    virtual void SetScriptDispatch(platform::WebView* window);
    // Calls the page's global function name with texts in list order (null: no arguments).
    virtual platform::ScriptStatus CallScript(const wchar_t* name, const std::vector<String>* texts,
                                              platform::ScriptValue* result);
    virtual platform::ScriptStatus CallScript(const wchar_t* name,
                                              const std::vector<platform::ScriptValue>& arguments,
                                              platform::ScriptValue* result);
    virtual platform::ScriptStatus CallScript(const wchar_t* name, platform::ScriptValue* result);
    // Calls name with one argument: a new script array holding values.
    virtual platform::ScriptStatus CallScriptWithArray(
        const wchar_t* name, const std::vector<platform::ScriptValue>& values,
        platform::ScriptValue* result);
    // The box "Invalid parameter in function '<functionName>'!" with the error icon.
    virtual void ReportInvalidParameter(const wchar_t* functionName);
    // Reads property name ("0", "1", ...) of a script object; false when the
    // value is no object or the object has no such element.
    virtual bool GetScriptProperty(const platform::ScriptValue& object, const wchar_t* name,
                                   platform::ScriptValue& value);
    // The bottom dispatch level: runs entries owned by "JavaScriptDispatch".
    virtual platform::ScriptValue DispatchApiCall(int32_t number,
                                                  const platform::ScriptValue& argument);

protected:
    // Fills slot number; the constructors call it, nothing else does.
    void Register(int number, const wchar_t* owner, const wchar_t* name, ApiOperation operation);
    // The entry of slot number if that slot is filled and owned by owner, else null.
    const ApiFunctionEntry* EntryOwnedBy(int32_t number, const wchar_t* owner) const;
    // Runs the entry of slot number if owner owns it; false when it does not.
    bool RunEntry(int32_t number, const wchar_t* owner, const platform::ScriptValue& argument,
                  platform::ScriptValue& result);

    platform::WebView* ScriptWindow() const { return scriptWindow; }

private:
    void testSetScriptArray(const platform::ScriptValue& argument, platform::ScriptValue& result);
    void testGetScriptArray(const platform::ScriptValue& argument, platform::ScriptValue& result);

    platform::WebView* scriptWindow = nullptr;
    std::array<std::unique_ptr<ApiFunctionEntry>, FunctionCount> functions;
};
