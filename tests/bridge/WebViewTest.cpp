// Real pages in WebKitGTK talking to native code through WebView: calls both
// ways, nesting, values of every kind, dialogs, reload, a killed web process,
// an unresponsive page and documents outside the allowed folder.

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>

#include <glib/gstdio.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "BridgeTestSupport.h"
#include "platform/MessageBox.h"
#include "platform/ScriptDialog.h"
#include "platform/WebView.h"

using namespace platform;
using namespace bridge_test;
using Kind = ScriptValue::Kind;

namespace {

const char* kMainPage = R"(<!doctype html>
<html><head><meta charset="utf-8"><title>main</title><script>
function echo(x) { return x; }
function add(a, b) { return a + b; }
function thrower() { throw new Error("boom"); }
var notAFunction = 5;
function describe(x) {
  if (x === undefined) return "undefined";
  if (x === null) return "null";
  if (typeof x === "number") return Object.is(x, -0) ? "number:-0" : "number:" + x;
  if (typeof x === "string") return "string:" + x;
  if (Array.isArray(x)) {
    var parts = [];
    for (var i = 0; i < x.length; i++) parts.push(i in x ? describe(x[i]) : "hole");
    return "[" + parts.join(",") + "]";
  }
  return typeof x + ":" + x;
}
function describeAll() {
  var parts = [];
  for (var i = 0; i < arguments.length; i++) parts.push(describe(arguments[i]));
  return parts.join(" ");
}
class Tagged extends Array {}
var PageArray = window.Array;
function useTaggedArray(on) { window.Array = on ? Tagged : PageArray; }
function arrayInfo(a) {
  return (a instanceof Tagged ? "Tagged" : a instanceof PageArray ? "Array" : "other") + " " + describe(a);
}
function down(n) { return n == 0 ? 0 : window.external.korvoApiCall(3, [n]) + 1; }
function sendArgs() {
  return window.external.korvoApiCall(5, [1, 1.5, -0, 2147483648, -2147483648, "äö€😀\u0000z",
                                          null, undefined, , true, [7, [8]]]);
}
function dialogs() {
  alert("careful");
  return confirm("sure?") ? prompt("name?", "def") : "declined";
}
function nestedDialogs() { return window.external.korvoApiCall(4, []); }
function hang(ms) { var t = Date.now() + ms; while (Date.now() < t) {} return "late"; }
function properties() {
  external.var = 5;
  var v = external.var;
  external.function = "12";
  var f = external.function;
  external.Test("one", "two");
  var bad;
  try { external.function = "abc"; bad = "no error"; } catch (e) { bad = e.name; }
  return v + "|" + f + "|" + bad;
}
function badNumber() {
  try { external.korvoApiCall(); return "no error"; } catch (e) { return e.name; }
}
function externalShape() {
  var d = Object.getOwnPropertyDescriptor(window, "external");
  return d.configurable + "/" + d.writable + "/" + typeof external.korvoApiCall;
}
function callNative(n) { return window.external.korvoApiCall(n, []); }
function openWindow() { return window.open("main.html") === null; }
function go(url) { location.href = url; return true; }
function loneSurrogates() {
  external.Test("abc\uD800def", "\uDC00x\uD83D\uDE00");
  alert("abc\uD800def");
  external.korvoApiCall(6, ["a\uDBFFb", "\uD800"]);
  return "r\uDFFFs";
}
function tooLarge() {
  try { external.korvoApiCall(6, "x".repeat(17 * 1024 * 1024)); return "sent"; }
  catch (e) { return e.name + ": " + e.message; }
}
window.onload = function() { external.korvoApiCall(7, ["loaded"]); };
</script></head><body><span id="ID_DISPLAY">x</span></body></html>
)";

// Reports in its title whether it has the bridge.
const char* kProbePage = R"(<!doctype html>
<html><head><title>probe</title><script>
document.title = "external:" + (typeof window.external) + ":" +
                 (window.external ? typeof window.external.korvoApiCall : "-");
function ping() { return 1; }
</script></head><body></body></html>
)";

struct TestHost : ScriptHost {
    std::function<ScriptValue(int32_t, const ScriptValue&)> onApiCall;
    int loads = 0;
    ScriptValue lastArgument;
    std::wstring var;
    int32_t function = 0;
    std::vector<std::wstring> log;

