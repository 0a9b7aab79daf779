// The dispatch bridge: numbers resolved through the class levels, the argument
// convention and its error box, and native calls into the page's script.

#include <gtest/gtest.h>

#include "modules/application/JavaScriptWindow.h"
#include "platform/WebView.h"
#include "window/ScriptPageTest.h"

using platform::ScriptValue;
using platform::MB_ICONERROR;

namespace {

// Entries that the shipped classes do not have, to watch how owner names are
// compared: each answers with its own number.
class LevelProbe : public JavaScriptInterface {
public:
    LevelProbe() {
        Register(50, L"JavaScriptInterface", L"probe50",
                 BindApiOperation(this, &LevelProbe::Answer50));
        Register(51, L"javascriptinterface", L"probe51",
                 BindApiOperation(this, &LevelProbe::Answer51));
        Register(52, L"JavaScriptWindow", L"probe52",
                 BindApiOperation(this, &LevelProbe::Answer52));
        Register(53, L"JavaScriptDispatch", L"probe53",
                 BindApiOperation(this, &LevelProbe::Answer53));
    }

private:
    void Answer50(const ScriptValue&, ScriptValue& result) { result = ScriptValue::Int32(50); }
    void Answer51(const ScriptValue&, ScriptValue& result) { result = ScriptValue::Int32(51); }
    void Answer52(const ScriptValue&, ScriptValue& result) { result = ScriptValue::Int32(52); }
    void Answer53(const ScriptValue&, ScriptValue& result) { result = ScriptValue::Int32(53); }
};

TEST(DispatchLevels, EachLevelRunsOnlyTheEntriesWithItsExactClassName) {
    LevelProbe module;
    struct Row {
        int32_t number;
        ScriptValue expected;
    } rows[] = {
        {50, ScriptValue::Int32(50)},  // this level
        {51, ScriptValue::Empty()},    // the name differs in case only
        {52, ScriptValue::Empty()},    // a level above this class: nobody runs it
        {53, ScriptValue::Int32(53)},  // handed down to the dispatch level
        {221, ScriptValue::Bool(false)},  // the dispatch level's own entry (no array given)
        {2, ScriptValue::Empty()},     // empty slot
        {299, ScriptValue::Empty()},
        {300, ScriptValue::Empty()},
        {-1, ScriptValue::Empty()},
        {INT32_MIN, ScriptValue::Empty()},
    };
    for (const Row& row : rows)
        EXPECT_EQ(module.ApiCall(row.number, ScriptValue::Text(L"x")), row.expected) << row.number;
}

TEST(DispatchLevels, CallsIntoScriptFailBeforeThereIsAPage) {
    JavaScriptInterface module;
    ScriptValue result = ScriptValue::Text(L"untouched");
    std::vector<String> texts{L"a"};
    EXPECT_EQ(module.CallScript(L"anything", &result), platform::E_FAIL);
    EXPECT_EQ(module.CallScript(L"anything", &texts, &result), platform::E_FAIL);
    EXPECT_EQ(module.CallScriptWithArray(L"anything", {}, &result), platform::E_FAIL);
    EXPECT_EQ(result, ScriptValue::Text(L"untouched"));
}

const char* const BridgeScript = R"js(
var received = "none";
function testSetScriptArrayCallback(a) {
  var parts = [];
  for (var i = 0; i < a.length; i++) parts.push(typeof a[i] + ":" + a[i]);
  received = (Array.isArray(a) ? "array" : "other") + "[" + parts.join(",") + "]";
}
function lastReceived() { return received; }
function join3(a, b, c) { return [a, b, c].join("|") + "/" + arguments.length; }
function kinds() {
  var parts = [];
  for (var i = 0; i < arguments.length; i++) parts.push(describe(arguments[i]));
  return parts.join(",");
}
)js";

class BridgeTest : public ScriptPageTest {};

