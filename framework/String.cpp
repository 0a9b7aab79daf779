#include "String.h"

#include <cerrno>
#include <cstdlib>
#include <glib.h>
#include <new>

#include "Utf8.h"

namespace {

wchar_t* Copy(const wchar_t* text, std::size_t length) {
    auto* copy = static_cast<wchar_t*>(std::malloc((length + 1) * sizeof(wchar_t)));
    if (copy == nullptr) throw std::bad_alloc();
    std::wmemcpy(copy, text, length);
    copy[length] = L'\0';
    return copy;
}

}  // namespace

String::String() : buffer(Copy(L"", 0)) {}
String::String(const wchar_t* text) : buffer(Copy(text ? text : L"", text ? std::wcslen(text) : 0)) {}
String::String(const wchar_t* text, std::size_t length) : buffer(Copy(text ? text : L"", text ? length : 0)) {}
String::String(const String& other) : buffer(Copy(other.buffer, std::wcslen(other.buffer))) {}
String::String(String&& other) noexcept : buffer(other.buffer) { other.buffer = Copy(L"", 0); }
String::~String() { std::free(buffer); }

String& String::operator=(const wchar_t* text) {
    // Copy first, then free: assigning a String its own text is safe.
    wchar_t* copy = Copy(text ? text : L"", text ? std::wcslen(text) : 0);
    std::free(buffer);
    buffer = copy;
    return *this;
}

String& String::operator=(const String& other) { return *this = other.buffer; }

String& String::operator=(String&& other) noexcept {
    if (this != &other) std::swap(buffer, other.buffer);
    return *this;
}

String String::Format(const wchar_t* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    String result = FormatList(format, arguments);
    va_end(arguments);
    return result;
}

String String::FormatList(const wchar_t* format, va_list arguments) {
    // vswprintf cannot measure; grow until the text fits (with two spare characters).
    std::size_t size = 64;
    for (;;) {
        auto* text = static_cast<wchar_t*>(std::malloc((size + 2) * sizeof(wchar_t)));
        if (text == nullptr) throw std::bad_alloc();
        va_list copy;
        va_copy(copy, arguments);
        errno = 0;
        int written = std::vswprintf(text, size + 2, format, copy);
        int error = errno;
        va_end(copy);
        if (written >= 0) {
            String result;
            std::free(result.buffer);
            result.buffer = text;
            return result;
        }
        std::free(text);
        // An argument that cannot be converted (a narrow text that is not valid in
        // the locale) fails at every size: give up at once instead of growing the
        // buffer towards a gigabyte. A truncated output leaves errno alone.
        if (error == EILSEQ) return String();
        if (size > (1u << 26)) return String();  // a format that never fits
        size *= 4;
    }
}

String String::FromUtf8(std::string_view bytes) {
    std::wstring text = DecodeUtf8(bytes, BadUtf8::Latin1);
    return String(text.c_str(), text.size());
}

std::string String::ToUtf8() const { return EncodeUtf8(buffer); }

bool String::EqualsNoCase(const wchar_t* other) const { return CompareNoCase(buffer, other) == 0; }

String& String::operator+=(const wchar_t* text) {
    if (text == nullptr) return *this;
    std::size_t a = std::wcslen(buffer), b = std::wcslen(text);
    auto* joined = static_cast<wchar_t*>(std::malloc((a + b + 1) * sizeof(wchar_t)));
    if (joined == nullptr) throw std::bad_alloc();
    std::wmemcpy(joined, buffer, a);
    std::wmemcpy(joined + a, text, b + 1);
    std::free(buffer);
    buffer = joined;
    return *this;
}

String String::operator+(const wchar_t* text) const {
    String joined(*this);
    joined += text;
    return joined;
}

String String::Replace(const wchar_t* from, const wchar_t* to) const {
    if (from == nullptr) return *this;
    if (to == nullptr) to = L"";
    std::size_t fromLength = std::wcslen(from);
    if (fromLength == 0) return *this;
    std::wstring out;
    for (const wchar_t* p = buffer; *p;) {
        if (std::wcsncmp(p, from, fromLength) == 0) {
            out += to;
            p += fromLength;
        } else {
            out += *p++;
        }
    }
    return String(out.c_str(), out.size());
}

wchar_t FoldCase(wchar_t c) {
    // GLib's mapping leaves anything that is not a character (surrogates,
    // values beyond U+10FFFF) as it is.
    return static_cast<wchar_t>(g_unichar_tolower(static_cast<gunichar>(c)));
}

std::wstring FoldCase(const wchar_t* text) {
    std::wstring folded(text ? text : L"");
    for (wchar_t& c : folded) c = FoldCase(c);
    return folded;
}

int CompareNoCase(const wchar_t* a, const wchar_t* b) {
    if (a == nullptr) a = L"";
    if (b == nullptr) b = L"";
    for (;; ++a, ++b) {
        wint_t x = static_cast<wint_t>(FoldCase(*a)), y = static_cast<wint_t>(FoldCase(*b));
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}