    ScriptValue ApiCall(int32_t number, const ScriptValue& argument) override {
        if (number == 7) {
            ++loads;
            return {};
        }
        lastArgument = argument;
        if (onApiCall) return onApiCall(number, argument);
        return {};
    }
    void Test(const std::wstring& first, const std::wstring& second) override {
        log.push_back(L"Test " + first + L" " + second);
    }
    void SetVar(const std::wstring& value) override { var = value; }
    std::wstring GetVar() override { return L"var=" + var; }
    void SetFunction(int32_t value) override { function = value; }
    int32_t GetFunction() override { return function + 1; }
};

class WebViewTest : public SharedViewSuite<TestHost> {
protected:
    static void SetUpTestSuite() {
        if (!OpenFolder("bridge-test")) return;
        for (const char* sub : {"/app", "/app/sub", "/app2"}) g_mkdir((folder + sub).c_str(), 0700);
        WriteFile(folder + "/app/main.html", kMainPage);
        WriteFile(folder + "/app/sub/inner.html", kProbePage);
        WriteFile(folder + "/app2/page.html", kProbePage);
        WriteFile(folder + "/outside.html", kProbePage);
        OpenView();
        view->onTitleChanged = [](const std::wstring& title) { lastTitle = title; };
    }
    static void TearDownTestSuite() { CloseSuite(); }

    void SetUp() override {
        if (!view) GTEST_SKIP() << "no display (DISPLAY unset or not reachable): run under Xvfb";
        host->onApiCall = nullptr;
        view->SetWaitTimeout(WebView::kDefaultWaitTimeoutMs);
        SetMessageBoxHook(nullptr);
        SetPromptBoxHook(nullptr);
        if (!view->IsLoaded() || view->Uri() != MainUri()) Load(MainUri());
    }
    void TearDown() override {
        SetMessageBoxHook(nullptr);
        SetPromptBoxHook(nullptr);
    }

    static std::string MainUri() { return "file://" + folder + "/app/main.html"; }
    static void Load(const std::string& uri) {
        int loads = host->loads;
        view->Navigate(uri);
        ASSERT_TRUE(PumpUntil([&] { return view->IsLoaded() && host->loads > loads; }))
            << "the page did not load: " << uri;
    }

    static inline std::wstring lastTitle;
};

TEST_F(WebViewTest, CallsFailBeforeTheDocumentHasLoaded) {
    TestHost otherHost;
    WebView fresh(&otherHost, true);
    ScriptValue result;
    EXPECT_EQ(fresh.CallFunction(L"echo", {}, &result), E_FAIL);
    fresh.Navigate(folder + "/app/main.html");  // a plain path, as a project may give it
    EXPECT_FALSE(fresh.IsLoaded());
    EXPECT_EQ(fresh.CallFunction(L"echo", {}, &result), E_FAIL);
    EXPECT_EQ(fresh.CallFunctionWithArray(L"arrayInfo", {}, &result), E_FAIL);
    ASSERT_TRUE(PumpUntil([&] { return fresh.IsLoaded() && otherHost.loads == 1; }));
    EXPECT_EQ(fresh.CallFunction(L"add", {ScriptValue::Int32(2), ScriptValue::Int32(3)}, &result), S_OK);
    EXPECT_EQ(result, ScriptValue::Int32(5));
}

TEST_F(WebViewTest, StatusOfCallsThatCannotRun) {
    struct Case {
        const wchar_t* name;
        ScriptStatus status;
    } cases[] = {
        {L"noSuchFunction", DISP_E_UNKNOWNNAME},
        {L"", DISP_E_UNKNOWNNAME},
        {L"notAFunction", DISP_E_MEMBERNOTFOUND},
        {L"thrower", DISP_E_EXCEPTION},
    };
    for (const auto& c : cases) {
        ScriptValue result = ScriptValue::Int32(99);
        EXPECT_EQ(view->CallFunction(c.name, {}, &result), c.status)
            << "function " << EncodeUtf8(c.name);
    }
    // The page is unharmed by the failures.
    EXPECT_EQ(Call(L"add", {ScriptValue::Int32(1), ScriptValue::Int32(2)}), ScriptValue::Int32(3));
}

