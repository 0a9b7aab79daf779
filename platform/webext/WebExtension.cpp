// libKorvoWebExtension.so: the page's end of the script bridge, loaded into
// every web process.
//
// The user-interface process hands over the path of its bridge socket and this
// process's secret token as initialization data. For each page of this process
// the extension opens its own connection and says hello with the page id and
// the token; the user-interface process matches the id to its view. All
// connections of the process form one channel group, so a wait for one page
// also serves calls into another page here.
//
// Every resource a page asks for (scripts, styles, frames, fetches, images) is
// first checked with the user-interface process: what lies outside the page's
// folder or origin is not loaded. Inline script and style, data: and blob:
// addresses stay local and load as usual.
//
// Whenever a document gets its window object (first load and every reload,
// before any of its script runs), the extension
//   - replaces alert, confirm and prompt by bridge requests answered by native
//     dialogs, and makes window.open return null: their own implementations
//     wait on the toolkit's IPC, which stalls while the user-interface process
//     waits on this page;
//   - asks the user-interface process whether this document may use the bridge
//     (a file: document under the navigated folder, which the user trusts),
//     and only then defines window.external: korvoApiCall, Test, var and
//     function.
// Native calls into script use the script context of the main frame's current
// document, looked up for each call, so a reload, a new page or a page restored
// from the back/forward cache takes over at once.

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <webkit2/webkit-web-extension.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "framework/Utf8.h"
#include "platform/bridge/OriginPolicy.h"
#include "platform/bridge/ScriptChannel.h"

using namespace platform;

