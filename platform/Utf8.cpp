#include "Utf8.h"

#include <glib.h>

namespace platform {

std::string ToUtf8(std::wstring_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    char encoded[6];
    for (wchar_t c : text) {
        auto code = static_cast<gunichar>(c);
        if (!g_unichar_validate(code)) code = 0xFFFD;
        bytes.append(encoded, g_unichar_to_utf8(code, encoded));
    }
    return bytes;
}

std::wstring FromUtf8(std::string_view bytes) {
    std::wstring text;
    text.reserve(bytes.size());
    const char* at = bytes.data();
    const char* end = at + bytes.size();
    while (at < end) {
        gunichar code = g_utf8_get_char_validated(at, end - at);
        // A NUL byte decodes as U+0000 and is kept; anything else that does
        // not decode is one Latin-1 byte.
        if (code == static_cast<gunichar>(-1) || code == static_cast<gunichar>(-2)) {
            text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*at)));
            ++at;
        } else {
            text.push_back(static_cast<wchar_t>(code));
            at = code == 0 ? at + 1 : g_utf8_next_char(at);
        }
    }
    return text;
}

}  // namespace platform
