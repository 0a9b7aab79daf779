// Whole messages from split input events; what cannot be passed on whole is
// dropped with its length and reason.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "MidiTestSupport.h"
#include "SysexAssembler.h"

using miditest::Bytes;

namespace {

using Events = std::vector<std::vector<uint8_t>>;
using Trace = std::vector<std::string>;

std::string Hex(const uint8_t* bytes, size_t length) {
    std::string text;
    char part[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(part, sizeof part, i ? " %02X" : "%02X", unsigned(bytes[i]));
        text += part;
    }
    return text;
}

// What comes out: the bytes of each message passed on, "drop N: reason" for each drop.
Trace Assemble(midi::SysexAssembler& assembler, const Events& in) {
    Trace out;
    for (const auto& e : in)
        assembler.Feed(
            e.data(), e.size(), [&](const uint8_t* b, size_t n) { out.push_back(Hex(b, n)); },
            [&](const midi::SysexAssembler::Dropped& d) {
                out.push_back("drop " + std::to_string(d.length) + ": " + assembler.Describe(d));
            });
    return out;
}

TEST(SysexAssembler, ReassemblesByTable) {
    struct Row {
        const char* what;
        Events in;
        Trace out;
    } rows[] = {
        {"whole message", {Bytes({0xF0, 1, 2, 0xF7})}, {"F0 01 02 F7"}},
        {"whole message carrying real-time bytes inside",
         {Bytes({0xF0, 0xFF, 1, 0xF7})},
         {"F0 FF 01 F7"}},
        {"two whole messages in one event",
         {Bytes({0xF0, 1, 0xF7, 0xF0, 2, 0xF7})},
         {"F0 01 F7", "F0 02 F7"}},
        {"short message", {Bytes({0x90, 0x40, 0x7F})}, {"90 40 7F"}},
        {"split in three",
         {Bytes({0xF0, 1}), Bytes({2, 3}), Bytes({4, 0xF7})},
         {"F0 01 02 03 04 F7"}},
        {"real time between parts",
         {Bytes({0xF0, 1}), Bytes({0xF8}), Bytes({2, 0xF7})},
         {"F8", "F0 01 02 F7"}},
        {"real time inside a part",
         {Bytes({0xF0, 1}), Bytes({2, 0xFE, 3, 0xF7})},
         {"FE", "F0 01 02 03 F7"}},
        {"cut off by a note",
         {Bytes({0xF0, 1}), Bytes({0x90, 0x40, 0x7F})},
         {"drop 2: cut short by status byte 0x90 before its F7", "90 40 7F"}},
        {"cut off by a note inside one event",
         {Bytes({0xF0, 1, 2, 0x80, 0, 0})},
         {"drop 3: cut short by status byte 0x80 before its F7", "80 00 00"}},
        {"a status byte inside an event that ends with F7",
         {Bytes({0xF0, 1, 0x90, 0x40, 0xF7})},
         {"drop 2: cut short by status byte 0x90 before its F7", "90 40 F7"}},
        {"cut off by a new message",
         {Bytes({0xF0, 1}), Bytes({0xF0, 2, 0xF7})},
         {"drop 2: cut short by the start of another message before its F7", "F0 02 F7"}},
        {"next message after the end in the same event",
         {Bytes({0xF0, 1}), Bytes({2, 0xF7, 0x90, 1, 2})},
         {"F0 01 02 F7", "90 01 02"}},
        {"stray data bytes", {Bytes({1, 2, 3})}, {"01 02 03"}},
        {"stray end of exclusive", {Bytes({0xF7})}, {"F7"}},
    };
    for (const Row& row : rows) {
        midi::SysexAssembler assembler;
        EXPECT_EQ(Assemble(assembler, row.in), row.out) << row.what;
    }
}

TEST(SysexAssembler, DropsWhatIsLongerThanTheBound) {
    // A bound of 8 bytes keeps the rows short; the real bound follows.
    struct Row {
        const char* what;
        Events in;
        Trace out;
    } rows[] = {
        {"the bound, whole", {Bytes({0xF0, 1, 2, 3, 4, 5, 6, 0xF7})}, {"F0 01 02 03 04 05 06 F7"}},
        {"one over, whole",
         {Bytes({0xF0, 1, 2, 3, 4, 5, 6, 7, 0xF7})},
         {"drop 9: longer than the bound of 8 bytes"}},
        {"the bound, split",
         {Bytes({0xF0, 1, 2, 3}), Bytes({4, 5, 6, 0xF7})},
         {"F0 01 02 03 04 05 06 F7"}},
        {"one over, split, then the next message",
         {Bytes({0xF0, 1, 2, 3, 4}), Bytes({5, 6, 7, 0xF7}), Bytes({0xF0, 9, 0xF7})},
         {"drop 9: longer than the bound of 8 bytes", "F0 09 F7"}},
        {"far over, in many parts",
         {Bytes({0xF0, 1, 2, 3, 4, 5, 6, 7}), Bytes({8, 9, 10}), Bytes({0xF8, 11, 0xF7})},
         {"F8", "drop 13: longer than the bound of 8 bytes"}},
        {"over and cut short",
         {Bytes({0xF0, 1, 2, 3, 4, 5, 6, 7, 8}), Bytes({0x90, 0x40, 0x7F})},
         {"drop 9: longer than the bound of 8 bytes", "90 40 7F"}},
    };
    for (const Row& row : rows) {
        midi::SysexAssembler assembler(8);
        EXPECT_EQ(Assemble(assembler, row.in), row.out) << row.what;
    }

    auto sysex = [](size_t length) {
        std::vector<uint8_t> m(length, 0x10);
        m.front() = 0xF0;
        m.back() = 0xF7;
        return m;
    };
    midi::SysexAssembler assembler;
    std::vector<uint8_t> whole = sysex(midi::MaxLongMessage),
                         over = sysex(midi::MaxLongMessage + 1);
    // Each in two parts: the first ends before the F7.
    Events in = {{whole.begin(), whole.begin() + 40000},
                 {whole.begin() + 40000, whole.end()},
                 {over.begin(), over.begin() + 40000},
                 {over.begin() + 40000, over.end()},
                 over};
    size_t sizes[3] = {0, 0, 0};
    int messages = 0, drops = 0;
    for (const auto& e : in)
        assembler.Feed(
            e.data(), e.size(), [&](const uint8_t*, size_t n) { sizes[messages++] = n; },
            [&](const midi::SysexAssembler::Dropped& d) {
                EXPECT_EQ(d.length, midi::MaxLongMessage + 1);
                ++drops;
            });
    EXPECT_EQ(messages, 1);
    EXPECT_EQ(sizes[0], midi::MaxLongMessage);
    EXPECT_EQ(drops, 2);
}

TEST(SysexAssembler, AbandonGivesUpTheOpenMessage) {
    midi::SysexAssembler assembler;
    EXPECT_EQ(assembler.Abandon(), 0u);
    EXPECT_EQ(Assemble(assembler, {Bytes({0xF0, 1, 2})}), Trace{});
    EXPECT_EQ(assembler.Abandon(), 3u);
    // Its rest is no longer joined to it.
    EXPECT_EQ(Assemble(assembler, {Bytes({3, 0xF7}), Bytes({0xF0, 4, 0xF7})}),
              (Trace{"03 F7", "F0 04 F7"}));
}

}  // namespace
