#pragma once
// The value conversions that connectors apply between their kinds. Numbers are
// read and written in the C locale whatever the user's locale is, so that a
// value means the same on every desktop.

#include <cstdint>

#include "String.h"

// Leading-number parse: blanks, optional sign, decimal digits up to the first
// other character; no digits gives 0. Values beyond 32 bits clamp to the range.
int32_t ParseLong(const wchar_t* text);
// The longest leading decimal floating-point number (no "inf", "nan" or hex);
// none gives 0.0. A value too large for a double gives +-inf.
double ParseDouble(const wchar_t* text);
// Truncation toward zero; out of range or not a number gives -2147483648.
int32_t TruncateToLong(double value);
// "%d" and "%f".
String FormatLong(int32_t value);
String FormatDouble(double value);
