// Calls of the page's numbered functions with any values: the input is read
// as a sequence of calls, each a number and an argument value, handed to a
// started window module exactly as the bridge hands a page's
// korvoApiCall(number, argument) to it (ScriptHost::ApiCall). Every level of
// the dispatch, the argument readers and every function behind them run,
// the menu functions included.
//
// The module runs in a sandbox: message boxes are answered by the test hook
// (with the answer the input chose), the shell's "open" by its hook, settings
// go to a temporary folder, and the path of every file function is confined
// to a folder of that temporary folder (".." and the leading "/" dropped), so
// that no input reads or writes anything else. The "Script" connector is
// adopted by the page at the start, so no value of the input loads a page.
//
// Input, read front to back (a missing byte reads as 0):
//   first byte      the button every message box "answers" (as an integer)
//   then calls      up to MaxCalls of: number, value
//   number          a byte b < 0xF0 picks Numbers[b % count]; 0xF0 or more
//                   takes the next 4 bytes as the number (little endian)
//   value           a tag byte t, by t % 9: 0 undefined, 1 null, 2 boolean
//                   (next byte & 1), 3 integer (4 bytes), 4 small integer
//                   (1 byte, signed), 5 double (8 bytes), 6 text (a length
//                   byte, then that many bytes of UTF-8), 7 array (a count
//                   byte % 9, then that many elements), 8 (in an array) a
//                   hole, or an element whose read failed when t / 9 is odd
//
// The module is rebuilt every RebuildEvery inputs, since what the calls add
// (connectors, menu entries, settings, files) piles up.

#include <gtk/gtk.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "framework/String.h"
#include "modules/application/JavaScriptWindow.h"
#include "platform/Application.h"
#include "platform/MessageBox.h"
#include "platform/Shell.h"
#include "support/TemporaryFolder.h"

using platform::ScriptValue;

namespace {

constexpr int MaxCalls = 16;
constexpr int MaxDepth = 4;  // arrays nested deeper read as undefined
constexpr int RebuildEvery = 500;

// The filled slots, and a few empty ones and ones just outside the table.
const int32_t Numbers[] = {0,   1,   10,  11,  12,  13,  20,  21,  22,  23,  24,  25,  100, 101,
                           102, 103, 104, 105, 150, 151, 152, 153, 154, 170, 220, 221, 2,   299};

// The functions whose first element is a path, and korvoListDir, whose
// second element is a pattern that may name folders too.
constexpr int32_t ListDir = 151;
bool TakesPath(int32_t number) {
    return number >= 151 && number <= 154;
}

class Input {
public:
    Input(const uint8_t* data, size_t size) : data(data), size(size) {}

    bool Empty() const { return at >= size; }
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    template <typename T>
    T Raw() {
        T value{};
        size_t count = std::min(sizeof value, size - std::min(at, size));
        std::memcpy(&value, data + at, count);
        at += count;
        return value;
    }
    std::string Bytes(size_t count) {
        count = std::min(count, size - std::min(at, size));
        std::string bytes(reinterpret_cast<const char*>(data + at), count);
        at += count;
        return bytes;
    }

    int32_t Number() {
        uint8_t pick = Byte();
        return pick < 0xF0 ? Numbers[pick % std::size(Numbers)] : Raw<int32_t>();
    }

