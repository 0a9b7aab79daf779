#pragma once
// Helpers shared by the web view tests: files, text and the main loop.

#include <glib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

#include "framework/Utf8.h"
#include "platform/bridge/ScriptValue.h"
#include "support/MainLoopWait.h"

namespace bridge_test {

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

using korvotest::PumpUntil;

// Removes a test folder and everything in it.
inline void RemoveTree(const std::string& folder) {
    std::error_code error;
    if (!folder.empty() && std::filesystem::remove_all(folder, error) == static_cast<std::uintmax_t>(-1))
        g_warning("could not remove %s: %s", folder.c_str(), error.message().c_str());
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