TEST_F(WebViewTest, ValuesTravelToScriptAndBack) {
    ScriptValue holes;
    holes.kind = Kind::Object;
    holes.Append(ScriptValue::Int32(1));
    holes.Append(ScriptValue(), false);
    holes.Append(ScriptValue::Empty());
    struct Case {
        ScriptValue value;
        std::wstring described;  // what the page sees
    } cases[] = {
        {ScriptValue::Empty(), L"undefined"},
        {ScriptValue::Null(), L"null"},
        {ScriptValue::Bool(true), L"boolean:true"},
        {ScriptValue::Int32(-2147483647 - 1), L"number:-2147483648"},
        {ScriptValue::Double(0.5), L"number:0.5"},
        {ScriptValue::Double(-0.0), L"number:-0"},
        {ScriptValue::Double(4294967296.0), L"number:4294967296"},
        {ScriptValue::Text(L"äö€😀"), L"string:äö€😀"},
        {ScriptValue::Text(std::wstring(L"a\0b", 3)), std::wstring(L"string:a\0b", 10)},
        {holes, L"[number:1,hole,undefined]"},
        {ScriptValue::Array({ScriptValue::Text(L"x"), ScriptValue::Array({ScriptValue::Null()})}),
         L"[string:x,[null]]"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Call(L"describe", {c.value}), ScriptValue::Text(c.described))
            << EncodeUtf8(c.described);
    }
    // And back: echo returns each value as it came, except that a double
    // holding an integral 32-bit value becomes an Int32 (one number type in script).
    for (const auto& c : cases) {
        ScriptValue back = Call(L"echo", {c.value});
        if (c.value.kind == Kind::Object) {
            ASSERT_EQ(back.kind, Kind::Object);
            EXPECT_EQ(back.Length(), c.value.Length());
            for (size_t i = 0; i < c.value.Length(); ++i)
                EXPECT_EQ(back.Element(i) != nullptr, c.value.Element(i) != nullptr) << i;
        } else {
            EXPECT_EQ(back, c.value);
        }
    }
    EXPECT_EQ(Call(L"echo", {ScriptValue::Double(3.0)}), ScriptValue::Int32(3));
    // Several arguments keep their order.
    EXPECT_EQ(Call(L"describeAll", {ScriptValue::Int32(1), ScriptValue::Text(L"two"), ScriptValue::Null()}),
              ScriptValue::Text(L"number:1 string:two null"));
}

TEST_F(WebViewTest, ScriptArgumentsArriveWithTheirKinds) {
    host->onApiCall = [](int32_t number, const ScriptValue&) { return ScriptValue::Int32(number * 10); };
    EXPECT_EQ(Call(L"sendArgs"), ScriptValue::Int32(50));
    const ScriptValue& a = host->lastArgument;
    ASSERT_EQ(a.kind, Kind::Object);
    ASSERT_EQ(a.Length(), 11u);
    EXPECT_EQ(*a.Element(0), ScriptValue::Int32(1));
    EXPECT_EQ(*a.Element(1), ScriptValue::Double(1.5));
    ASSERT_EQ(a.Element(2)->kind, Kind::Double);  // -0 is not an integer
    EXPECT_TRUE(std::signbit(a.Element(2)->doubleValue));
    EXPECT_EQ(*a.Element(3), ScriptValue::Double(2147483648.0));
    EXPECT_EQ(*a.Element(4), ScriptValue::Int32(-2147483647 - 1));
    EXPECT_EQ(*a.Element(5), ScriptValue::Text(std::wstring(L"äö€😀\0z", 6)));
    EXPECT_EQ(*a.Element(6), ScriptValue::Null());
    ASSERT_NE(a.Element(7), nullptr);  // undefined is present...
    EXPECT_EQ(a.Element(7)->kind, Kind::Empty);
    EXPECT_EQ(a.Element(8), nullptr);  // ...a hole is not
    EXPECT_EQ(*a.Element(9), ScriptValue::Bool(true));
    const ScriptValue* nested = a.Element(10);
    ASSERT_TRUE(nested && nested->kind == Kind::Object && nested->Length() == 2);
    EXPECT_EQ(*nested->Element(0), ScriptValue::Int32(7));
    EXPECT_EQ(*nested->Element(1)->Element(0), ScriptValue::Int32(8));
    EXPECT_EQ(a.Element(11), nullptr);  // past the end

    EXPECT_EQ(Call(L"badNumber"), ScriptValue::Text(L"TypeError"));
}