namespace {

// Upper bound of the elements of one script object snapshot, nested ones
// included: each costs two slots of a frame, which stays below kMaxFrameSlots.
// Elements past the bound are absent to native code.
constexpr size_t kMaxSnapshotElements = 100000;

std::string socketPath;
std::string token;  // kTokenSize bytes
std::shared_ptr<ScriptChannelGroup> channelGroup = std::make_shared<ScriptChannelGroup>();

struct Page {
    WebKitWebPage* page = nullptr;
    std::shared_ptr<ScriptChannel> channel;
};

// --- Values -----------------------------------------------------------------

// Clears the exception that script left pending; true when there was one.
bool TookException(JSCContext* context) {
    if (!jsc_context_get_exception(context)) return false;
    jsc_context_clear_exception(context);
    return true;
}

void AppendCodePoint(std::wstring& out, uint32_t code) {
    bool surrogate = code >= 0xd800 && code <= 0xdfff;
    out.push_back(static_cast<wchar_t>(surrogate || code > 0x10ffff ? 0xfffd : code));
}

// Decodes the JSON form of a string ("..." with escapes). Lone surrogates,
// which JSON writes as \udxxx escapes, become U+FFFD; pairs are joined.
bool FromJsonString(const char* json, size_t size, std::wstring& out) {
    out.clear();
    if (size < 2 || json[0] != '"' || json[size - 1] != '"') return false;
    size_t i = 1, end = size - 1;
    auto hex4 = [&](size_t at, uint32_t& code) {
        if (at + 4 > end) return false;
        code = 0;
        for (size_t k = at; k < at + 4; ++k) {
            int digit = g_ascii_xdigit_value(json[k]);
            if (digit < 0) return false;
            code = code << 4 | static_cast<uint32_t>(digit);
        }
        return true;
    };
    while (i < end) {
        size_t run = i;
        while (run < end && json[run] != '\\') ++run;
        if (run > i) {
            std::wstring part;
            if (!DecodeUtf8({json + i, run - i}, BadUtf8::Reject, part)) return false;
            out += part;
            i = run;
            continue;
        }
        if (i + 1 >= end) return false;
        char escape = json[i + 1];
        i += 2;
        switch (escape) {
        case '"': out.push_back(L'"'); break;
        case '\\': out.push_back(L'\\'); break;
        case '/': out.push_back(L'/'); break;
        case 'b': out.push_back(L'\b'); break;
        case 'f': out.push_back(L'\f'); break;
        case 'n': out.push_back(L'\n'); break;
        case 'r': out.push_back(L'\r'); break;
        case 't': out.push_back(L'\t'); break;
        case 'u': {
            uint32_t code;
            if (!hex4(i, code)) return false;
            i += 4;
            uint32_t low;
            if (code >= 0xd800 && code <= 0xdbff && i + 1 < end && json[i] == '\\' &&
                json[i + 1] == 'u' && hex4(i + 2, low) && low >= 0xdc00 && low <= 0xdfff) {
                code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
                i += 6;
            }
            AppendCodePoint(out, code);
            break;
        }
        default: return false;
        }
    }
    return true;
}

// The text of a script value. A string goes through its JSON form: converting
// it to UTF-8 directly stops at the first lone surrogate and loses the rest.
std::wstring JsText(JSCValue* value) {
    std::wstring out;
    if (jsc_value_is_string(value)) {
        g_autofree char* json = jsc_value_to_json(value, 0);
        if (json && FromJsonString(json, std::strlen(json), out)) return out;
        jsc_context_clear_exception(jsc_value_get_context(value));
    }
    g_autoptr(GBytes) bytes = jsc_value_to_string_as_bytes(value);
    if (!bytes) return out;
    gsize size = 0;
    auto* data = static_cast<const char*>(g_bytes_get_data(bytes, &size));
    if (data) out = DecodeUtf8({data, size}, BadUtf8::Replace);
    return out;
}

JSCValue* NewJsText(JSCContext* context, const std::wstring& text) {
    std::string utf8 = EncodeUtf8(text);
    g_autoptr(GBytes) bytes = g_bytes_new(utf8.data(), utf8.size());
    return jsc_value_new_string_from_bytes(context, bytes);
}

ScriptValue NumberValue(double d) {
    if (std::isfinite(d) && d == std::trunc(d) && d >= -2147483648.0 && d <= 2147483647.0 &&
        !(d == 0 && std::signbit(d)))
        return ScriptValue::Int32(static_cast<int32_t>(d));
    return ScriptValue::Double(d);
}

ScriptValue FromJs(JSCValue* value, int depth, size_t& budget) {
    if (jsc_value_is_undefined(value)) return ScriptValue::Empty();
    if (jsc_value_is_null(value)) return ScriptValue::Null();
    if (jsc_value_is_boolean(value)) return ScriptValue::Bool(jsc_value_to_boolean(value));
    if (jsc_value_is_number(value)) return NumberValue(jsc_value_to_double(value));
    if (jsc_value_is_string(value)) return ScriptValue::Text(JsText(value));
    if (!jsc_value_is_object(value)) return ScriptValue::Empty();  // symbols, big integers
    ScriptValue object;
    object.kind = ScriptValue::Kind::Object;
    if (depth + 1 >= kMaxValueDepth || budget == 0) return object;
    JSCContext* context = jsc_value_get_context(value);
    g_autoptr(JSCValue) lengthValue = jsc_value_object_get_property(value, "length");
    double length = jsc_value_is_number(lengthValue) ? jsc_value_to_double(lengthValue) : 0;
    jsc_context_clear_exception(context);
    if (!(length > 0)) return object;
    size_t count = length >= static_cast<double>(budget) ? budget : static_cast<size_t>(length);
    budget -= count;
    object.elements.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        std::string name = std::to_string(i);
        if (!jsc_value_object_has_property(value, name.c_str())) {
            object.Append(ScriptValue(), false);
            continue;
        }
        g_autoptr(JSCValue) element = jsc_value_object_get_property(value, name.c_str());
        if (TookException(context)) {
            // A getter that throws leaves the element unreadable, which native
            // code tells from a hole.
            object.AppendFailed();
        } else {
            object.Append(FromJs(element, depth + 1, budget));
        }
    }
    return object;
}

ScriptValue FromJs(JSCValue* value) {
    size_t budget = kMaxSnapshotElements;
    return FromJs(value, 0, budget);
}

