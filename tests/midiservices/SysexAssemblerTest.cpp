// Whole messages from split input events.
#include "SysexAssembler.h"

#include <gtest/gtest.h>

#include "MidiTestSupport.h"

using miditest::Bytes;

namespace {

using Events = std::vector<std::vector<uint8_t>>;

Events Assemble(const Events& in) {
    midi::SysexAssembler assembler;
    Events out;
    for (const auto& e : in)
        assembler.Feed(e.data(), e.size(), [&](const uint8_t* b, size_t n) { out.emplace_back(b, b + n); });
    return out;
}

TEST(SysexAssembler, ReassemblesByTable) {
    struct Row {
        const char* what;
        Events in;
        Events out;
    } rows[] = {
        {"whole message", {Bytes({0xF0, 1, 2, 0xF7})}, {Bytes({0xF0, 1, 2, 0xF7})}},
        {"whole message carrying status bytes inside", {Bytes({0xF0, 0xFF, 0x90, 0xF7})},
         {Bytes({0xF0, 0xFF, 0x90, 0xF7})}},
        {"short message", {Bytes({0x90, 0x40, 0x7F})}, {Bytes({0x90, 0x40, 0x7F})}},
        {"split in three", {Bytes({0xF0, 1}), Bytes({2, 3}), Bytes({4, 0xF7})}, {Bytes({0xF0, 1, 2, 3, 4, 0xF7})}},
        {"real time between parts", {Bytes({0xF0, 1}), Bytes({0xF8}), Bytes({2, 0xF7})},
         {Bytes({0xF8}), Bytes({0xF0, 1, 2, 0xF7})}},
        {"real time inside a part", {Bytes({0xF0, 1}), Bytes({2, 0xFE, 3, 0xF7})},
         {Bytes({0xFE}), Bytes({0xF0, 1, 2, 3, 0xF7})}},
        {"cut off by a note", {Bytes({0xF0, 1}), Bytes({0x90, 0x40, 0x7F})},
         {Bytes({0xF0, 1}), Bytes({0x90, 0x40, 0x7F})}},
        {"cut off by a new message", {Bytes({0xF0, 1}), Bytes({0xF0, 2, 0xF7})}, {Bytes({0xF0, 1}), Bytes({0xF0, 2, 0xF7})}},
        {"next message after the end in the same event", {Bytes({0xF0, 1}), Bytes({2, 0xF7, 0x90, 1, 2})},
         {Bytes({0xF0, 1, 2, 0xF7}), Bytes({0x90, 1, 2})}},
        {"stray data bytes", {Bytes({1, 2, 3})}, {Bytes({1, 2, 3})}},
        {"stray end of exclusive", {Bytes({0xF7})}, {Bytes({0xF7})}},
    };
    for (const Row& row : rows) EXPECT_EQ(Assemble(row.in), row.out) << row.what;
}

TEST(SysexAssembler, BoundsAnOverlongMessageAndSkipsItsRest) {
    std::vector<uint8_t> head(midi::SysexAssembler::MaxMessage - 1, 0x10);
    head[0] = 0xF0;
    std::vector<uint8_t> tail(100, 0x20);
    tail.push_back(0xF7);
    Events out = Assemble({head, Bytes({0x11, 0x12}), tail, Bytes({0xF0, 5, 0xF7})});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].size(), midi::SysexAssembler::MaxMessage);
    EXPECT_NE(out[0].back(), 0xF7);  // reported as incomplete
    EXPECT_EQ(out[1], Bytes({0xF0, 5, 0xF7}));
}

}  // namespace