TEST_F(WebViewTest, LoneSurrogatesBecomeReplacementCharactersAndTheRestIsKept) {
    std::vector<MessageBoxRecord> boxes;
    SetMessageBoxHook([&](const MessageBoxRecord& box) {
        boxes.push_back(box);
        return IDOK;
    });
    host->log.clear();
    EXPECT_EQ(Call(L"loneSurrogates"), ScriptValue::Text(L"r\uFFFDs"));
    EXPECT_EQ(host->log, std::vector<std::wstring>{L"Test abc\uFFFDdef \uFFFDx😀"});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, L"abc\uFFFDdef");
    EXPECT_EQ(host->lastArgument,
              ScriptValue::Array({ScriptValue::Text(L"a\uFFFDb"), ScriptValue::Text(L"\uFFFD")}));
    // And towards the page: a code point no script string can hold.
    std::wstring unpaired = L"a";
    unpaired += wchar_t(0xD800);
    unpaired += L"b";
    EXPECT_EQ(Call(L"describe", {ScriptValue::Text(unpaired)}),
              ScriptValue::Text(L"string:a\uFFFDb"));
}

TEST_F(WebViewTest, ACallTooLargeForTheBridgeSaysSo) {
    ScriptValue result = Call(L"tooLarge");
    EXPECT_EQ(result.text.rfind(L"RangeError: The call is too large for the script bridge", 0), 0u)
        << EncodeUtf8(result.text);
    // The bridge is still there.
    EXPECT_EQ(Call(L"add", {ScriptValue::Int32(2), ScriptValue::Int32(3)}), ScriptValue::Int32(5));
}

TEST_F(WebViewTest, ArraysAreMadeByThePagesOwnArray) {
    EXPECT_EQ(view->CallFunctionWithArray(L"arrayInfo", {}, nullptr), S_OK);
    ScriptValue result;
    ASSERT_EQ(view->CallFunctionWithArray(L"arrayInfo", {}, &result), S_OK);
    EXPECT_EQ(result, ScriptValue::Text(L"Array []"));
    ASSERT_EQ(view->CallFunctionWithArray(
                  L"arrayInfo", {ScriptValue::Text(L"Hello "), ScriptValue::Int32(12345)}, &result),
              S_OK);
    EXPECT_EQ(result, ScriptValue::Text(L"Array [string:Hello ,number:12345]"));

    Call(L"useTaggedArray", {ScriptValue::Bool(true)});
    ASSERT_EQ(view->CallFunctionWithArray(L"arrayInfo", {}, &result), S_OK);
    Call(L"useTaggedArray", {ScriptValue::Bool(false)});
    EXPECT_EQ(result, ScriptValue::Text(L"Tagged []"));

    EXPECT_EQ(view->CallFunctionWithArray(L"noSuchFunction", {}, &result), DISP_E_UNKNOWNNAME);
}

TEST_F(WebViewTest, CallsNestBothWaysMoreThanAHundredLevels) {
    // down(n) in script calls native 3, which calls down(n - 1) in script: 2n
    // crossings, each level adding one on both sides.
    int deepest = 0;
    host->onApiCall = [&](int32_t number, const ScriptValue& argument) -> ScriptValue {
        if (number != 3) return {};
        int n = argument.Element(0)->intValue;
        deepest = std::max(deepest, n);
        ScriptValue inner;
        if (view->CallFunction(L"down", {ScriptValue::Int32(n - 1)}, &inner) != S_OK) return {};
        return ScriptValue::Int32(inner.intValue + 1);
    };
    for (int levels : {1, 120}) {
        EXPECT_EQ(Call(L"down", {ScriptValue::Int32(levels)}), ScriptValue::Int32(2 * levels));
    }
    EXPECT_EQ(deepest, 120);
}

