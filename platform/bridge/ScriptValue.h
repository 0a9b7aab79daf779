#pragma once
// Values and status codes that cross between native code and the page's script.
//
// Status codes keep the automation names that callers compare against. A value
// is one of the script kinds; a script object travels as a snapshot of its
// elements "0" .. length-1, each present or absent (a hole is absent), so
// native code reads elements by index and can tell a missing element from one
// that holds undefined. An element whose read threw in script is absent and
// marked as failed, which callers can tell from a hole. A snapshot takes at most 100000 elements, nested
// objects included, and objects nested deeper than 31 levels arrive empty;
// elements past those bounds are absent, as if the script had none there.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace platform {

using ScriptStatus = int32_t;

inline constexpr ScriptStatus S_OK = 0;
inline constexpr ScriptStatus S_FALSE = 1;
inline constexpr ScriptStatus E_FAIL = static_cast<int32_t>(0x80004005u);
inline constexpr ScriptStatus E_NOINTERFACE = static_cast<int32_t>(0x80004002u);
inline constexpr ScriptStatus DISP_E_MEMBERNOTFOUND = static_cast<int32_t>(0x80020003u);
inline constexpr ScriptStatus DISP_E_TYPEMISMATCH = static_cast<int32_t>(0x80020005u);
inline constexpr ScriptStatus DISP_E_UNKNOWNNAME = static_cast<int32_t>(0x80020006u);
inline constexpr ScriptStatus DISP_E_EXCEPTION = static_cast<int32_t>(0x80020009u);

inline bool Succeeded(ScriptStatus status) { return status >= 0; }

struct ScriptValue {
    enum class Kind : uint8_t {
        Empty,   // undefined in script
        Null,
        Bool,
        Int32,   // a script number that is integral, in 32-bit range and not -0
        Double,  // every other script number
        Text,
        Object,  // any script object (arrays, functions, ...), as an element snapshot
    };

    Kind kind = Kind::Empty;
    bool boolValue = false;
    int32_t intValue = 0;
    double doubleValue = 0.0;
    std::wstring text;
    // Object only: element i is elements[i] when present[i]; readFailed[i]
    // marks an absent element whose read threw. All three have the same size.
    std::vector<ScriptValue> elements;
    std::vector<bool> present;
    std::vector<bool> readFailed;

    static ScriptValue Empty() { return {}; }
    static ScriptValue Null() { ScriptValue v; v.kind = Kind::Null; return v; }
    static ScriptValue Bool(bool b) { ScriptValue v; v.kind = Kind::Bool; v.boolValue = b; return v; }
    static ScriptValue Int32(int32_t i) { ScriptValue v; v.kind = Kind::Int32; v.intValue = i; return v; }
    static ScriptValue Double(double d) { ScriptValue v; v.kind = Kind::Double; v.doubleValue = d; return v; }
    static ScriptValue Text(std::wstring t) { ScriptValue v; v.kind = Kind::Text; v.text = std::move(t); return v; }
    // An object (made in script as an array) with these elements, all present.
    static ScriptValue Array(std::vector<ScriptValue> items) {
        ScriptValue v;
        v.kind = Kind::Object;
        v.present.assign(items.size(), true);
        v.readFailed.assign(items.size(), false);
        v.elements = std::move(items);
        return v;
    }

    bool IsEmpty() const { return kind == Kind::Empty; }
    bool IsObject() const { return kind == Kind::Object; }
    // Number of element slots in an object snapshot (its length, within bounds).
    size_t Length() const { return elements.size(); }
    // Element index of an object, or null when the object has no such element.
    const ScriptValue* Element(size_t index) const {
        return index < elements.size() && present[index] ? &elements[index] : nullptr;
    }
    // Appends an element slot to an object (absent: a hole).
    void Append(ScriptValue element, bool isPresent = true) {
        elements.push_back(std::move(element));
        present.push_back(isPresent);
        readFailed.push_back(false);
    }
    // Appends an element slot that could not be read (its getter threw).
    void AppendFailed() {
        Append(ScriptValue(), false);
        readFailed.back() = true;
    }
    // True when element index exists but reading it failed.
    bool ReadFailed(size_t index) const { return index < readFailed.size() && readFailed[index]; }

    bool operator==(const ScriptValue& other) const = default;
};

}  // namespace platform