JSCValue* ToJs(JSCContext* context, const ScriptValue& value) {
    using Kind = ScriptValue::Kind;
    switch (value.kind) {
    case Kind::Empty: return jsc_value_new_undefined(context);
    case Kind::Null: return jsc_value_new_null(context);
    case Kind::Bool: return jsc_value_new_boolean(context, value.boolValue);
    case Kind::Int32: return jsc_value_new_number(context, value.intValue);
    case Kind::Double: return jsc_value_new_number(context, value.doubleValue);
    case Kind::Text: return NewJsText(context, value.text);
    case Kind::Object: {
        JSCValue* array = jsc_value_new_array(context, G_TYPE_NONE);
        for (size_t i = 0; i < value.elements.size(); ++i) {
            const ScriptValue* element = value.Element(i);
            if (!element) continue;  // a hole stays a hole
            g_autoptr(JSCValue) item = ToJs(context, *element);
            jsc_value_object_set_property_at_index(array, static_cast<unsigned>(i), item);
        }
        g_autoptr(JSCValue) length =
            jsc_value_new_number(context, static_cast<double>(value.elements.size()));
        jsc_value_object_set_property(array, "length", length);
        return array;
    }
    }
    return jsc_value_new_undefined(context);
}

// A script value as a 32-bit integer, the way automation coerces a number
// argument: numbers, numeric texts and booleans, rounded to the nearest
// integer (ties to even); false for anything else or out of range.
bool ToInt32Number(JSCValue* value, int32_t& out) {
    if (!jsc_value_is_number(value) && !jsc_value_is_string(value) && !jsc_value_is_boolean(value))
        return false;
    double d = jsc_value_to_double(value);
    if (!std::isfinite(d)) return false;
    double r = std::nearbyint(d);
    if (r < -2147483648.0 || r > 2147483647.0) return false;
    out = static_cast<int32_t>(r);
    return true;
}

// --- Requests to the user-interface process ---------------------------------

// Sends a request for the page; on a lost connection throws a script error and
// returns false.
bool Ask(Page* page, JSCContext* context, ScriptFrame& request, ScriptFrame& reply) {
    auto result = page->channel && page->channel->IsOpen()
                      ? page->channel->Request(request, reply, -1)
                      : ScriptChannel::Result::Closed;
    switch (result) {
    case ScriptChannel::Result::Ok: break;
    case ScriptChannel::Result::TooLarge:
        jsc_context_throw_with_name(context, "RangeError",
                                    "The call is too large for the script bridge (at most 16 MB "
                                    "and 262144 values and elements)");
        return false;
    default:
        jsc_context_throw(context, "The application does not answer (script bridge closed)");
        return false;
    }
    if (reply.values.empty()) reply.values.resize(1);
    if (request.kind != FrameKind::ScriptDialog && reply.number != S_OK) {
        jsc_context_throw(context, "The application refused the call: this document may not use "
                                   "the script bridge");
        return false;
    }
    return true;
}

JSCValue* ApiCall(GPtrArray* args, gpointer data) {
    auto* page = static_cast<Page*>(data);
    JSCContext* context = jsc_context_get_current();
    int32_t number = 0;
    if (args->len < 1 || !ToInt32Number(static_cast<JSCValue*>(args->pdata[0]), number)) {
        jsc_context_throw_with_name(context, "TypeError",
                                    "korvoApiCall: the function number must be a 32-bit integer");
        return jsc_value_new_undefined(context);
    }
    ScriptFrame request, reply;
    request.kind = FrameKind::ApiCall;
    request.number = number;
    request.values.push_back(args->len >= 2 ? FromJs(static_cast<JSCValue*>(args->pdata[1]))
                                            : ScriptValue());
    if (!Ask(page, context, request, reply)) return jsc_value_new_undefined(context);
    return ToJs(context, reply.values[0]);
}

JSCValue* TestCall(GPtrArray* args, gpointer data) {
    auto* page = static_cast<Page*>(data);
    JSCContext* context = jsc_context_get_current();
    if (args->len < 2) {
        jsc_context_throw_with_name(context, "TypeError", "Test: two texts expected");
        return jsc_value_new_undefined(context);
    }
    ScriptFrame request, reply;
    request.kind = FrameKind::Test;
    request.name = JsText(static_cast<JSCValue*>(args->pdata[0]));
    request.text = JsText(static_cast<JSCValue*>(args->pdata[1]));
    Ask(page, context, request, reply);
    return jsc_value_new_undefined(context);
}