// Numbers and the argument convention, seen from the page. The window module
// resolves all three levels; the script module has no menu functions.
TEST_F(BridgeTest, NumbersAndArgumentConventionFromThePage) {
    std::string page = WritePage("bridge.html", Page("bridge", BridgeScript));
    auto window = StartModule<JavaScriptWindow>(page);
    auto script = StartModule<JavaScriptInterface>(page);
    const std::wstring addItemError = L"Invalid parameter in function 'JavaScriptWindow::korvoAddMenuItem'!";
    const std::wstring checkItemError =
        L"Invalid parameter in function 'JavaScriptWindow::korvoCheckMenuItem'!";
    struct Row {
        JavaScriptInterface* module;
        int32_t number;
        const char* argument;
        const wchar_t* result;
        std::wstring box;  // empty: no box
    } rows[] = {
        {script.get(), 300, "[]", L"undefined", L""},
        {script.get(), -1, "[]", L"undefined", L""},
        {script.get(), 2, "[]", L"undefined", L""},
        {script.get(), 1, "'text'", L"boolean:false", L""},
        {script.get(), 1, "[1, 2]", L"boolean:false", L""},
        {script.get(), 102, "[]", L"undefined", L""},
        {script.get(), 103, "['File', 0, 0, undefined]", L"undefined", L""},
        {script.get(), 104, "[1029, 1]", L"undefined", L""},
        {script.get(), 105, "[]", L"undefined", L""},
        {script.get(), 220, "'ignored'", L"boolean:true", L""},
        {script.get(), 221, "'text'", L"boolean:false", L""},
        {script.get(), 221, "null", L"boolean:false", L""},
        {script.get(), 221, "[]", L"boolean:true", L""},
        {script.get(), 221, "[1, 'a', , 3]", L"boolean:true", L""},
        // An element whose getter throws fails the walk; one after a hole is never read.
        {script.get(), 221, "Object.defineProperty([1, 2], 1, {get() { throw new Error('no'); }})",
         L"boolean:false", L""},
        {script.get(), 221, "Object.defineProperty([1, , 3], 2, {get() { throw new Error('no'); }})",
         L"boolean:true", L""},
        {window.get(), 1, "undefined", L"boolean:false", L""},
        {window.get(), 300, "[]", L"undefined", L""},
        {window.get(), 221, "[1, 2]", L"boolean:true", L""},
        {window.get(), 102, "'no array needed'", L"boolean:true", L""},
        {window.get(), 103, "['&File', 0, 0, undefined]", L"boolean:true", L""},
        {window.get(), 103, "['File', undefined, undefined, undefined]", L"boolean:true", L""},
        {window.get(), 103, "'File'", L"undefined", addItemError},
        {window.get(), 103, "['File']", L"undefined", addItemError},
        {window.get(), 103, "['File', 0, 0]", L"undefined", addItemError},
        {window.get(), 103, "['File', , 0, 0]", L"undefined", addItemError},
        {window.get(), 103, "[null, 0, 0, 0]", L"undefined", addItemError},
        {window.get(), 103, "[7, 0, 0, 0]", L"undefined", addItemError},
        {window.get(), 103, "['File', null, 0, 0]", L"undefined", addItemError},
        {window.get(), 103, "['File', 1.5, 0, 0]", L"undefined", addItemError},
        {window.get(), 103, "['File', '5', 0, 0]", L"undefined", addItemError},
        {window.get(), 104, "[1029]", L"undefined", checkItemError},
        {window.get(), 104, "[undefined, 1]", L"undefined", checkItemError},
        {window.get(), 104, "[1029, true]", L"undefined", checkItemError},
        {window.get(), 104, "[1029, undefined]", L"boolean:false", L""},
        {window.get(), 105, "[]", L"boolean:true", L""},
    };
    for (const Row& row : rows) {
        boxes.clear();
        SCOPED_TRACE(std::to_string(row.number) + " " + row.argument);
        EXPECT_EQ(Probe(*row.module, row.number, row.argument), row.result);
        if (row.box.empty()) {
            EXPECT_TRUE(boxes.empty());
        } else {
            ASSERT_EQ(boxes.size(), 1u) << "one box, however many elements are wrong";
            EXPECT_EQ(boxes[0].text, row.box);
            EXPECT_EQ(boxes[0].style, MB_ICONERROR);
        }
    }
}

