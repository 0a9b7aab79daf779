// The frame codec: what one side encodes the other decodes unchanged, and
// malformed bytes are refused without reading past the buffer.

#include <gtest/gtest.h>

#include <cstring>

#include "platform/bridge/ScriptFrame.h"

using namespace platform;
using Kind = ScriptValue::Kind;

namespace {

std::string Encode(const ScriptFrame& frame) {
    std::string bytes;
    EXPECT_TRUE(EncodeFrame(frame, bytes));
    return bytes;
}

bool Decode(const std::string& bytes, ScriptFrame& frame) {
    if (bytes.size() < kFrameSizeField) return false;
    return DecodeFrame(reinterpret_cast<const uint8_t*>(bytes.data()) + kFrameSizeField,
                       bytes.size() - kFrameSizeField, frame);
}

ScriptValue Holey() {
    ScriptValue v;
    v.kind = Kind::Object;
    v.Append(ScriptValue::Int32(1));
    v.Append(ScriptValue(), false);
    v.Append(ScriptValue::Empty());
    v.Append(ScriptValue::Array({ScriptValue::Text(L"€"), ScriptValue::Null()}));
    return v;
}

TEST(ScriptFrameTest, EveryKindSurvivesTheRoundTrip) {
    ScriptFrame frames[7];
    frames[0].kind = FrameKind::Hello;
    frames[0].pageId = 0x0123456789abcdefull;
    frames[0].token = std::string("\x00secret\xff", 8) + std::string(kTokenSize - 8, 'k');
    frames[1].kind = FrameKind::ApiCall;
    frames[1].number = -1;
    frames[1].values = {Holey()};
    frames[2].kind = FrameKind::Reply;
    frames[2].number = DISP_E_EXCEPTION;
    frames[2].values = {ScriptValue::Double(-0.0)};
    frames[3].kind = FrameKind::CallFunctionWithArray;
    frames[3].name = L"f😀";
    frames[3].values = {ScriptValue::Empty(), ScriptValue::Null(), ScriptValue::Bool(false),
                        ScriptValue::Int32(-2147483647 - 1), ScriptValue::Double(1e300),
                        ScriptValue::Text(std::wstring(L"a\0b", 3))};
    frames[4].kind = FrameKind::ScriptDialog;
    frames[4].selector = 2;
    frames[4].name = L"name?";
    frames[4].text = L"";
    frames[5].kind = FrameKind::PropertySet;
    frames[5].selector = 1;
    frames[5].values = {ScriptValue::Int32(4097)};
    frames[6].kind = FrameKind::ReplaceOuterHtml;
    frames[6].name = L"ID_DISPLAY";
    frames[6].text = L"<span>DISPLAY</span>";
    for (auto& frame : frames) {
        frame.id = 77;
        std::string bytes = Encode(frame);
        ScriptFrame back;
        ASSERT_TRUE(Decode(bytes, back)) << int(frame.kind);
        EXPECT_EQ(back.kind, frame.kind);
        EXPECT_EQ(back.id, 77u);
        EXPECT_EQ(back.pageId, frame.kind == FrameKind::Hello ? frame.pageId : 0u);
        EXPECT_EQ(back.token, frame.token);
        EXPECT_EQ(back.name, frame.name);
        EXPECT_EQ(back.text, frame.text);
        EXPECT_EQ(back.selector, frame.selector);
        if (frame.kind == FrameKind::ApiCall || frame.kind == FrameKind::Reply) {
            EXPECT_EQ(back.number, frame.number);
        }
        ASSERT_EQ(back.values.size(), frame.values.size());
        for (size_t i = 0; i < frame.values.size(); ++i) {
            if (frame.values[i].kind == Kind::Double) {
                // compare bits: -0 must stay -0
                EXPECT_EQ(std::memcmp(&back.values[i].doubleValue, &frame.values[i].doubleValue, 8), 0);
            }
            EXPECT_EQ(back.values[i].kind, frame.values[i].kind);
            if (frame.values[i].kind != Kind::Double) {
                EXPECT_EQ(back.values[i], frame.values[i]);
            }
        }
    }
}

TEST(ScriptFrameTest, HolesStayAbsent) {
    ScriptFrame frame;
    frame.kind = FrameKind::ApiCall;
    frame.values = {Holey()};
    ScriptFrame back;
    ASSERT_TRUE(Decode(Encode(frame), back));
    const ScriptValue& v = back.values[0];
    ASSERT_EQ(v.Length(), 4u);
    EXPECT_NE(v.Element(0), nullptr);
    EXPECT_EQ(v.Element(1), nullptr);
    ASSERT_NE(v.Element(2), nullptr);
    EXPECT_EQ(v.Element(2)->kind, Kind::Empty);
    EXPECT_EQ(v.Element(3)->Element(0)->text, L"€");
    EXPECT_EQ(v.Element(4), nullptr);

    // An element whose read failed is absent too, and stays told apart from a hole.
    ScriptValue failed;
    failed.kind = Kind::Object;
    failed.Append(ScriptValue(), false);
    failed.AppendFailed();
    frame.values = {failed};
    ASSERT_TRUE(Decode(Encode(frame), back));
    const ScriptValue& f = back.values[0];
    ASSERT_EQ(f.Length(), 2u);
    EXPECT_EQ(f.Element(1), nullptr);
    EXPECT_FALSE(f.ReadFailed(0));
    EXPECT_TRUE(f.ReadFailed(1));
    EXPECT_FALSE(f.ReadFailed(2));
}

TEST(ScriptFrameTest, MalformedBytesAreRefused) {
    ScriptFrame call;
    call.kind = FrameKind::CallFunction;
    call.name = L"f";
    call.values = {ScriptValue::Text(L"abc"), ScriptValue::Bool(true)};
    std::string good = Encode(call);
    ScriptFrame frame;
    ASSERT_TRUE(Decode(good, frame));

    auto with = [&](size_t at, char byte) {
        std::string b = good;
        b[at] = byte;
        return b;
    };
    // Layout: size(4) kind(1) id(4) name-length(4) 'f' count(4) [5 len(4) 'a' 'b' 'c'] [2 1]
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"header only", good.substr(0, 4 + 5)},
        {"cut short", good.substr(0, good.size() - 1)},
        {"trailing byte", good + "x"},
        {"unknown kind", with(4, 99)},
        {"kind zero", with(4, 0)},
        {"name longer than the frame", with(9, 100)},
        {"count beyond the bytes", with(14, 50)},
        {"unknown value tag", with(18, 9)},
        {"boolean neither 0 nor 1", with(good.size() - 1, 2)},
        {"invalid UTF-8", with(23, char(0xff))},
        {"surrogate in UTF-8", [&] {
             std::string b = good;
             b.replace(23, 3, "\xed\xa0\x80");  // U+D800
             return b;
         }()},
    };
    for (const auto& c : cases) EXPECT_FALSE(Decode(c.bytes, frame)) << c.what;

    // A hello must carry the whole token: one with the page id alone is refused.
    ScriptFrame hello;
    hello.kind = FrameKind::Hello;
    hello.pageId = 7;
    std::string full = Encode(hello);
    EXPECT_TRUE(Decode(full, frame));
    EXPECT_EQ(frame.token, std::string(kTokenSize, '\0'));
    EXPECT_FALSE(Decode(full.substr(0, 4 + 5 + 8), frame));
    EXPECT_FALSE(Decode(full.substr(0, full.size() - 1), frame));
}

