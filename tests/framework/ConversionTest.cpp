// The conversions between connector kinds: leading-number parses, truncation and
// the "%d"/"%f" texts, including the C-locale guarantee.

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "framework/Connector.h"
#include "framework/Conversion.h"

namespace {

constexpr int32_t Min32 = std::numeric_limits<int32_t>::min();
constexpr int32_t Max32 = std::numeric_limits<int32_t>::max();
const double NaN = std::numeric_limits<double>::quiet_NaN();
const double Inf = std::numeric_limits<double>::infinity();

TEST(Conversion, ParseLongReadsTheLeadingNumber) {
    struct Case {
        const wchar_t* text;
        int32_t expected;
    };
    const Case cases[] = {
        {L"", 0},
        {L"   ", 0},
        {L"abc", 0},
        {L"12abc", 12},
        {L"  \t\n-42", -42},
        {L"+7", 7},
        {L"-", 0},
        {L"- 5", 0},
        {L"--5", 0},
        {L"3.9", 3},
        {L"0x1A", 0},
        {L"007", 7},
        {L"2147483647", Max32},
        {L"-2147483648", Min32},
        // Beyond 32 bits the value clamps to the range instead of wrapping.
        {L"2147483648", Max32},
        {L"4294967296", Max32},
        {L"4294967303", Max32},
        {L"99999999999999999999999", Max32},
        {L"-2147483649", Min32},
        {L"-99999999999999999999999", Min32},
        {L"-0", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseLong(c.text), c.expected) << "text \"" << c.text << '"';
    EXPECT_EQ(ParseLong(nullptr), 0);
}

TEST(Conversion, ParseDoubleReadsTheLongestLeadingNumber) {
    struct Case {
        const wchar_t* text;
        double expected;
    };
    const Case cases[] = {
        {L"", 0.0},       {L"  ", 0.0},        {L"abc", 0.0},       {L"1.5", 1.5},
        {L" -2.5e3xyz", -2500.0}, {L".5", 0.5}, {L"12abc", 12.0},   {L"+7.", 7.0},
        {L"1,5", 1.0},    {L"1e", 1.0},        {L"-", 0.0},         {L"7.000000", 7.0},
        // Only decimal numbers: the words and hexadecimal the C library also
        // reads give what ParseLong gives, the leading decimal digits or 0.
        {L"nan", 0.0},    {L"-NaN(1)", 0.0},   {L"inf", 0.0},       {L"-Infinity", 0.0},
        {L"0x10", 0.0},   {L"0X1p4", 0.0},     {L"1e+", 1.0},       {L"2E-1x", 0.2},
        {L".", 0.0},      {L"-.e5", 0.0},      {L"1e999", Inf},     {L"-1e999", -Inf},
        {L"1e-999", 0.0},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseDouble(c.text), c.expected) << "text \"" << c.text << '"';
    EXPECT_EQ(ParseDouble(nullptr), 0.0);
}

TEST(Conversion, TruncateToLongCutsTowardZeroAndMapsTheRestToMin) {
    struct Case {
        double value;
        int32_t expected;
    };
    const Case cases[] = {
        {2.9, 2},          {-2.9, -2},         {0.999, 0},          {-0.5, 0},
        {-0.0, 0},         {2147483647.0, Max32}, {2147483647.9, Max32},
        {-2147483648.0, Min32}, {-2147483648.9, Min32},
        {2147483648.0, Min32}, {3.0e10, Min32}, {-3.0e10, Min32}, {-2147483649.0, Min32},
        {NaN, Min32},      {Inf, Min32},       {-Inf, Min32},
    };
    for (const Case& c : cases) EXPECT_EQ(TruncateToLong(c.value), c.expected) << "value " << c.value;
}

TEST(Conversion, NumbersFormatAsPercentDAndPercentF) {
    struct LongCase {
        int32_t value;
        const wchar_t* expected;
    };
    const LongCase longs[] = {{0, L"0"}, {-5, L"-5"}, {Max32, L"2147483647"}, {Min32, L"-2147483648"}};
    for (const LongCase& c : longs) EXPECT_STREQ(FormatLong(c.value).Text(), c.expected);

    struct DoubleCase {
        double value;
        const wchar_t* expected;
    };
    const DoubleCase doubles[] = {
        {0.5, L"0.500000"},
        {7.0, L"7.000000"},
        {-2.25, L"-2.250000"},
        {1e-7, L"0.000000"},
        {-0.0, L"-0.000000"},
        {1e20, L"100000000000000000000.000000"},
        {Inf, L"inf"},
    };
    for (const DoubleCase& c : doubles) EXPECT_STREQ(FormatDouble(c.value).Text(), c.expected);

    // Magnitudes whose text does not fit a small buffer still come out whole.
    std::wstring huge = FormatDouble(1e300).Text();
    EXPECT_EQ(huge.size(), 301u + 7u);
    EXPECT_EQ(huge.substr(0, 2), L"10");
    EXPECT_EQ(huge.substr(huge.size() - 7), L".000000");
    EXPECT_EQ(ParseDouble(huge.c_str()), 1e300);
}

// Finds a locale whose decimal separator is a comma: the system's, or the one
// the build compiled beside the test (KORVO_TEST_LOCALE_DIR) when the system
// has none. Returns false when neither exists.
bool SwitchToDecimalCommaLocale() {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"})
        if (std::setlocale(LC_ALL, name)) return true;
#ifdef KORVO_TEST_LOCALE_DIR
    setenv("LOCPATH", KORVO_TEST_LOCALE_DIR, 1);
    bool found = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    unsetenv("LOCPATH");
    return found;
#else
    return false;
#endif
}

TEST(Conversion, NumbersUseThePointWhenTheProcessLocaleUsesAComma) {
    std::string previous = std::setlocale(LC_ALL, nullptr);
    if (!SwitchToDecimalCommaLocale())
        GTEST_SKIP() << "no locale with a decimal comma (de_DE.UTF-8) is available here";
    // The locale really uses a comma, or this case would prove nothing.
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    EXPECT_STREQ(probe, "0,5");

    EXPECT_EQ(ParseDouble(L"1.5"), 1.5);
    EXPECT_EQ(ParseDouble(L"1,5"), 1.0);
    EXPECT_STREQ(FormatDouble(0.5).Text(), L"0.500000");
    // Only the C locale's white space is skipped, by both parses alike.
    EXPECT_EQ(ParseLong(L"\u3000 5"), 0);
    EXPECT_EQ(ParseDouble(L"\u3000 5"), 0.0);
    EXPECT_EQ(ParseLong(L"\v\f\r 5"), 5);

    KorvoDoubleConnector number(L"Number", nullptr, 0, nullptr);
    number.SetText(L"2.25", false);
    EXPECT_EQ(number.GetDouble(), 2.25);
    EXPECT_STREQ(number.GetText().Text(), L"2.250000");
    KorvoTextConnector text(L"Text", nullptr, 0, nullptr);
    text.SetDouble(-3.5, false);
    EXPECT_STREQ(text.GetText().Text(), L"-3.500000");
    EXPECT_EQ(text.GetDouble(), -3.5);

    std::setlocale(LC_ALL, previous.c_str());
}

}  // namespace