TEST_F(BridgeTest, SetScriptArrayHandsTheFixedListToThePage) {
    auto module = StartModule<JavaScriptInterface>(WritePage("array.html", Page("array", BridgeScript)));
    EXPECT_EQ(Probe(*module, 220, "[]"), L"boolean:true");
    ScriptValue received;
    ASSERT_EQ(module->CallScript(L"lastReceived", &received), platform::S_OK);
    EXPECT_EQ(received.text, L"array[string:Hello ,string:World,number:12345,number:67890]");
}

TEST_F(BridgeTest, SetScriptArrayIsTrueEvenWithoutTheCallback) {
    auto module = StartModule<JavaScriptInterface>(WritePage("plain.html", Page("plain", "")));
    EXPECT_EQ(Probe(*module, 220, "[]"), L"boolean:true");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(BridgeTest, CallsIntoScriptPassTheirArgumentsInOrder) {
    auto module = StartModule<JavaScriptInterface>(WritePage("calls.html", Page("calls", BridgeScript)));
    ScriptValue result;

    std::vector<String> texts{L"first", L"second", L"third"};
    ASSERT_EQ(module->CallScript(L"join3", &texts, &result), platform::S_OK);
    EXPECT_EQ(result, ScriptValue::Text(L"first|second|third/3"));

    ASSERT_EQ(module->CallScript(L"join3", static_cast<const std::vector<String>*>(nullptr), &result),
              platform::S_OK);
    EXPECT_EQ(result, ScriptValue::Text(L"||/0"));

    std::vector<ScriptValue> values{ScriptValue::Int32(7), ScriptValue::Double(2.5), ScriptValue::Bool(true),
                                    ScriptValue::Null(), ScriptValue::Empty(), ScriptValue::Text(L"t")};
    ASSERT_EQ(module->CallScript(L"kinds", values, &result), platform::S_OK);
    EXPECT_EQ(result, ScriptValue::Text(L"number:7,number:2.5,boolean:true,null,undefined,string:t"));

    ASSERT_EQ(module->CallScriptWithArray(L"testSetScriptArrayCallback", {}, nullptr), platform::S_OK);
    ASSERT_EQ(module->CallScript(L"lastReceived", &result), platform::S_OK);
    EXPECT_EQ(result, ScriptValue::Text(L"array[]"));
}

TEST_F(BridgeTest, MissingScriptFunctionGivesTheLookupError) {
    auto module = StartModule<JavaScriptInterface>(WritePage("missing.html", Page("missing", BridgeScript)));
    ScriptValue result = ScriptValue::Text(L"untouched");
    EXPECT_EQ(module->CallScript(L"noSuchFunction", &result), platform::DISP_E_UNKNOWNNAME);
    EXPECT_EQ(module->CallScriptWithArray(L"noSuchFunction", {ScriptValue::Int32(1)}, nullptr),
              platform::DISP_E_UNKNOWNNAME);
    EXPECT_TRUE(boxes.empty());
    // The page goes on working.
    ASSERT_EQ(module->CallScript(L"lastReceived", &result), platform::S_OK);
    EXPECT_EQ(result, ScriptValue::Text(L"none"));
}

TEST_F(BridgeTest, CallsFailUntilThePageHasLoaded) {
    auto module = StartModule<JavaScriptInterface>(WritePage("late.html", Page("late", BridgeScript)),
                                                   /*waitForPage=*/false);
    ScriptValue result;
    EXPECT_EQ(module->CallScript(L"lastReceived", &result), platform::E_FAIL);
    WaitForPage(*module->View());
    EXPECT_EQ(module->CallScript(L"lastReceived", &result), platform::S_OK);
}

}  // namespace