JSCValue* GetProperty(Page* page, ScriptProperty property) {
    JSCContext* context = jsc_context_get_current();
    ScriptFrame request, reply;
    request.kind = FrameKind::PropertyGet;
    request.selector = static_cast<uint8_t>(property);
    if (!Ask(page, context, request, reply)) return jsc_value_new_undefined(context);
    return ToJs(context, reply.values[0]);
}

JSCValue* GetVar(gpointer data) { return GetProperty(static_cast<Page*>(data), ScriptProperty::Var); }
JSCValue* GetFunction(gpointer data) {
    return GetProperty(static_cast<Page*>(data), ScriptProperty::Function);
}

void SetVar(JSCValue* value, gpointer data) {
    JSCContext* context = jsc_value_get_context(value);
    ScriptFrame request, reply;
    request.kind = FrameKind::PropertySet;
    request.selector = static_cast<uint8_t>(ScriptProperty::Var);
    request.values.push_back(ScriptValue::Text(JsText(value)));
    Ask(static_cast<Page*>(data), context, request, reply);
}

void SetFunction(JSCValue* value, gpointer data) {
    JSCContext* context = jsc_value_get_context(value);
    int32_t number = 0;
    if (!ToInt32Number(value, number)) {
        jsc_context_throw_with_name(context, "TypeError", "function: a 32-bit integer expected");
        return;
    }
    ScriptFrame request, reply;
    request.kind = FrameKind::PropertySet;
    request.selector = static_cast<uint8_t>(ScriptProperty::Function);
    request.values.push_back(ScriptValue::Int32(number));
    Ask(static_cast<Page*>(data), context, request, reply);
}

JSCValue* Dialog(Page* page, ScriptDialogKind kind, GPtrArray* args) {
    JSCContext* context = jsc_context_get_current();
    ScriptFrame request, reply;
    request.kind = FrameKind::ScriptDialog;
    request.selector = static_cast<uint8_t>(kind);
    if (args->len >= 1) request.name = JsText(static_cast<JSCValue*>(args->pdata[0]));
    if (args->len >= 2) request.text = JsText(static_cast<JSCValue*>(args->pdata[1]));
    if (!Ask(page, context, request, reply)) return jsc_value_new_undefined(context);
    const ScriptValue& answer = reply.values[0];
    switch (kind) {
    case ScriptDialogKind::Alert: return jsc_value_new_undefined(context);
    case ScriptDialogKind::Confirm:
        return jsc_value_new_boolean(context, answer.kind == ScriptValue::Kind::Bool && answer.boolValue);
    case ScriptDialogKind::Prompt:
        if (answer.kind == ScriptValue::Kind::Text) return NewJsText(context, answer.text);
        return jsc_value_new_null(context);
    }
    return jsc_value_new_undefined(context);
}

JSCValue* Alert(GPtrArray* args, gpointer data) {
    return Dialog(static_cast<Page*>(data), ScriptDialogKind::Alert, args);
}
JSCValue* Confirm(GPtrArray* args, gpointer data) {
    return Dialog(static_cast<Page*>(data), ScriptDialogKind::Confirm, args);
}
JSCValue* Prompt(GPtrArray* args, gpointer data) {
    return Dialog(static_cast<Page*>(data), ScriptDialogKind::Prompt, args);
}
JSCValue* Open(GPtrArray*, gpointer) { return jsc_value_new_null(jsc_context_get_current()); }

// --- Document set-up --------------------------------------------------------

void DefineFunction(JSCContext* context, JSCValue* object, const char* name, GCallback callback,
                    Page* page, JSCValuePropertyFlags flags) {
    g_autoptr(JSCValue) function = jsc_value_new_function_variadic(context, name, callback, page,
                                                                   nullptr, JSC_TYPE_VALUE);
    jsc_value_object_define_property_data(object, name, flags, function);
}

