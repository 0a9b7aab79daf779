#include "Conversion.h"

#include <clocale>
#include <limits>
#include <locale.h>

namespace {

// Switches the calling thread to the C locale for the lifetime of the object.
class CLocaleScope {
public:
    CLocaleScope() {
        static locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
        previous = cLocale ? uselocale(cLocale) : nullptr;
    }
    ~CLocaleScope() {
        if (previous) uselocale(previous);
    }

private:
    locale_t previous;
};

}  // namespace

int32_t ParseLong(const wchar_t* text) {
    if (text == nullptr) return 0;
    // White space of the C locale, as ParseDouble skips it: the user's locale
    // would add Unicode spaces and make the same text read differently.
    while (*text == L' ' || (*text >= L'\t' && *text <= L'\r')) ++text;
    bool negative = false;
    if (*text == L'+' || *text == L'-') negative = *text++ == L'-';
    int64_t value = 0;
    for (; *text >= L'0' && *text <= L'9'; ++text) {
        value = value * 10 + (*text - L'0');
        if (value > int64_t{1} << 32) value = int64_t{1} << 32;  // saturate, clamped below
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

double ParseDouble(const wchar_t* text) {
    if (text == nullptr) return 0.0;
    CLocaleScope c;
    return std::wcstod(text, nullptr);
}

int32_t TruncateToLong(double value) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

String FormatLong(int32_t value) {
    wchar_t text[16];
    std::swprintf(text, 16, L"%d", value);
    return String(text);
}

String FormatDouble(double value) {
    CLocaleScope c;
    wchar_t text[64];
    if (std::swprintf(text, 64, L"%f", value) >= 0) return String(text);
    return String::Format(L"%f", value);  // very large magnitudes
}