    ScriptValue Value(int depth) {
        switch (Byte() % 9) {
            case 1:
                return ScriptValue::Null();
            case 2:
                return ScriptValue::Bool(Byte() & 1);
            case 3:
                return ScriptValue::Int32(Raw<int32_t>());
            case 4:
                return ScriptValue::Int32(static_cast<int8_t>(Byte()));
            case 5:
                return ScriptValue::Double(Raw<double>());
            case 6:
                return ScriptValue::Text(String::FromUtf8(Bytes(Byte())).Text());
            case 7: {
                if (depth >= MaxDepth) return ScriptValue::Empty();
                ScriptValue array = ScriptValue::Array({});
                for (int count = Byte() % 9; count > 0; --count) {
                    size_t tagAt = at;
                    if (Byte() % 9 == 8) {
                        if ((data[tagAt] / 9) % 2)
                            array.AppendFailed();
                        else
                            array.Append(ScriptValue(), false);
                        continue;
                    }
                    at = tagAt;
                    array.Append(Value(depth + 1));
                }
                return array;
            }
            default:
                return ScriptValue::Empty();
        }
    }

private:
    const uint8_t* data;
    size_t size;
    size_t at = 0;
};

// Trace lines, messages and the toolkit's complaints (such as a menu bar
// wider than the screen) are dropped.
void Quiet(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

// The window module in its sandbox, kept across inputs.
class Sandbox {
public:
    static Sandbox& Get() {
        static Sandbox sandbox;
        if (++sandbox.uses > RebuildEvery) sandbox.Rebuild();
        return sandbox;
    }

    // A text of the page made a path (or a pattern) inside the files folder.
    std::wstring Confined(const std::wstring& text, bool pattern) const {
        std::wstring inside;
        size_t start = 0;
        while (start <= text.size()) {
            size_t end = std::min(text.find(L'/', start), text.size());
            std::wstring part = text.substr(start, end - start);
            if (!part.empty() && part != L"." && part != L"..")
                inside += (inside.empty() ? L"" : L"/") + part;
            start = end + 1;
        }
        if (pattern) return inside;
        return String::FromUtf8(files.string()).Text() + (inside.empty() ? L"" : L"/" + inside);
    }

    void Call(int32_t number, ScriptValue& argument) {
        if (TakesPath(number) && argument.IsObject()) {
            for (size_t index = 0; index < argument.Length() && index < 2; ++index) {
                ScriptValue& element = argument.elements[index];
                bool pattern = index == 1;
                if (element.kind != ScriptValue::Kind::Text || (pattern && number != ListDir))
                    continue;
                element.text = Confined(element.text, pattern);
            }
        }
        module->ApiCall(number, argument);
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
    }

    int boxAnswer = platform::IDOK;

private:
    Sandbox() {
        // The toolkit's accessibility bridge stays off, as in the tests: it
        // would wait for a bus that may not run.
        g_setenv("NO_AT_BRIDGE", "1", TRUE);
        if (!platform::Application::Instance().InitToolkit()) {
            std::fprintf(stderr, "fuzz_script_calls: no display (run it under Xvfb)\n");
            std::abort();
        }
        platform::SetMessageBoxHook(
            [this](const platform::MessageBoxRecord&) { return boxAnswer; });
        platform::SetShellOpenHook(
            [](const std::wstring&) { return platform::ShellOpenSucceeded; });
        g_log_set_default_handler(Quiet, nullptr);
        g_setenv("XDG_CONFIG_HOME", (temporary.path / "config").c_str(), TRUE);
        Rebuild();
    }

    void Rebuild() {
        uses = 0;
        module.reset();
        while (g_main_context_iteration(nullptr, FALSE)) {
        }
        std::filesystem::remove_all(files);
        std::filesystem::remove_all(temporary.path / "config");
        std::filesystem::create_directories(files / "folder");
        std::ofstream(files / "lines.txt") << "first\r\n\r\nsecond\r\n";
        std::ofstream(files / "folder" / "inside.txt") << "inside";
        platform::Application::Instance().SetRegistryKey(L"FuzzCompany", L"FuzzProgram");
        module = std::make_unique<JavaScriptWindow>();
        module->Start();
        // Adopted by the page: its handler no longer loads what it holds.
        ScriptValue adopt = ScriptValue::Array(
            {ScriptValue::Text(L"Script"), ScriptValue::Int32(4), ScriptValue::Text(L"")});
        module->ApiCall(20, adopt);
    }

    korvotest::TemporaryFolder temporary{"korvo-fuzz-script"};
    std::filesystem::path files = temporary.path / "files";
    std::unique_ptr<JavaScriptWindow> module;
    int uses = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    Sandbox& sandbox = Sandbox::Get();
    Input input(data, size);
    sandbox.boxAnswer = input.Byte() % 12;
    for (int call = 0; call < MaxCalls && !input.Empty(); ++call) {
        int32_t number = input.Number();
        ScriptValue argument = input.Value(0);
        sandbox.Call(number, argument);
    }
    return 0;
}
