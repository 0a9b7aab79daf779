#include "Conversion.h"

#include <clocale>
#include <limits>
#include <string>
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
    // Only a decimal number is taken: the C library would also read "inf",
    // "nan" and hexadecimal, which ParseLong does not, so that one text would
    // give a double peer a different value than a long peer.
    const wchar_t* p = text;
    while (*p == L' ' || (*p >= L'\t' && *p <= L'\r')) ++p;
    const wchar_t* start = p;
    if (*p == L'+' || *p == L'-') ++p;
    bool digits = false;
    for (; *p >= L'0' && *p <= L'9'; ++p) digits = true;
    if (*p == L'.')
        for (++p; *p >= L'0' && *p <= L'9'; ++p) digits = true;
    if (!digits) return 0.0;
    if (*p == L'e' || *p == L'E') {
        const wchar_t* exponent = p + 1;
        if (*exponent == L'+' || *exponent == L'-') ++exponent;
        if (*exponent >= L'0' && *exponent <= L'9') {
            p = exponent;
            while (*p >= L'0' && *p <= L'9') ++p;
        }
    }
    // The checked prefix is plain decimal; the C library rounds it correctly
    // and gives +-inf where it overflows.
    std::wstring number(start, p);
    CLocaleScope c;
    return std::wcstod(number.c_str(), nullptr);
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
