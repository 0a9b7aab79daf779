// Round-trip times of the script bridge, against WebKit's own asynchronous
// script-message-with-reply measured in the same run on the same page.
//
// Script -> native: the page calls korvoApiCall(1, []) in a tight loop from a
// timer (so the user-interface side serves from its idle watch, the usual
// case); the native handler notes the arrival time of each call, and the gap
// between two arrivals is one full round trip. WebKit's reply is measured the
// same way: the page awaits postMessage in a loop and the native handler notes
// arrivals. Native -> script: CallFunction of an empty function, timed around
// each call. Prints medians and 99th percentiles in microseconds.

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/PageTrust.h"
#include "platform/WebView.h"
#include "support/MainLoopWait.h"
#include "support/TemporaryFolder.h"

using namespace platform;

namespace {

constexpr int Calls = 20000;
constexpr int WarmUpCalls = 1000;

const char* BenchPage = R"(<!doctype html><html><head><title>bench</title><script>
function noop() {}
function apiLoop(n) { for (var i = 0; i < n; i++) window.external.korvoApiCall(1, []); }
function startApiLoop(n) { setTimeout(function() { apiLoop(n); }, 0); }
async function webkitLoop(n) {
  for (var i = 0; i < n; i++) await window.webkit.messageHandlers.bench.postMessage(1);
}
function startWebkitLoop(n) { setTimeout(function() { webkitLoop(n); }, 0); }
window.onload = function() { window.external.korvoApiCall(2, []); };
</script></head><body></body></html>)";

struct Host : ScriptHost {
    std::vector<gint64> arrivals;
    bool loaded = false;
    ScriptValue ApiCall(int32_t number, const ScriptValue&) override {
        if (number == 1) arrivals.push_back(g_get_monotonic_time());
        if (number == 2) loaded = true;
        return ScriptValue::Bool(false);
    }
};

std::vector<gint64> webkitArrivals;

gboolean OnWebkitMessage(WebKitUserContentManager*, JSCValue* value, WebKitScriptMessageReply* reply,
                         gpointer) {
    webkitArrivals.push_back(g_get_monotonic_time());
    JSCValue* answer = jsc_value_new_boolean(jsc_value_get_context(value), FALSE);
    webkit_script_message_reply_return_value(reply, answer);
    g_object_unref(answer);
    return TRUE;
}

// Bounds each phase of the run, so that a page that stopped calling ends the
// benchmark instead of hanging it.
constexpr int PhaseWaitMs = 120000;

struct Figures {
    double median = 0, p99 = 0;
};

Figures Summarise(std::vector<double> samples) {
    Figures f;
    if (samples.empty()) return f;
    std::sort(samples.begin(), samples.end());
    f.median = samples[samples.size() / 2];
    f.p99 = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
    return f;
}

std::vector<double> Gaps(const std::vector<gint64>& arrivals) {
    std::vector<double> gaps;
    for (size_t i = WarmUpCalls + 1; i < arrivals.size(); ++i) gaps.push_back(double(arrivals[i] - arrivals[i - 1]));
    return gaps;
}

}  // namespace

int main() {
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "bench_bridge needs a display (run it under Xvfb)\n");
        return 1;
    }
    korvotest::TemporaryFolder temporary("bench-bridge");
    std::string path = (temporary.path / "bench.html").string();
    std::ofstream(path) << BenchPage;

    Host host;
    platform::TrustPageFolder(temporary.path.string());
    WebView view(&host, true);
    WebKitUserContentManager* manager =
        webkit_web_view_get_user_content_manager(WEBKIT_WEB_VIEW(view.View()));
    webkit_user_content_manager_register_script_message_handler_with_reply(manager, "bench", nullptr);
    g_signal_connect(manager, "script-message-with-reply-received::bench", G_CALLBACK(OnWebkitMessage),
                     nullptr);
    view.Navigate("file://" + path);
    korvotest::PumpUntil([&] { return view.IsLoaded() && host.loaded; }, PhaseWaitMs);
    if (!view.IsLoaded()) {
        std::fprintf(stderr, "the bench page did not load\n");
        return 1;
    }
    const int total = Calls + WarmUpCalls + 1;

    // Script -> native, served from the idle watch.
    view.CallFunction(L"startApiLoop", {ScriptValue::Int32(total)}, nullptr);
    korvotest::PumpUntil([&] { return int(host.arrivals.size()) >= total; }, PhaseWaitMs);
    Figures api = Summarise(Gaps(host.arrivals));

    // Script -> native while native waits on the page (served inline).
    host.arrivals.clear();
    view.CallFunction(L"apiLoop", {ScriptValue::Int32(total)}, nullptr);
    Figures inlineApi = Summarise(Gaps(host.arrivals));

    // Native -> script.
    std::vector<double> native;
    for (int i = 0; i < total; ++i) {
        gint64 start = g_get_monotonic_time();
        view.CallFunction(L"noop", {}, nullptr);
        if (i > WarmUpCalls) native.push_back(double(g_get_monotonic_time() - start));
    }
    Figures nativeCall = Summarise(native);

    // WebKit's own asynchronous message with reply.
    view.CallFunction(L"startWebkitLoop", {ScriptValue::Int32(total)}, nullptr);
    korvotest::PumpUntil([&] { return int(webkitArrivals.size()) >= total; }, PhaseWaitMs);
    Figures webkit = Summarise(Gaps(webkitArrivals));

    std::printf("samples per figure: %d (after %d warm-up calls)\n", Calls, WarmUpCalls);
    std::printf("korvoApiCall(1, []) from script, idle native side: median %.1f us, p99 %.1f us\n",
                api.median, api.p99);
    std::printf("korvoApiCall(1, []) from script, native side waiting: median %.1f us, p99 %.1f us\n",
                inlineApi.median, inlineApi.p99);
    std::printf("native call of an empty script function: median %.1f us, p99 %.1f us\n",
                nativeCall.median, nativeCall.p99);
    std::printf("WebKit script-message-with-reply: median %.1f us, p99 %.1f us\n", webkit.median,
                webkit.p99);
    std::printf("bridge round trip us: api_median=%.1f api_p99=%.1f native_median=%.1f "
                "webkit_reply_median=%.1f ratio=%.2f\n",
                api.median, api.p99, nativeCall.median, webkit.median,
                webkit.median > 0 ? api.median / webkit.median : 0.0);
    return 0;
}