// What the user-interface process grants the page for address
// (DocumentRights): whether it lies inside the page's folder or origin, and
// whether a document there gets window.external. Nothing when it cannot ask.
int32_t Rights(Page* page, const char* uri) {
    if (!page->channel || !page->channel->IsOpen()) return 0;
    ScriptFrame request, reply;
    request.kind = FrameKind::DocumentQuery;
    if (uri && !DecodeUtf8(uri, BadUtf8::Reject, request.name)) return 0;
    if (page->channel->Request(request, reply, -1) != ScriptChannel::Result::Ok) return 0;
    if (reply.values.empty() || reply.values[0].kind != ScriptValue::Kind::Int32) return 0;
    return reply.values[0].intValue;
}

bool AddressAllowed(Page* page, const char* uri) {
    return Rights(page, uri) & DocumentMayLoad;
}

bool MayHaveBridge(Page* page, WebKitFrame* frame) {
    return Rights(page, webkit_frame_get_uri(frame)) & DocumentBridged;
}

// Refuses (returns TRUE) every load that leaves the page's area, redirects
// included. A page without a connection has no bridge, and loads as any page.
gboolean OnSendRequest(WebKitWebPage* webPage, WebKitURIRequest* request, WebKitURIResponse*,
                       gpointer) {
    auto* page = static_cast<Page*>(g_object_get_data(G_OBJECT(webPage), "korvo-page"));
    const char* uri = webkit_uri_request_get_uri(request);
    if (!page || !page->channel || !page->channel->IsOpen() || !uri || IsLocalScheme(uri))
        return FALSE;
    if (AddressAllowed(page, uri)) return FALSE;
    g_message("Script bridge: refused to load %s: it lies outside the page's folder", uri);
    return TRUE;
}

void OnWindowObjectCleared(WebKitScriptWorld* world, WebKitWebPage* webPage, WebKitFrame* frame,
                           gpointer data) {
    auto* page = static_cast<Page*>(g_object_get_data(G_OBJECT(webPage), "korvo-page"));
    (void)data;
    if (!page) return;
    g_autoptr(JSCContext) context = webkit_frame_get_js_context_for_script_world(frame, world);
    g_autoptr(JSCValue) window = jsc_context_get_global_object(context);
    auto writable = static_cast<JSCValuePropertyFlags>(JSC_VALUE_PROPERTY_CONFIGURABLE |
                                                       JSC_VALUE_PROPERTY_WRITABLE);
    DefineFunction(context, window, "alert", G_CALLBACK(Alert), page, writable);
    DefineFunction(context, window, "confirm", G_CALLBACK(Confirm), page, writable);
    DefineFunction(context, window, "prompt", G_CALLBACK(Prompt), page, writable);
    DefineFunction(context, window, "open", G_CALLBACK(Open), page, writable);

    if (MayHaveBridge(page, frame)) {
        g_autoptr(JSCValue) external = jsc_value_new_object(context, nullptr, nullptr);
        auto fixed = static_cast<JSCValuePropertyFlags>(0);
        DefineFunction(context, external, "korvoApiCall", G_CALLBACK(ApiCall), page, fixed);
        DefineFunction(context, external, "Test", G_CALLBACK(TestCall), page, fixed);
        jsc_value_object_define_property_accessor(external, "var", fixed, JSC_TYPE_VALUE,
                                                  G_CALLBACK(GetVar), G_CALLBACK(SetVar), page,
                                                  nullptr);
        jsc_value_object_define_property_accessor(external, "function", fixed, JSC_TYPE_VALUE,
                                                  G_CALLBACK(GetFunction), G_CALLBACK(SetFunction),
                                                  page, nullptr);
        jsc_value_object_define_property_data(window, "external", JSC_VALUE_PROPERTY_CONFIGURABLE,
                                              external);
    }
}

// --- Requests from the user-interface process --------------------------------