TEST(ScriptFrameTest, NestingAndSizeAreBounded) {
    // Objects nested deeper than the decoder accepts: built by hand, since the
    // encoder flattens what is too deep.
    auto nested = [](int depth) {
        std::string body;
        body.push_back(char(FrameKind::ApiCall));
        body.append(4, '\0');  // id
        body.append(4, '\0');  // number
        for (int i = 0; i < depth; ++i) body += std::string("\x06\x01\x00\x00\x00\x01", 6);
        body.push_back(0);  // undefined at the bottom
        return body;
    };
    ScriptFrame frame;
    std::string ok = nested(kMaxValueDepth);
    EXPECT_TRUE(DecodeFrame(reinterpret_cast<const uint8_t*>(ok.data()), ok.size(), frame));
    std::string deep = nested(kMaxValueDepth + 1);
    EXPECT_FALSE(DecodeFrame(reinterpret_cast<const uint8_t*>(deep.data()), deep.size(), frame));
    std::string hostile = nested(100000);
    EXPECT_FALSE(DecodeFrame(reinterpret_cast<const uint8_t*>(hostile.data()), hostile.size(), frame));

    // The encoder refuses what the decoder would refuse, instead of sending it.
    ScriptFrame big;
    big.kind = FrameKind::CallFunctionWithArray;
    big.values.assign(kMaxFrameSlots + 1, ScriptValue::Null());
    std::string bytes = "keep";
    EXPECT_FALSE(EncodeFrame(big, bytes));
    EXPECT_EQ(bytes, "keep");
}

}  // namespace
