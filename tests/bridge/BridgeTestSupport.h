#pragma once
// Helpers shared by the web view tests: files, text and the main loop.

#include <glib.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "framework/Utf8.h"
#include "platform/PageTrust.h"
#include "platform/WebView.h"
#include "platform/bridge/ScriptValue.h"
#include "support/MainLoopWait.h"

namespace bridge_test {

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

using korvotest::PumpFor;
using korvotest::PumpUntil;

// Removes a test folder and everything in it.
inline void RemoveTree(const std::string& folder) {
    std::error_code error;
    if (!folder.empty() && std::filesystem::remove_all(folder, error) == static_cast<std::uintmax_t>(-1))
        g_warning("could not remove %s: %s", folder.c_str(), error.message().c_str());
}

// A test suite that shares one web view, its host and a temporary folder of
// pages: a view is made once per suite, since each one starts a web process.
// Without a display the suite makes nothing and every test skips.
template <typename Host>
class SharedViewSuite : public ::testing::Test {
protected:
    // Makes the temporary folder (name: prefix + random part); false without a display.
    static bool OpenFolder(const char* prefix) {
        if (!g_getenv("DISPLAY") || !gtk_init_check(nullptr, nullptr)) return false;
        gchar* dir = g_dir_make_tmp((std::string(prefix) + "-XXXXXX").c_str(), nullptr);
        folder = dir;
        g_free(dir);
        return true;
    }
    // Makes the host and an offscreen view on it, once the pages are written.
    // The pages in the folder's app/ stand for an installation's own page.
    static void OpenView() {
        platform::TrustPageFolder(folder + "/app");
        host = new Host;
        view = new platform::WebView(host, true);
    }
    static void CloseSuite() {
        delete view;
        view = nullptr;
        delete host;
        host = nullptr;
        platform::ForgetTrustedPageFolders();
        RemoveTree(folder);
    }
    // Calls a function of the page; a failed call fails the test.
    static platform::ScriptValue Call(const std::wstring& name,
                                      std::vector<platform::ScriptValue> args = {}) {
        platform::ScriptValue result;
        EXPECT_EQ(view->CallFunction(name, args, &result), platform::S_OK)
            << "calling " << EncodeUtf8(name);
        return result;
    }

    static inline std::string folder;
    static inline Host* host = nullptr;
    static inline platform::WebView* view = nullptr;
};

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
