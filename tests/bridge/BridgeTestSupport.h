#pragma once
// Helpers shared by the web view tests: files, text and the main loop.

#include <glib.h>

#include <fstream>
#include <functional>
#include <ostream>
#include <string>

#include "framework/Utf8.h"
#include "platform/bridge/ScriptValue.h"

namespace bridge_test {

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// Runs the main loop until done() holds or ms pass.
inline bool PumpUntil(const std::function<bool()>& done, int ms = 20000) {
    gint64 end = g_get_monotonic_time() + gint64(ms) * 1000;
    guint tick = g_timeout_add(
        10, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool ok = true;
    while (!done()) {
        if (g_get_monotonic_time() > end) {
            ok = false;
            break;
        }
        g_main_context_iteration(nullptr, TRUE);
    }
    g_source_remove(tick);
    return ok;
}

// Removes a test folder and everything in it.
inline void RemoveTree(const std::string& folder) {
    if (folder.empty()) return;
    gchar* quoted = g_shell_quote(folder.c_str());
    std::string command = std::string("rm -rf ") + quoted;
    g_free(quoted);
    if (system(command.c_str()) != 0) g_warning("could not remove %s", folder.c_str());
}

}  // namespace bridge_test

namespace platform {

// Readable values in test failures.
inline void PrintTo(const ScriptValue& value, std::ostream* out) {
    using Kind = ScriptValue::Kind;
    switch (value.kind) {
        case Kind::Empty:
            *out << "undefined";
            break;
        case Kind::Null:
            *out << "null";
            break;
        case Kind::Bool:
            *out << (value.boolValue ? "true" : "false");
            break;
        case Kind::Int32:
            *out << "int32 " << value.intValue;
            break;
        case Kind::Double:
            *out << "double " << value.doubleValue;
            break;
        case Kind::Text:
            *out << "text \"" << EncodeUtf8(value.text) << "\"";
            break;
        case Kind::Object:
            *out << "[";
            for (size_t i = 0; i < value.Length(); ++i) {
                if (i) *out << ", ";
                if (const ScriptValue* element = value.Element(i))
                    PrintTo(*element, out);
                else
                    *out << (value.ReadFailed(i) ? "(read failed)" : "(hole)");
            }
            *out << "]";
            break;
    }
}

}  // namespace platform
