#pragma once
// The one UTF-8 codec of the tree: wide text (wchar_t, UTF-32 here) to and
// from the UTF-8 of files, GTK, GLib, MIDI port names and the script bridge.
//
// A sequence decodes when it is the shortest form of a Unicode scalar value
// (no surrogates, nothing past U+10FFFF). What becomes of bytes that do not
// decode is the caller's rule, because the callers need different things:
// files and settings must not lose a byte, text shown to a person may be
// mended, and the script bridge must refuse a frame that lies about its text.
// Encoding writes U+FFFD for the code points that UTF-8 cannot carry
// (surrogates, values past U+10FFFF, negative wchar_t values).
//
// The code sits in this header so that the web process extension and the fuzz
// targets compile it with their own instrumentation.

#include <cstddef>
#include <string>
#include <string_view>

// What a decoder does with a byte that does not start a valid sequence.
enum class BadUtf8 {
    Latin1,      // the byte stands for the Latin-1 character of its value: nothing is lost
    Replace,     // the byte becomes U+FFFD
    Reject,      // the text does not decode
    Latin1Text,  // the whole text is read byte by byte as Latin-1 (a text in an 8-bit
                 // code page is seldom also valid UTF-8)
};

namespace utf8_codec {

// Length of the valid sequence at bytes[i] (1 to 4) with its value in code, or
// 0 when none starts there.
inline std::size_t DecodeOne(std::string_view bytes, std::size_t i, char32_t& code) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    unsigned char lead = byte(i);
    std::size_t length;
    char32_t value;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, value = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > bytes.size()) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(i + k) & 0x3F);
    }
    if ((length == 3 && value < 0x800) || (length == 4 && value < 0x10000) || value > 0x10FFFF ||
        (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    code = value;
    return length;
}

}  // namespace utf8_codec

// Each byte as the character of its value.
inline std::wstring DecodeLatin1(std::string_view bytes) {
    std::wstring text;
    text.reserve(bytes.size());
    for (char byte : bytes) text.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
    return text;
}

// Decodes bytes into out (its old contents are dropped). False only under
// BadUtf8::Reject, when bytes are not UTF-8; out is then unspecified.
inline bool DecodeUtf8(std::string_view bytes, BadUtf8 rule, std::wstring& out) {
    out.clear();
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        char32_t code = 0;
        std::size_t length = utf8_codec::DecodeOne(bytes, i, code);
        if (length == 0) {
            switch (rule) {
            case BadUtf8::Latin1: code = static_cast<unsigned char>(bytes[i]); break;
            case BadUtf8::Replace: code = 0xFFFD; break;
            case BadUtf8::Reject: return false;
            case BadUtf8::Latin1Text: out = DecodeLatin1(bytes); return true;
            }
            length = 1;
        }
        out.push_back(static_cast<wchar_t>(code));
        i += length;
    }
    return true;
}

// The same as a value; under BadUtf8::Reject, bytes that are not UTF-8 give
// the empty text.
inline std::wstring DecodeUtf8(std::string_view bytes, BadUtf8 rule) {
    std::wstring text;
    if (!DecodeUtf8(bytes, rule, text)) text.clear();
    return text;
}

inline std::string EncodeUtf8(std::wstring_view text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (wchar_t c : text) {
        auto code = static_cast<char32_t>(c);
        if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
        if (code < 0x80) {
            bytes.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            bytes.push_back(static_cast<char>(0xC0 | (code >> 6)));
            bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            bytes.push_back(static_cast<char>(0xE0 | (code >> 12)));
            bytes.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            bytes.push_back(static_cast<char>(0xF0 | (code >> 18)));
            bytes.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            bytes.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return bytes;
}
