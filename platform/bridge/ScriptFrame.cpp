#include "ScriptFrame.h"

#include <cstring>

#include "framework/Utf8.h"

namespace platform {

namespace {

void PutU8(std::string& out, uint8_t v) { out.push_back(static_cast<char>(v)); }
void PutU32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
void PutU64(std::string& out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}
void PutText(std::string& out, const std::wstring& text) {
    std::string utf8 = EncodeUtf8(text);
    PutU32(out, static_cast<uint32_t>(utf8.size()));
    out += utf8;
}

void PutValue(std::string& out, const ScriptValue& value, int depth, size_t& slots) {
    ++slots;
    using Kind = ScriptValue::Kind;
    // Deeper objects than the decoder accepts travel as empty objects.
    if (value.kind == Kind::Object && depth >= kMaxValueDepth) {
        PutU8(out, 6);
        PutU32(out, 0);
        return;
    }
    switch (value.kind) {
    case Kind::Empty: PutU8(out, 0); break;
    case Kind::Null: PutU8(out, 1); break;
    case Kind::Bool: PutU8(out, 2); PutU8(out, value.boolValue ? 1 : 0); break;
    case Kind::Int32: PutU8(out, 3); PutU32(out, static_cast<uint32_t>(value.intValue)); break;
    case Kind::Double: {
        uint64_t bits;
        std::memcpy(&bits, &value.doubleValue, sizeof bits);
        PutU8(out, 4);
        PutU64(out, bits);
        break;
    }
    case Kind::Text: PutU8(out, 5); PutText(out, value.text); break;
    case Kind::Object: {
        PutU8(out, 6);
        PutU32(out, static_cast<uint32_t>(value.elements.size()));
        for (size_t i = 0; i < value.elements.size(); ++i) {
            bool isPresent = i < value.present.size() && value.present[i];
            PutU8(out, isPresent ? 1 : value.ReadFailed(i) ? 2 : 0);
            ++slots;
            if (isPresent) PutValue(out, value.elements[i], depth + 1, slots);
        }
        break;
    }
    }
}

// Reads from a bounded buffer; every Get fails once the bytes run out.
struct Reader {
    const uint8_t* p;
    size_t left;
    size_t slots = 0;  // values and object slots decoded so far

    bool CountSlot() { return ++slots <= kMaxFrameSlots; }

