// The unit protocol as the simulated units speak it.
#include "UnitSimulator.h"

#include <gtest/gtest.h>

#include "MidiTestSupport.h"

using midi::UnitSimulator;
using miditest::Bytes;

namespace {

std::vector<uint8_t> Table(const UnitSimulator& unit) {
    std::vector<uint8_t> t;
    for (size_t i = 0; i < UnitSimulator::ParameterCount; ++i) t.push_back(unit.Parameter(i));
    return t;
}

TEST(UnitSimulator, MessageLayoutPutsTheIdInSevenBitGroupsLowFirst) {
    EXPECT_EQ(UnitSimulator::Message(0x11, 1234567, 0x10, 0x01),
              Bytes({0xF0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x10, 0x01, 0xF7}));
    EXPECT_EQ(UnitSimulator::Message(0x0A, 268435455, 0x37, 0x05, {0x01, 0x02}),
              Bytes({0xF0, 0x00, 0x11, 0x22, 0x0A, 0x7F, 0x7F, 0x7F, 0x7F, 0x37, 0x05, 0x01, 0x02, 0xF7}));
}

TEST(UnitSimulator, AnswersByTable) {
    const std::vector<uint8_t> probe = Bytes({0xF0, 0x00, 0x11, 0x22, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0xF7});
    UnitSimulator reference11(0x11, 1234567), reference0a(0x0A, 42);
    struct Row {
        const char* what;
        uint8_t type;
        int32_t id;
        std::vector<uint8_t> request;
        std::vector<std::vector<uint8_t>> answers;
    } rows[] = {
        {"probe, type 0x11", 0x11, 1234567, probe, {UnitSimulator::Message(0x11, 1234567, 0x03, 0x00)}},
        {"probe, type 0x0a", 0x0A, 42, probe, {UnitSimulator::Message(0x0A, 42, 0x03, 0x00)}},
        {"probe with another command", 0x11, 1234567,
         Bytes({0xF0, 0x00, 0x11, 0x22, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x01, 0xF7}), {}},
        {"poll 0x11", 0x11, 1234567, UnitSimulator::Message(0x11, 1234567, 0x10, 0x01),
         {UnitSimulator::Message(0x11, 1234567, 0x37, 16, Table(reference11))}},
        {"poll 0x12", 0x12, 9, UnitSimulator::Message(0x12, 9, 0x10, 0x01),
         {UnitSimulator::Message(0x12, 9, 0x37, 16, Table(reference11))}},
        {"poll 0x0a", 0x0A, 42, UnitSimulator::Message(0x0A, 42, 0x02, 0x04),
         {UnitSimulator::Message(0x0A, 42, 0x04, 16, Table(reference0a))}},
        {"poll 0x0b", 0x0B, 43, UnitSimulator::Message(0x0B, 43, 0x02, 0x04),
         {UnitSimulator::Message(0x0B, 43, 0x04, 16, Table(reference0a))}},
        {"poll of the other family", 0x0A, 42, UnitSimulator::Message(0x0A, 42, 0x10, 0x01), {}},
        {"poll for another id", 0x11, 1234567, UnitSimulator::Message(0x11, 1234568, 0x10, 0x01), {}},
        {"poll for another type", 0x11, 1234567, UnitSimulator::Message(0x12, 1234567, 0x10, 0x01), {}},
        {"read parameter 3", 0x11, 1234567, UnitSimulator::Message(0x11, 1234567, 0x20, 3),
         {UnitSimulator::Message(0x11, 1234567, 0x21, 3, {reference11.Parameter(3)})}},
        {"read beyond the table", 0x11, 1234567, UnitSimulator::Message(0x11, 1234567, 0x20, 16), {}},
        {"write parameter 2", 0x11, 1234567, UnitSimulator::Message(0x11, 1234567, 0x30, 2, {0x55}),
         {UnitSimulator::Message(0x11, 1234567, 0x31, 2, {0x55})}},
        {"write keeps 7 bits", 0x11, 1234567, UnitSimulator::Message(0x11, 1234567, 0x30, 2, {0xD5}),
         {UnitSimulator::Message(0x11, 1234567, 0x31, 2, {0x55})}},
        {"write without a value", 0x11, 1234567, UnitSimulator::Message(0x11, 1234567, 0x30, 2), {}},
        {"unknown command", 0x11, 1234567, UnitSimulator::Message(0x11, 1234567, 0x44, 0), {}},
        {"another maker", 0x11, 1234567, Bytes({0xF0, 0x00, 0x11, 0x23, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0xF7}), {}},
        {"11 bytes", 0x11, 1234567, Bytes({0xF0, 0x00, 0x11, 0x22, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0xF7}), {}},
        {"no end of exclusive", 0x11, 1234567, Bytes({0xF0, 0x00, 0x11, 0x22, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00}), {}},
        {"short message", 0x11, 1234567, Bytes({0x90, 0x40, 0x7F}), {}},
    };
    for (const Row& row : rows) {
        UnitSimulator unit(row.type, row.id);
        std::vector<std::vector<uint8_t>> answers;
        unit.Handle(row.request.data(), row.request.size(), answers);
        EXPECT_EQ(answers, row.answers) << row.what;
    }
}

TEST(UnitSimulator, AnswersDumpRequestsWithTheLengthAsked) {
    // The example of the header: "Send" 0012d687400000 7d00 asks for 16000 bytes.
    EXPECT_EQ(UnitSimulator::DumpRequestPayload(16000), Bytes({0x00, 0x7D, 0x00}));
    struct Row {
        const char* what;
        uint8_t command;
        uint8_t value;
        std::vector<uint8_t> payload;
        long length;  // of the answer on the wire; -1: no answer
        bool cut;
    } rows[] = {
        {"the shortest", 0x40, 0, {12, 0, 0}, 12, false},
        {"11 bytes: too short", 0x40, 0, {11, 0, 0}, -1, false},
        {"16000 bytes", 0x40, 0, {0x00, 0x7D, 0x00}, 16000, false},
        {"one over the program's bound", 0x40, 0, {0x01, 0x00, 0x04}, 65537, false},
        {"the simulator's limit",
         0x40,
         0,
         {0x00, 0x00, 0x10},
         long(UnitSimulator::MaxDumpLength),
         false},
        {"beyond the simulator's limit", 0x40, 0, {0x01, 0x00, 0x10}, -1, false},
        {"value not 0", 0x40, 1, {12, 0, 0}, -1, false},
        {"two length bytes", 0x40, 0, {12, 0}, -1, false},
        {"a length byte above 7F", 0x40, 0, {0x8C, 0, 0}, -1, false},
        {"cut short", 0x42, 0, {0x00, 0x20, 0x00}, 4096, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        UnitSimulator unit(0x12, 77);
        std::vector<std::vector<uint8_t>> answers;
        auto request = UnitSimulator::Message(0x12, 77, row.command, row.value, row.payload);
        unit.Handle(request.data(), request.size(), answers);
        if (row.length < 0) {
            EXPECT_TRUE(answers.empty());
            continue;
        }
        ASSERT_EQ(answers.size(), 1u);
        std::vector<uint8_t> expected = UnitSimulator::Message(0x12, 77, 0x41, 0x00);
        expected.pop_back();
        for (long i = 0; i < row.length - 12; ++i) expected.push_back(uint8_t(i % 128));
        if (row.cut) {
            expected.insert(expected.end(), {0x80, 0x00, 0x00});
        } else {
            expected.push_back(0xF7);
            EXPECT_EQ(long(answers[0].size()), row.length);
        }
        EXPECT_EQ(answers[0], expected);
    }
}

TEST(UnitSimulator, WrittenParametersShowInReadsAndReports) {
    UnitSimulator unit(0x0B, 7);
    std::vector<std::vector<uint8_t>> answers;
    auto send = [&](uint8_t command, uint8_t value, std::vector<uint8_t> payload = {}) {
        answers.clear();
        auto m = UnitSimulator::Message(0x0B, 7, command, value, payload);
        unit.Handle(m.data(), m.size(), answers);
        return answers.size() == 1 ? answers[0] : std::vector<uint8_t>{};
    };
    send(0x30, 5, {0x11});
    EXPECT_EQ(unit.Parameter(5), 0x11);
    EXPECT_EQ(send(0x20, 5), UnitSimulator::Message(0x0B, 7, 0x21, 5, {0x11}));
    // The first report after a change says so (0x05), the next one does not (0x04).
    auto first = send(0x02, 0x04);
    auto second = send(0x02, 0x04);
    ASSERT_GT(first.size(), 11u);
    EXPECT_EQ(first[9], 0x05);
    EXPECT_EQ(first[11 + 5], 0x11);
    EXPECT_EQ(second[9], 0x04);
}

TEST(UnitSimulator, ParsesUnitListsByTable) {
    struct Row {
        const char* text;
        std::vector<std::pair<int, int>> units;
    } rows[] = {
        {"11:1234567,0a:42", {{0x11, 1234567}, {0x0A, 42}}},
        {" 12:5 , 0B:7 ", {{0x12, 5}, {0x0B, 7}}},
        {"11:268435455", {{0x11, 268435455}}},
        {"11:268435456", {}},
        {"11:0", {}},
        {"13:5,11:1", {{0x11, 1}}},
        {"11:-5", {}},
        {"11:+5", {}},
        {"zz:1", {}},
        {"11:12x", {}},
        {"11", {}},
        {":5", {}},
        {"", {}},
        {",,", {}},
        {"111:5", {}},
    };
    for (const Row& row : rows) {
        std::vector<std::pair<int, int>> got;
        for (auto& u : midi::ParseUnitList(row.text)) got.emplace_back(u.type, u.id);
        EXPECT_EQ(got, row.units) << '"' << row.text << '"';
    }
    EXPECT_EQ(midi::DefaultUnits().size(), 4u);
}

}  // namespace