// Looks name up on the main frame's window: S_OK with the function, or the
// status of the failed lookup.
ScriptStatus FindFunction(JSCContext* context, JSCValue* window, const std::wstring& name,
                          JSCValue** function) {
    std::string utf8 = EncodeUtf8(name);
    if (name.empty() || !jsc_value_object_has_property(window, utf8.c_str()))
        return DISP_E_UNKNOWNNAME;
    *function = jsc_value_object_get_property(window, utf8.c_str());
    if (TookException(context)) {
        return DISP_E_EXCEPTION;
    }
    if (!jsc_value_is_function(*function)) return DISP_E_MEMBERNOTFOUND;
    return S_OK;
}

void Call(JSCContext* context, JSCValue* function, std::vector<JSCValue*>& args, ScriptFrame& reply) {
    g_autoptr(JSCValue) result =
        jsc_value_function_callv(function, static_cast<guint>(args.size()), args.data());
    if (TookException(context)) {
        reply.number = DISP_E_EXCEPTION;
    } else {
        reply.number = S_OK;
        reply.values[0] = FromJs(result);
    }
}

void CallFunction(JSCContext* context, JSCValue* window, const ScriptFrame& request,
                  ScriptFrame& reply) {
    g_autoptr(JSCValue) function = nullptr;
    reply.number = FindFunction(context, window, request.name, &function);
    if (reply.number == S_OK) {
        std::vector<JSCValue*> args;
        for (const auto& value : request.values) args.push_back(ToJs(context, value));
        Call(context, function, args, reply);
        for (auto* arg : args) g_object_unref(arg);
    }
}

void CallFunctionWithArray(JSCContext* context, JSCValue* window, const ScriptFrame& request,
                           ScriptFrame& reply) {
    // The array comes from the page's own Array constructor, as the page would make it.
    if (!jsc_value_object_has_property(window, "Array")) {
        reply.number = DISP_E_UNKNOWNNAME;
        return;
    }
    g_autoptr(JSCValue) constructor = jsc_value_object_get_property(window, "Array");
    g_autoptr(JSCValue) array = nullptr;
    if (TookException(context)) {
        reply.number = DISP_E_EXCEPTION;
    } else if (!jsc_value_is_object(constructor)) {
        reply.number = DISP_E_TYPEMISMATCH;
    } else if (!jsc_value_is_constructor(constructor)) {
        reply.number = E_NOINTERFACE;
    } else {
        array = jsc_value_constructor_callv(constructor, 0, nullptr);
        if (TookException(context)) {
            reply.number = DISP_E_EXCEPTION;
        } else if (!array || !jsc_value_is_object(array)) {
            reply.number = DISP_E_TYPEMISMATCH;
        } else {
            reply.number = S_OK;
        }
    }
    if (reply.number == S_OK) {
        for (size_t i = 0; i < request.values.size(); ++i) {
            g_autoptr(JSCValue) item = ToJs(context, request.values[i]);
            jsc_value_object_set_property(array, std::to_string(i).c_str(), item);
            if (TookException(context)) break;  // the array keeps what was stored so far
        }
        g_autoptr(JSCValue) function = nullptr;
        reply.number = FindFunction(context, window, request.name, &function);
        if (reply.number == S_OK) {
            std::vector<JSCValue*> args{array};
            Call(context, function, args, reply);
        }
    }
}

void ReplaceOuterHtml(JSCContext* context, JSCValue* window, const ScriptFrame& request,
                      ScriptFrame& reply) {
    g_autoptr(JSCValue) document = jsc_value_object_get_property(window, "document");
    g_autoptr(JSCValue) id = NewJsText(context, request.name);
    g_autoptr(JSCValue) element = nullptr;
    if (jsc_value_is_object(document)) {
        JSCValue* args[] = {id};
        element = jsc_value_object_invoke_methodv(document, "getElementById", 1, args);
    }
    if (TookException(context)) {
        reply.number = DISP_E_EXCEPTION;
    } else if (!element || !jsc_value_is_object(element)) {
        reply.number = S_FALSE;
    } else {
        g_autoptr(JSCValue) html = NewJsText(context, request.text);
        jsc_value_object_set_property(element, "outerHTML", html);
        if (TookException(context)) {
            reply.number = DISP_E_EXCEPTION;
        } else {
            reply.number = S_OK;
        }
    }
}

