#pragma once
// String: owned, zero-terminated wide text. The buffer is never null; a default
// String holds the empty text. Text crosses every outer boundary (files, GTK,
// JavaScript) as UTF-8; FromUtf8/ToUtf8 convert, taking bytes that are not
// UTF-8 as Latin-1 so that nothing is lost.

#include <cstdarg>
#include <cwchar>
#include <string>
#include <string_view>

class String {
public:
    String();
    String(const wchar_t* text);
    String(const wchar_t* text, std::size_t length);
    String(const String& other);
    String(String&& other) noexcept;
    virtual ~String();

    String& operator=(const wchar_t* text);
    String& operator=(const String& other);
    String& operator=(String&& other) noexcept;

    // Builds a String from a printf-style wide format.
    static String Format(const wchar_t* format, ...);
    static String FormatList(const wchar_t* format, va_list arguments);

    static String FromUtf8(std::string_view bytes);
    std::string ToUtf8() const;

    const wchar_t* Text() const { return buffer; }
    operator const wchar_t*() const { return buffer; }
    std::size_t Length() const { return std::wcslen(buffer); }
    bool IsEmpty() const { return buffer[0] == L'\0'; }

    bool operator==(const String& other) const { return std::wcscmp(buffer, other.buffer) == 0; }
    // A null text compares, joins and replaces as the empty text.
    bool operator==(const wchar_t* other) const { return std::wcscmp(buffer, other ? other : L"") == 0; }
    // Compares ignoring the case of the characters.
    bool EqualsNoCase(const wchar_t* other) const;

    String& operator+=(const wchar_t* text);
    String operator+(const wchar_t* text) const;
    // Replaces every occurrence of from by to.
    String Replace(const wchar_t* from, const wchar_t* to) const;

private:
    wchar_t* buffer;
};

// The one case rule of the system. Every name compared ignoring case (XML
// attribute names, module classes in the registry, String comparisons) is
// compared through FoldCase: the Unicode simple lower-case mapping from GLib's
// own tables, so "\u00C9" and "\u00E9" are one name whatever the desktop's
// language, and the result never depends on the process locale (towlower
// would: under the C locale it folds ASCII only).
wchar_t FoldCase(wchar_t c);
// A text with FoldCase applied to each character: two texts are equal ignoring
// case exactly when their folded forms are equal.
std::wstring FoldCase(const wchar_t* text);
// Case-insensitive comparison of two wide texts (0 when equal), by FoldCase.
int CompareNoCase(const wchar_t* a, const wchar_t* b);
