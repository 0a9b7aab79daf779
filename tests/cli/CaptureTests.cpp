// Captures: a .syx split into unit messages (and everything else refused with
// its place), the text log paired with it, and a ReplayUnit answering the
// requests of a capture as the unit did.

#include <gtest/gtest.h>

#include "Capture.h"
#include "CaptureReplay.h"
#include "support/TemporaryFolder.h"

namespace {

using capture::CapturedMessage;
using capture::Direction;
using Bytes = std::vector<uint8_t>;

Bytes Message(uint8_t type, int32_t id, uint8_t command, uint8_t value, Bytes payload = {}) {
    return midi::UnitSimulator::Message(type, id, command, value, payload);
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(Capture, ASyxIsSplitIntoUnitMessagesOrRefusedWithThePlace) {
    const Bytes read = Message(0x11, 1234567, 0x20, 0x05);
    const Bytes reply = Message(0x11, 1234567, 0x21, 0x05, {0x28});
    struct Case {
        const char* name;
        Bytes bytes;
        std::size_t messages;  // when it parses
        const char* error;     // part of the reason otherwise
    };
    Bytes noEnd = read;
    noEnd.pop_back();
    Bytes statusInside = read;
    statusInside[10] = 0x90;
    const Case cases[] = {
        {"two messages", Join({read, reply}), 2, nullptr},
        {"empty file", {}, 0, nullptr},
        {"a byte before the first", Join({{0x00}, read}), 0, "byte 0 (00) lies outside"},
        {"a byte between two", Join({read, {0x7F}, reply}), 0, "byte 12 (7F) lies outside"},
        {"no end", Join({read, noEnd}), 0, "message 2 at byte 12 has no end"},
        {"status byte inside", statusInside, 0, "cut short by the status byte 90 at byte 10"},
        {"another maker", {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7}, 0, "too short"},
        {"another maker, long",
         {0xF0, 0x00, 0x20, 0x33, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x20, 0x05, 0xF7},
         0,
         "not a unit message"},
        {"no command and value",
         {0xF0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x20, 0xF7},
         0,
         "too short"},
        {"type of no unit", Message(0x10, 1234567, 0x20, 0x05), 0, "names no unit (type 10"},
        {"id 0", Message(0x11, 0, 0x20, 0x05), 0, "names no unit"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<CapturedMessage> messages;
        std::string error;
        const bool parsed = capture::ParseSyx(c.bytes, messages, error);
        EXPECT_EQ(parsed, c.error == nullptr) << error;
        if (c.error) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            continue;
        }
        ASSERT_EQ(messages.size(), c.messages);
    }

    std::vector<CapturedMessage> messages;
    std::string error;
    ASSERT_TRUE(capture::ParseSyx(Join({read, reply}), messages, error));
    EXPECT_EQ(messages[1].bytes, reply);
    EXPECT_EQ(messages[1].offset, 12u);
    EXPECT_EQ(messages[1].type, 0x11);
    EXPECT_EQ(messages[1].id, 1234567);
    EXPECT_EQ(messages[1].command, 0x21);
    EXPECT_EQ(messages[1].value, 0x05);
    EXPECT_EQ(messages[1].payload, Bytes{0x28});
}

// A text log as the page saves it with a .syx of the same entries: a sent
// command whose unit type the page did not know has no bytes in the .syx.
const char* const PageLog =
    "# time\tdirection\tunit\tcommand\tvalue\tpayload\ttext\n"
    "10:00:00.000\treceived\t-\tlist\t\t\t00000000000001\n"
    "10:00:00.000\treceived\t1234567\tannounced "
    "363-414-522\t\t\t110012d68700013336332d3431342d3532320011\n"
    "10:00:00.100\tsent\t1234567\t20\t05\t\t0012d6872005\n"
    "10:00:00.110\treceived\t1234567\t21\t05\t28\t110012d687210528\n"
    "10:00:00.200\tsent\t99\t20\t01\t\t000000632001\n"
    "10:00:00.300\treceived\t1234567\t37\t02\t01 02\t110012d68737020102\n";

TEST(Capture, TheTextLogGivesEachMessageItsDirection) {
    const Bytes syx =
        Join({Message(0x11, 1234567, 0x20, 0x05), Message(0x11, 1234567, 0x21, 0x05, {0x28}),
              Message(0x11, 1234567, 0x37, 0x02, {0x01, 0x02})});
    struct Case {
        const char* name;
        std::string log;
        const char* error;
    };
    const std::string page = PageLog;
    const Case cases[] = {
        {"as the page saves them", page, nullptr},
        {"windows line ends",
         [&] {
             std::string crlf;
             for (char c : page) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
             return crlf;
         }(),
         nullptr},
        {"a received line the .syx lacks",
         page + "10:00:01.000\treceived\t1234567\t21\t06\t00\tx\n", "has no message left"},
        {"a message the log lacks", page.substr(0, page.rfind("10:00:00.300")),
         "of which the text log lists 2"},
        {"another value",
         [&] {
             std::string other = page;
             other.replace(other.find("\t21\t05\t28"), 9, "\t21\t05\t29");
             return other;
         }(),
         "line 5 of the text log does not match message 2"},
        {"not a traffic log", "hello\n", "line 1 of the text log is not a line"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<CapturedMessage> messages;
        std::string error;
        ASSERT_TRUE(capture::ParseSyx(syx, messages, error));
        const bool paired = capture::ApplyTextLog(c.log, messages, error);
        EXPECT_EQ(paired, c.error == nullptr) << error;
        if (c.error) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(messages[0].direction, Direction::ToUnit);
        EXPECT_EQ(messages[1].direction, Direction::FromUnit);
        EXPECT_EQ(messages[2].direction, Direction::FromUnit);
    }
}

TEST(Capture, WithoutALogTheProtocolsRequestsCountAsSentToTheUnit) {
    const struct {
        Bytes message;
        Direction direction;
    } cases[] = {
        {Message(0x11, 5, 0x10, 0x01), Direction::ToUnit},  // poll of 11/12
        {Message(0x0A, 5, 0x02, 0x04), Direction::ToUnit},  // poll of 0A/0B
        {Message(0x11, 5, 0x02, 0x04), Direction::FromUnit},
        {Message(0x11, 5, 0x20, 0x03), Direction::ToUnit},
        {Message(0x0B, 5, 0x30, 0x03, {0x11}), Direction::ToUnit},
        {Message(0x11, 5, 0x21, 0x03, {0x11}), Direction::FromUnit},
        {Message(0x11, 5, 0x37, 0x00), Direction::FromUnit},
    };
    for (const auto& c : cases) {
        std::vector<CapturedMessage> messages;
        std::string error;
        ASSERT_TRUE(capture::ParseSyx(c.message, messages, error));
        capture::GuessDirections(messages);
        EXPECT_EQ(messages[0].direction, c.direction) << int(messages[0].command);
    }
}

TEST(Capture, WhatTheWriterWritesReadsBackAsAPairedCapture) {
    korvotest::TemporaryFolder folder("korvo-capture");
    const std::string syx = (folder.path / "traffic.SYX").string();
    EXPECT_EQ(capture::TextLogBeside(syx), (folder.path / "traffic.txt").string());
    EXPECT_EQ(capture::TextLogBeside("dump.bin"), "dump.bin.txt");
    {
        capture::CaptureWriter writer;
        std::string error;
        ASSERT_TRUE(writer.Open(syx, capture::TextLogBeside(syx), error)) << error;
        capture::TextLogEntry entry{"10:00:00.000", false, "-", "list", "", "", "00000000000001"};
        ASSERT_TRUE(writer.AppendLine(entry));
        entry = {"10:00:00.100", false, "1234567", "21", "05", "28", "110012d687210528"};
        ASSERT_TRUE(writer.AppendLine(entry));
        ASSERT_TRUE(writer.AppendMessage(Message(0x11, 1234567, 0x21, 0x05, {0x28})));
        // A tab inside a field would shift every field after it.
        entry = {"10:00:00.200", true, "1234567", "20", "05", "", "a\ttext"};
        ASSERT_TRUE(writer.AppendLine(entry));
        ASSERT_TRUE(writer.AppendMessage(Message(0x11, 1234567, 0x20, 0x05)));
    }
    EXPECT_EQ(folder.Read("traffic.txt"),
              "# time\tdirection\tunit\tcommand\tvalue\tpayload\ttext\n"
              "10:00:00.000\treceived\t-\tlist\t\t\t00000000000001\n"
              "10:00:00.100\treceived\t1234567\t21\t05\t28\t110012d687210528\n"
              "10:00:00.200\tsent\t1234567\t20\t05\t\ta text\n");
    std::vector<CapturedMessage> messages;
    std::string error;
    ASSERT_TRUE(capture::LoadCapture(syx, messages, error)) << error;
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0].direction, Direction::FromUnit);
    EXPECT_EQ(messages[1].direction, Direction::ToUnit);

    capture::CaptureWriter writer;
    EXPECT_FALSE(writer.Open((folder.path / "missing" / "a.syx").string(), "", error));
    EXPECT_NE(error.find("missing/a.syx"), std::string::npos) << error;
}

// A capture of unit 11:1234567 as the page saves one: a write answer whose
// request the capture lacks (it came before the recording began), two reads
// of parameter 5 with different answers, state reports among them, and a
// read left unanswered; and a report of unit 0A:42.
std::vector<CapturedMessage> PageCapture() {
    const Bytes report1 = Message(0x11, 1234567, 0x37, 0x02, {0x01, 0x02});
    const Bytes report2 = Message(0x11, 1234567, 0x37, 0x02, {0x03, 0x04});
    std::vector<std::pair<Bytes, Direction>> traffic = {
        {Message(0x11, 1234567, 0x31, 0x03, {0x55}), Direction::FromUnit},
        {Message(0x11, 1234567, 0x20, 0x05), Direction::ToUnit},
        {report1, Direction::FromUnit},
        {Message(0x11, 1234567, 0x21, 0x05, {0x28}), Direction::FromUnit},
        {Message(0x11, 1234567, 0x20, 0x05), Direction::ToUnit},
        {Message(0x11, 1234567, 0x21, 0x05, {0x29}), Direction::FromUnit},
        {report2, Direction::FromUnit},
        {Message(0x11, 1234567, 0x20, 0x07), Direction::ToUnit},
        {Message(0x0A, 42, 0x04, 0x01, {0x00}), Direction::FromUnit},
    };
    std::vector<CapturedMessage> capture;
    for (auto& [bytes, direction] : traffic) {
        std::vector<CapturedMessage> one;
        std::string error;
        EXPECT_TRUE(capture::ParseSyx(bytes, one, error));
        one[0].direction = direction;
        capture.push_back(one[0]);
    }
    return capture;
}

TEST(CaptureReplay, RequestsAreAnsweredAsTheCaptureShows) {
    const std::vector<CapturedMessage> capture = PageCapture();
    const std::vector<midi::UnitConfig> units = tools::UnitsOf(capture);
    ASSERT_EQ(units.size(), 2u);
    EXPECT_EQ(units[0].type, 0x11);
    EXPECT_EQ(units[0].id, 1234567);
    EXPECT_EQ(units[1].type, 0x0A);
    EXPECT_EQ(units[1].id, 42);

    tools::ReplayUnit unit(0x11, 1234567, capture);
    struct Step {
        const char* name;
        Bytes request;
        std::vector<Bytes> answers;
    };
    const Step steps[] = {
        {"probe: identity made from type and id",
         Message(0, 0, 0x02, 0x00),
         {Message(0x11, 1234567, 0x03, 0x00)}},
        {"first poll: first report",
         Message(0x11, 1234567, 0x10, 0x01),
         {Message(0x11, 1234567, 0x37, 0x02, {0x01, 0x02})}},
        {"second poll: second report",
         Message(0x11, 1234567, 0x10, 0x01),
         {Message(0x11, 1234567, 0x37, 0x02, {0x03, 0x04})}},
        {"third poll: the last report again",
         Message(0x11, 1234567, 0x10, 0x01),
         {Message(0x11, 1234567, 0x37, 0x02, {0x03, 0x04})}},
        {"first read of 5: its first recording",
         Message(0x11, 1234567, 0x20, 0x05),
         {Message(0x11, 1234567, 0x21, 0x05, {0x28})}},
        {"second read of 5: its second recording",
         Message(0x11, 1234567, 0x20, 0x05),
         {Message(0x11, 1234567, 0x21, 0x05, {0x29})}},
        {"third read of 5: the last recording again",
         Message(0x11, 1234567, 0x20, 0x05),
         {Message(0x11, 1234567, 0x21, 0x05, {0x29})}},
        {"read of 7: recorded without answer", Message(0x11, 1234567, 0x20, 0x07), {}},
        {"write of 3: the recorded 31 of value 3",
         Message(0x11, 1234567, 0x30, 0x03, {0x01}),
         {Message(0x11, 1234567, 0x31, 0x03, {0x55})}},
        {"write of 4: nothing recorded", Message(0x11, 1234567, 0x30, 0x04, {0x01}), {}},
        {"another unit's poll", Message(0x0A, 42, 0x02, 0x04), {}},
        {"another type, same id", Message(0x12, 1234567, 0x10, 0x01), {}},
        {"without F7",
         [] {
             Bytes m = Message(0x11, 1234567, 0x10, 0x01);
             m.pop_back();
             return m;
         }(),
         {}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        std::vector<Bytes> answers;
        unit.Handle(step.request.data(), step.request.size(), answers);
        EXPECT_EQ(answers, step.answers);
    }

    // The unit of type 0A: its report answers its poll.
    tools::ReplayUnit other(0x0A, 42, capture);
    std::vector<Bytes> answers;
    const Bytes poll = Message(0x0A, 42, 0x02, 0x04);
    other.Handle(poll.data(), poll.size(), answers);
    EXPECT_EQ(answers, std::vector<Bytes>{Message(0x0A, 42, 0x04, 0x01, {0x00})});
}

}  // namespace
