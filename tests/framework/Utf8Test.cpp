// The UTF-8 codec: one table of byte strings decoded under every rule for bad
// input, and the encoder's handling of code points UTF-8 cannot carry.

#include <gtest/gtest.h>

#include <string>

#include "framework/Utf8.h"

namespace {

TEST(Utf8, EachRuleForBytesThatAreNotUtf8) {
    struct Case {
        const char* what;
        std::string bytes;
        std::wstring latin1, replace, latin1Text;
        bool valid;  // Reject decodes it (to latin1, which is then the same text)
    };
    const Case cases[] = {
        {"ASCII with a NUL", std::string("a\0b", 3), std::wstring(L"a\0b", 3),
         std::wstring(L"a\0b", 3), std::wstring(L"a\0b", 3), true},
        {"two, three and four bytes", "\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80", L"\u00e4\u20ac\U0001F600",
         L"\u00e4\u20ac\U0001F600", L"\u00e4\u20ac\U0001F600", true},
        {"a Latin-1 byte after UTF-8", "\xc3\xa9\xff", L"\u00e9\u00ff", L"\u00e9\ufffd",
         L"\u00c3\u00a9\u00ff", false},
        {"overlong form", "\xc0\xaf", L"\u00c0\u00af", L"\ufffd\ufffd", L"\u00c0\u00af", false},
        {"overlong three bytes", "\xe0\x80\x80", L"\u00e0\u0080\u0080", L"\ufffd\ufffd\ufffd",
         L"\u00e0\u0080\u0080", false},
        {"surrogate", "\xed\xa0\x80", L"\u00ed\u00a0\u0080", L"\ufffd\ufffd\ufffd",
         L"\u00ed\u00a0\u0080", false},
        {"past U+10FFFF", "\xf4\x90\x80\x80", L"\u00f4\u0090\u0080\u0080",
         L"\ufffd\ufffd\ufffd\ufffd", L"\u00f4\u0090\u0080\u0080", false},
        {"cut short at the end", "x\xe2\x82", L"x\u00e2\u0082", L"x\ufffd\ufffd", L"x\u00e2\u0082",
         false},
        {"cut short by ASCII", "\xe2" "a", L"\u00e2a", L"\ufffda", L"\u00e2a", false},
        {"lone continuation byte", "\x80", L"\u0080", L"\ufffd", L"\u0080", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(DecodeUtf8(c.bytes, BadUtf8::Latin1), c.latin1);
        EXPECT_EQ(DecodeUtf8(c.bytes, BadUtf8::Replace), c.replace);
        EXPECT_EQ(DecodeUtf8(c.bytes, BadUtf8::Latin1Text), c.latin1Text);
        std::wstring strict = L"old";
        EXPECT_EQ(DecodeUtf8(c.bytes, BadUtf8::Reject, strict), c.valid);
        if (c.valid) {
            EXPECT_EQ(strict, c.latin1);
            // What was decoded encodes back to the same bytes.
            EXPECT_EQ(EncodeUtf8(c.latin1), c.bytes);
        } else {
            EXPECT_EQ(DecodeUtf8(c.bytes, BadUtf8::Reject), L"");
        }
    }
}

TEST(Utf8, Latin1BytesStayCharactersOfTheirValue) {
    // Every byte, high ones included, becomes the character of its unsigned value.
    std::string bytes;
    for (int b = 0; b < 256; ++b) bytes.push_back(static_cast<char>(b));
    std::wstring text = DecodeLatin1(bytes);
    ASSERT_EQ(text.size(), 256u);
    for (int b = 0; b < 256; ++b) EXPECT_EQ(text[b], static_cast<wchar_t>(b));
    EXPECT_EQ(DecodeUtf8(EncodeUtf8(text), BadUtf8::Reject), text);
}

TEST(Utf8, CodePointsUtf8CannotCarryBecomeReplacementCharacters) {
    const wchar_t cannot[] = {wchar_t(0xD800), L'x', wchar_t(0xDFFF), wchar_t(0x110000), wchar_t(-1)};
    EXPECT_EQ(EncodeUtf8(std::wstring_view(cannot, 5)),
              "\xef\xbf\xbdx\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");
    EXPECT_EQ(EncodeUtf8(std::wstring(L"\u007f\u0080\u07ff\u0800\uffff\U00010000\U0010FFFF")),
              "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf\xf0\x90\x80\x80\xf4\x8f\xbf\xbf");
}

}  // namespace