    bool U8(uint8_t& v) {
        if (left < 1) return false;
        v = *p++;
        --left;
        return true;
    }
    bool U32(uint32_t& v) {
        if (left < 4) return false;
        v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        p += 4;
        left -= 4;
        return true;
    }
    bool U64(uint64_t& v) {
        uint32_t lo, hi;
        if (!U32(lo) || !U32(hi)) return false;
        v = uint64_t(hi) << 32 | lo;
        return true;
    }
    bool Text(std::wstring& text) {
        uint32_t n;
        if (!U32(n) || n > left) return false;
        if (!DecodeUtf8({reinterpret_cast<const char*>(p), n}, BadUtf8::Reject, text)) return false;
        p += n;
        left -= n;
        return true;
    }
    bool Value(ScriptValue& value, int depth) {
        using Kind = ScriptValue::Kind;
        uint8_t tag;
        if (!CountSlot() || !U8(tag)) return false;
        value = ScriptValue();
        switch (tag) {
        case 0: return true;
        case 1: value.kind = Kind::Null; return true;
        case 2: {
            uint8_t b;
            if (!U8(b) || b > 1) return false;
            value.kind = Kind::Bool;
            value.boolValue = b == 1;
            return true;
        }
        case 3: {
            uint32_t i;
            if (!U32(i)) return false;
            value.kind = Kind::Int32;
            value.intValue = static_cast<int32_t>(i);
            return true;
        }
        case 4: {
            uint64_t bits;
            if (!U64(bits)) return false;
            value.kind = Kind::Double;
            std::memcpy(&value.doubleValue, &bits, sizeof bits);
            return true;
        }
        case 5: value.kind = Kind::Text; return Text(value.text);
        case 6: {
            uint32_t count;
            if (depth >= kMaxValueDepth || !U32(count)) return false;
            // Each slot takes at least its present byte: a count beyond the bytes
            // left is corrupt, and checking first bounds the reservation.
            if (count > left || count > kMaxFrameSlots) return false;
            value.kind = Kind::Object;
            value.elements.reserve(count < 1024 ? count : 1024);
            for (uint32_t i = 0; i < count; ++i) {
                uint8_t isPresent;
                if (!CountSlot() || !U8(isPresent) || isPresent > 2) return false;
                if (isPresent == 2) value.AppendFailed();
                else value.Append(ScriptValue(), isPresent == 1);
                if (isPresent == 1 && !Value(value.elements.back(), depth + 1)) return false;
            }
            return true;
        }
        default: return false;
        }
    }
    bool Values(std::vector<ScriptValue>& values) {
        uint32_t count;
        if (!U32(count) || count > left || count > kMaxFrameSlots) return false;
        values.reserve(count < 1024 ? count : 1024);
        for (uint32_t i = 0; i < count; ++i) {
            values.emplace_back();
            if (!Value(values.back(), 0)) return false;
        }
        return true;
    }
};

}  // namespace

bool EncodeFrame(const ScriptFrame& frame, std::string& out) {
    size_t start = out.size();
    size_t slots = 0;
    PutU32(out, 0);  // size, patched below
    PutU8(out, static_cast<uint8_t>(frame.kind));
    PutU32(out, frame.id);
    auto value = [&](size_t i) { return i < frame.values.size() ? frame.values[i] : ScriptValue(); };
    switch (frame.kind) {
    case FrameKind::Hello:
        PutU64(out, frame.pageId);
        for (size_t i = 0; i < kTokenSize; ++i)
            PutU8(out, i < frame.token.size() ? static_cast<uint8_t>(frame.token[i]) : 0);
        break;
    case FrameKind::Reply:
        PutU32(out, static_cast<uint32_t>(frame.number));
        PutValue(out, value(0), 0, slots);
        break;
    case FrameKind::ApiCall:
        PutU32(out, static_cast<uint32_t>(frame.number));
        PutValue(out, value(0), 0, slots);
        break;
    case FrameKind::PropertyGet: PutU8(out, frame.selector); break;
    case FrameKind::PropertySet:
        PutU8(out, frame.selector);
        PutValue(out, value(0), 0, slots);
        break;
    case FrameKind::Test:
        PutText(out, frame.name);
        PutText(out, frame.text);
        break;
    case FrameKind::ScriptDialog:
        PutU8(out, frame.selector);
        PutText(out, frame.name);
        PutText(out, frame.text);
        break;
    case FrameKind::DocumentQuery: PutText(out, frame.name); break;
    case FrameKind::CallFunction:
    case FrameKind::CallFunctionWithArray:
        PutText(out, frame.name);
        PutU32(out, static_cast<uint32_t>(frame.values.size()));
        for (const auto& v : frame.values) PutValue(out, v, 0, slots);
        break;
    case FrameKind::ReplaceOuterHtml:
        PutText(out, frame.name);
        PutText(out, frame.text);
        break;
    }
    size_t bytes = out.size() - start - kFrameSizeField;
    if (bytes > kMaxFrameSize || slots > kMaxFrameSlots) {
        out.resize(start);
        return false;
    }
    uint32_t size = static_cast<uint32_t>(bytes);
    for (int i = 0; i < 4; ++i) out[start + i] = static_cast<char>((size >> (8 * i)) & 0xff);
    return true;
}

bool DecodeFrame(const uint8_t* data, size_t size, ScriptFrame& frame) {
    if (size < kFrameHeaderSize || size > kMaxFrameSize) return false;
    Reader r{data, size};
    uint8_t kind;
    r.U8(kind);
    r.U32(frame.id);
    frame.values.clear();
    frame.name.clear();
    frame.text.clear();
    bool ok;
    auto oneValue = [&] {
        frame.values.resize(1);
        return r.Value(frame.values[0], 0);
    };
    uint32_t u = 0;
    switch (static_cast<FrameKind>(kind)) {
    case FrameKind::Hello:
        ok = r.U64(frame.pageId) && r.left >= kTokenSize;
        if (ok) {
            frame.token.assign(reinterpret_cast<const char*>(r.p), kTokenSize);
            r.p += kTokenSize;
            r.left -= kTokenSize;
        }
        break;
    case FrameKind::Reply:
    case FrameKind::ApiCall:
        ok = r.U32(u) && oneValue();
        frame.number = static_cast<int32_t>(u);
        break;
    case FrameKind::PropertyGet: ok = r.U8(frame.selector) && frame.selector <= 1; break;
    case FrameKind::PropertySet: ok = r.U8(frame.selector) && frame.selector <= 1 && oneValue(); break;
    case FrameKind::Test:
    case FrameKind::ReplaceOuterHtml: ok = r.Text(frame.name) && r.Text(frame.text); break;
    case FrameKind::ScriptDialog:
        ok = r.U8(frame.selector) && frame.selector <= 2 && r.Text(frame.name) && r.Text(frame.text);
        break;
    case FrameKind::DocumentQuery: ok = r.Text(frame.name); break;
    case FrameKind::CallFunction:
    case FrameKind::CallFunctionWithArray: ok = r.Text(frame.name) && r.Values(frame.values); break;
    default: return false;
    }
    frame.kind = static_cast<FrameKind>(kind);
    return ok && r.left == 0;
}

}  // namespace platform
