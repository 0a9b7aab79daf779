#pragma once
// Conversions between the wide text of the interfaces (wchar_t, UTF-32 here)
// and the UTF-8 of files, GTK and GLib. Code points that UTF-8 cannot carry
// (surrogates, values past U+10FFFF) become U+FFFD; bytes that are not UTF-8
// are taken as Latin-1, so that reading never loses a byte.

#include <string>
#include <string_view>

#include "Export.h"

namespace platform {

PLATFORM_API std::string ToUtf8(std::wstring_view text);
PLATFORM_API std::wstring FromUtf8(std::string_view bytes);

}  // namespace platform