TEST_F(WebViewTest, TwoViewsCallEachOtherWhileNested) {
    TestHost otherHost;
    WebView other(&otherHost, true);
    other.Navigate(MainUri());
    ASSERT_TRUE(PumpUntil([&] { return other.IsLoaded() && otherHost.loads == 1; }));
    // Each page's down(n) asks its native side, which calls down(n - 1) in the
    // other view: the waits of both channels interleave.
    auto relay = [](WebView* next) {
        return [next](int32_t number, const ScriptValue& argument) -> ScriptValue {
            if (number != 3) return {};
            ScriptValue inner;
            if (next->CallFunction(L"down", {ScriptValue::Int32(argument.Element(0)->intValue - 1)},
                                   &inner) != S_OK)
                return {};
            return ScriptValue::Int32(inner.intValue + 1);
        };
    };
    host->onApiCall = relay(&other);
    otherHost.onApiCall = relay(view);
    EXPECT_EQ(Call(L"down", {ScriptValue::Int32(30)}), ScriptValue::Int32(60));
    ScriptValue result;
    EXPECT_EQ(other.CallFunction(L"down", {ScriptValue::Int32(31)}, &result), S_OK);
    EXPECT_EQ(result, ScriptValue::Int32(62));
}

TEST_F(WebViewTest, AViewDestroyedInsideACallFromItsOwnPage) {
    TestHost doomedHost;
    auto* doomed = new WebView(&doomedHost, true);
    doomed->Navigate(MainUri());
    ASSERT_TRUE(PumpUntil([&] { return doomed->IsLoaded() && doomedHost.loads == 1; }));
    bool destroyed = false;
    doomedHost.onApiCall = [&](int32_t, const ScriptValue&) -> ScriptValue {
        delete doomed;
        destroyed = true;
        return ScriptValue::Int32(1);
    };
    // native -> page -> native, which destroys the view the outer call is on.
    EXPECT_EQ(doomed->CallFunction(L"callNative", {ScriptValue::Int32(9)}, nullptr), E_FAIL);
    EXPECT_TRUE(destroyed);
    // The main loop runs on without touching what is gone.
    PumpUntil([] { return false; }, 300);
    EXPECT_EQ(Call(L"add", {ScriptValue::Int32(2), ScriptValue::Int32(2)}), ScriptValue::Int32(4));
}

TEST_F(WebViewTest, DialogsInsideNestedCallsAreAnsweredNatively) {
    std::vector<MessageBoxRecord> boxes;
    SetMessageBoxHook([&](const MessageBoxRecord& box) {
        boxes.push_back(box);
        return IDOK;
    });
    std::vector<std::wstring> prompts;
    SetPromptBoxHook([&](const std::wstring& message, const std::wstring& text) {
        prompts.push_back(message + L"/" + text);
        return std::optional<std::wstring>(L"Ann");
    });
    // native -> script -> native -> script, whose alert/confirm/prompt come
    // back to native while both sides wait.
    host->onApiCall = [&](int32_t number, const ScriptValue&) -> ScriptValue {
        ScriptValue inner;
        if (number == 4) view->CallFunction(L"dialogs", {}, &inner);
        return inner;
    };
    EXPECT_EQ(Call(L"nestedDialogs"), ScriptValue::Text(L"Ann"));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, L"careful");
    EXPECT_EQ(boxes[1].text, L"sure?");
    EXPECT_EQ(prompts, std::vector<std::wstring>{L"name?/def"});

    SetMessageBoxHook([](const MessageBoxRecord&) { return IDCANCEL; });
    EXPECT_EQ(Call(L"nestedDialogs"), ScriptValue::Text(L"declined"));
    SetPromptBoxHook([](const std::wstring&, const std::wstring&) { return std::nullopt; });
    SetMessageBoxHook([](const MessageBoxRecord&) { return IDOK; });
    EXPECT_EQ(Call(L"nestedDialogs"), ScriptValue::Null());

    EXPECT_EQ(Call(L"openWindow"), ScriptValue::Bool(true));
}

TEST_F(WebViewTest, ExternalObjectMembers) {
    EXPECT_EQ(Call(L"externalShape"), ScriptValue::Text(L"true/false/function"));
    host->log.clear();
    host->var.clear();
    EXPECT_EQ(Call(L"properties"), ScriptValue::Text(L"var=5|13|TypeError"));
    EXPECT_EQ(host->var, L"5");
    EXPECT_EQ(host->function, 12);
    EXPECT_EQ(host->log, std::vector<std::wstring>{L"Test one two"});
}