void Serve(Page* page, const ScriptFrame& request, ScriptFrame& reply) {
    reply.number = E_FAIL;
    if (!page->page) return;
    // Deprecated for processes that hold only some frames of a page; ours
    // always hold the main frame, which is the one native calls address.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    WebKitFrame* frame = webkit_web_page_get_main_frame(page->page);
    G_GNUC_END_IGNORE_DEPRECATIONS
    if (!frame) return;
    g_autoptr(JSCContext) context =
        webkit_frame_get_js_context_for_script_world(frame, webkit_script_world_get_default());
    if (!context) return;
    g_autoptr(JSCValue) window = jsc_context_get_global_object(context);
    // A call from native code starts with a clean slate even if some script
    // left an exception behind.
    jsc_context_clear_exception(context);
    switch (request.kind) {
    case FrameKind::CallFunction: CallFunction(context, window, request, reply); break;
    case FrameKind::CallFunctionWithArray: CallFunctionWithArray(context, window, request, reply); break;
    case FrameKind::ReplaceOuterHtml: ReplaceOuterHtml(context, window, request, reply); break;
    default:
        g_warning("Script bridge: request of kind %u is not served by a page",
                  static_cast<unsigned>(request.kind));
        break;
    }
}

std::shared_ptr<ScriptChannel> Connect(uint64_t pageId) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) {
        close(fd);
        return nullptr;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        g_warning("Script bridge: cannot connect to %s: %s", socketPath.c_str(), g_strerror(errno));
        close(fd);
        return nullptr;
    }
    auto channel = ScriptChannel::Create(fd);
    ScriptFrame hello;
    hello.kind = FrameKind::Hello;
    hello.pageId = pageId;
    hello.token = token;
    if (!channel->Send(hello)) return nullptr;
    return channel;
}

void OnPageCreated(WebKitWebExtension*, WebKitWebPage* webPage, gpointer) {
    // Kept for the life of the process: script functions of past documents may
    // still hold a pointer to it.
    auto* page = new Page;
    page->page = webPage;
    g_object_set_data(G_OBJECT(webPage), "korvo-page", page);
    g_object_weak_ref(
        G_OBJECT(webPage),
        [](gpointer data, GObject*) {
            auto* gone = static_cast<Page*>(data);
            gone->page = nullptr;
            if (gone->channel) gone->channel->Close();
        },
        page);
    page->channel = Connect(webkit_web_page_get_id(webPage));
    if (!page->channel) return;
    page->channel->serve = [page](const ScriptFrame& request, ScriptFrame& reply) {
        Serve(page, request, reply);
    };
    page->channel->JoinGroup(channelGroup);
    page->channel->StartWatch();
    g_signal_connect(webPage, "send-request", G_CALLBACK(OnSendRequest), nullptr);
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(
    WebKitWebExtension* extension, const GVariant* userData) {
    auto* data = const_cast<GVariant*>(userData);
    if (data && g_variant_is_of_type(data, G_VARIANT_TYPE("(ss)"))) {
        const char* path = nullptr;
        const char* hex = nullptr;
        g_variant_get(data, "(&s&s)", &path, &hex);
        socketPath = path;
        if (std::strlen(hex) == 2 * kTokenSize) {
            for (size_t i = 0; i < kTokenSize; ++i) {
                int high = g_ascii_xdigit_value(hex[2 * i]);
                int low = g_ascii_xdigit_value(hex[2 * i + 1]);
                if (high < 0 || low < 0) break;
                token.push_back(static_cast<char>(high << 4 | low));
            }
        }
    }
    if (socketPath.empty() || token.size() != kTokenSize) {
        g_warning("Script bridge: no socket path or token given; pages get no bridge");
        return;
    }
    g_signal_connect(extension, "page-created", G_CALLBACK(OnPageCreated), nullptr);
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared",
                     G_CALLBACK(OnWindowObjectCleared), nullptr);
}
