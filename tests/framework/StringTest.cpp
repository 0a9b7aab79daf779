// String: ownership, formatting and the UTF-8 boundary.

#include <clocale>
#include <cstdlib>
#include <cwctype>
#include <string>

#include <gtest/gtest.h>

#include "framework/String.h"

namespace {

TEST(String, NeverHoldsANullBuffer) {
    String empty, fromNull(static_cast<const wchar_t*>(nullptr));
    EXPECT_STREQ(empty.Text(), L"");
    EXPECT_STREQ(fromNull.Text(), L"");
    String moved(std::move(empty));
    EXPECT_STREQ(empty.Text(), L"");  // a moved-from String is still empty text
    String assigned = L"x";
    assigned = static_cast<const wchar_t*>(nullptr);
    EXPECT_TRUE(assigned.IsEmpty());
}

TEST(String, AssigningItsOwnTextIsSafe) {
    String text = L"Receive";
    text = text.Text();
    EXPECT_STREQ(text.Text(), L"Receive");
    String& same = text;
    text = same;
    EXPECT_STREQ(text.Text(), L"Receive");
}

TEST(String, FormatProducesTextOfAnyLength) {
    EXPECT_STREQ(String::Format(L"%d/%ls/%.2f", -3, L"ab", 0.5).Text(), L"-3/ab/0.50");
    std::wstring long1000(1000, L'q');
    String formatted = String::Format(L"<%ls>", long1000.c_str());
    EXPECT_EQ(formatted.Length(), 1002u);
    EXPECT_EQ(std::wstring(formatted.Text()), L"<" + long1000 + L">");
    EXPECT_STREQ(String::Format(L"").Text(), L"");
}

TEST(String, FormatWithAnUnconvertibleArgumentGivesEmptyText) {
    // In the C locale the byte 0xFF is not a character: the conversion fails at
    // every buffer size, so Format gives up at once instead of growing.
    EXPECT_STREQ(String::Format(L"%s", "\xff").Text(), L"");
}

TEST(String, Utf8RoundTripAndLatin1Fallback) {
    struct Case {
        std::string bytes;
        std::wstring text;
        std::string back;  // what ToUtf8 gives for text
    };
    const Case cases[] = {
        {"Status", L"Status", "Status"},
        {"Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac \xf0\x9f\x8e\xb9", L"Gr\u00fc\u00dfe \u20ac \U0001F3B9",
         "Gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac \xf0\x9f\x8e\xb9"},
        // Bytes that are not UTF-8 are taken as Latin-1, so nothing is lost.
        {"caf\xe9", L"caf\u00e9", "caf\xc3\xa9"},
        {"\xc0\xaf", L"\u00c0\u00af", "\xc3\x80\xc2\xaf"},         // overlong form
        {"\xed\xa0\x80", L"\u00ed\u00a0\u0080", "\xc3\xad\xc2\xa0\xc2\x80"},  // surrogate
        {"\xe2\x82", L"\u00e2\u0082", "\xc3\xa2\xc2\x82"},         // cut short
    };
    for (const Case& c : cases) {
        String text = String::FromUtf8(c.bytes);
        EXPECT_EQ(std::wstring(text.Text()), c.text);
        EXPECT_EQ(text.ToUtf8(), c.back);
    }
    // A wide character that is no scalar value becomes U+FFFD.
    const wchar_t invalid[] = {0xD800, 0x110000, 0};
    EXPECT_EQ(String(invalid).ToUtf8(), "\xef\xbf\xbd\xef\xbf\xbd");
}

TEST(String, CompareAndReplace) {
    String name = L"Status";
    EXPECT_TRUE(name == L"Status");
    EXPECT_FALSE(name == L"status");
    EXPECT_TRUE(name.EqualsNoCase(L"sTATUS"));
    EXPECT_FALSE(name.EqualsNoCase(L"Stat"));
    EXPECT_EQ(CompareNoCase(L"abc", L"ABD"), -1);
    EXPECT_EQ(CompareNoCase(L"b", L"A"), 1);

    EXPECT_STREQ(String(L"a.exe.exe").Replace(L".exe", L"").Text(), L"a");
    EXPECT_STREQ(String(L"aaa").Replace(L"a", L"aa").Text(), L"aaaaaa");
    EXPECT_STREQ(String(L"abc").Replace(L"", L"x").Text(), L"abc");
    EXPECT_STREQ((String(L"Re") + L"ceive").Text(), L"Receive");
}

// Names compared ignoring case fold the same way under every locale: under the
// C locale the C library folds ASCII only, under a German one it folds accented
// letters too, and a name must not change its meaning with the desktop.
TEST(String, CaseRuleDoesNotDependOnTheLocale) {
    std::string previous = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "C");
    bool german = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
#ifdef KORVO_TEST_LOCALE_DIR
    if (!german) {
        setenv("LOCPATH", KORVO_TEST_LOCALE_DIR, 1);
        german = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
        unsetenv("LOCPATH");
    }
#endif
    if (!german) {
        std::setlocale(LC_ALL, previous.c_str());
        GTEST_SKIP() << "no de_DE.UTF-8 locale is available here";
    }
    // The two locales really disagree about the C library's folding.
    ASSERT_EQ(std::towlower(L'\u00C9'), static_cast<wint_t>(L'\u00E9'));
    struct Case {
        const wchar_t* a;
        const wchar_t* b;
        bool equal;
    };
    const Case cases[] = {
        {L"\u00C9tat", L"\u00E9TAT", true},  // É / é
        {L"\u00D6l", L"\u00F6L", true},      // Ö / ö
        {L"\u03A9", L"\u03C9", true},        // Ω / ω
        {L"Stra\u00DFe", L"STRASSE", false},   // ß has no single-letter capital
        {L"\u00C9", L"E", false},
    };
    for (const char* locale : {"de_DE.UTF-8", "C"}) {
        if (std::string(locale) == "C") std::setlocale(LC_ALL, "C");
        for (const Case& c : cases) {
            EXPECT_EQ(CompareNoCase(c.a, c.b) == 0, c.equal) << locale << " " << String(c.a).ToUtf8();
            EXPECT_EQ(String(c.a).EqualsNoCase(c.b), c.equal) << locale << " " << String(c.a).ToUtf8();
            EXPECT_EQ(FoldCase(c.a) == FoldCase(c.b), c.equal) << locale << " " << String(c.a).ToUtf8();
        }
        // What is not a character passes unchanged.
        EXPECT_EQ(FoldCase(static_cast<wchar_t>(0xD800)), static_cast<wchar_t>(0xD800));
        EXPECT_EQ(FoldCase(static_cast<wchar_t>(0x110000)), static_cast<wchar_t>(0x110000));
        EXPECT_EQ(FoldCase(static_cast<wchar_t>(-1)), static_cast<wchar_t>(-1));
    }
    std::setlocale(LC_ALL, previous.c_str());
}

// A null text, where a caller passes one, reads as the empty text.
TEST(String, NullTextActsAsEmpty) {
    const wchar_t* none = nullptr;
    String text = L"Send";
    EXPECT_FALSE(text == none);
    EXPECT_TRUE(String() == none);
    EXPECT_FALSE(text.EqualsNoCase(none));
    EXPECT_EQ(CompareNoCase(none, L""), 0);
    EXPECT_STREQ((text + none).Text(), L"Send");
    EXPECT_STREQ(text.Replace(none, L"x").Text(), L"Send");
    EXPECT_STREQ(text.Replace(L"e", none).Text(), L"Snd");
    EXPECT_STREQ(String(none, 4).Text(), L"");
}

}  // namespace