TEST_F(WebViewTest, ReplaceOuterHtml) {
    EXPECT_EQ(view->ReplaceOuterHtml(L"ID_DISPLAY", L"<b id=\"ID_DISPLAY\">DISPLAY</b>"), S_OK);
    ScriptValue result;
    ASSERT_EQ(view->CallFunction(L"eval", {ScriptValue::Text(L"document.getElementById('ID_DISPLAY').outerHTML")}, &result), S_OK);
    EXPECT_EQ(result, ScriptValue::Text(L"<b id=\"ID_DISPLAY\">DISPLAY</b>"));
    EXPECT_EQ(view->ReplaceOuterHtml(L"NO_SUCH_ID", L"<i></i>"), S_FALSE);
}

TEST_F(WebViewTest, ReloadKeepsTheBridge) {
    int loads = host->loads;
    view->Reload();
    EXPECT_EQ(view->CallFunction(L"echo", {}, nullptr), E_FAIL);  // loading
    ASSERT_TRUE(PumpUntil([&] { return view->IsLoaded() && host->loads > loads; }));
    EXPECT_EQ(Call(L"add", {ScriptValue::Int32(20), ScriptValue::Int32(22)}), ScriptValue::Int32(42));
    host->onApiCall = [](int32_t, const ScriptValue&) { return ScriptValue::Int32(-1); };
    EXPECT_EQ(Call(L"down", {ScriptValue::Int32(1)}), ScriptValue::Int32(0));
}

TEST_F(WebViewTest, KilledWebProcessFailsTheCallAndThePageComesBack) {
    int pid = view->WebProcessId();
    ASSERT_GT(pid, 0);
    bool terminated = false;
    view->onWebProcessTerminated = [&] { terminated = true; };
    std::thread killer([pid] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        kill(pid, SIGKILL);
    });
    auto start = std::chrono::steady_clock::now();
    ScriptValue result;
    EXPECT_EQ(view->CallFunction(L"hang", {ScriptValue::Int32(60000)}, &result), E_FAIL);
    auto waited = std::chrono::steady_clock::now() - start;
    killer.join();
    EXPECT_LT(waited, std::chrono::seconds(5)) << "the call in flight should fail at the end of file";
    int loads = host->loads;
    ASSERT_TRUE(PumpUntil([&] { return terminated && view->IsLoaded() && host->loads > loads; }));
    view->onWebProcessTerminated = nullptr;
    EXPECT_NE(view->WebProcessId(), pid);
    EXPECT_EQ(Call(L"add", {ScriptValue::Int32(1), ScriptValue::Int32(1)}), ScriptValue::Int32(2));
}

TEST_F(WebViewTest, AnUnresponsivePageIsGivenUpAndHeardFromAgain) {
    view->SetWaitTimeout(300);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(view->CallFunction(L"hang", {ScriptValue::Int32(1500)}, nullptr), E_FAIL);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1400));
    // Still busy: refused at once instead of waiting again.
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(view->CallFunction(L"echo", {}, nullptr), E_FAIL);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    // Its late answer shows it is back.
    ScriptValue result;
    ASSERT_TRUE(PumpUntil([&] { return view->CallFunction(L"echo", {ScriptValue::Int32(8)}, &result) == S_OK; }, 5000));
    EXPECT_EQ(result, ScriptValue::Int32(8));
}

TEST_F(WebViewTest, OnlyDocumentsUnderTheNavigatedFolderAreReached) {
    struct Case {
        const char* path;  // relative to the test folder
        bool reached;
    } cases[] = {
        {"/app/sub/inner.html", true},
        {"/outside.html", false},
        {"/app2/page.html", false},  // shares a prefix with app, not the folder
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::string uri = "file://" + folder + c.path;
        lastTitle.clear();
        ASSERT_EQ(view->CallFunction(
                      L"go", {ScriptValue::Text(std::wstring(uri.begin(), uri.end()))}, nullptr),
                  S_OK);
        if (c.reached) {
            ASSERT_TRUE(PumpUntil(
                [&] { return view->IsLoaded() && view->Uri() == uri && !lastTitle.empty(); }));
            EXPECT_EQ(lastTitle, L"external:object:function");
            EXPECT_EQ(view->CallFunction(L"ping", {}, nullptr), S_OK);
        } else {
            // Refused: the window keeps its page and the page its bridge.
            PumpUntil([] { return false; }, 600);
            EXPECT_EQ(view->Uri(), MainUri());
            EXPECT_EQ(Call(L"add", {ScriptValue::Int32(1), ScriptValue::Int32(1)}),
                      ScriptValue::Int32(2));
        }
        Load(MainUri());
    }
}

}  // namespace
