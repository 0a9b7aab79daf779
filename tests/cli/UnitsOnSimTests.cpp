// yonderpad-units from the installed tree on simulated units (the device
// module's in-process simulator), with no display: every command's output
// and exit code, bad input included. The rows of a table run at once, each
// program with its own simulated units.

#include <gtest/gtest.h>
#include <json-glib/json-glib.h>
#include <signal.h>

#include <functional>
#include <memory>

#include "Capture.h"
#include "ProgramRun.h"
#include "support/MainLoopWait.h"
#include "support/TemporaryFolder.h"

#ifndef KORVO_UNITS_PROGRAM
#error KORVO_UNITS_PROGRAM must name yonderpad-units
#endif

namespace {

using clitest::ProgramResult;
using clitest::ProgramRun;
using Bytes = std::vector<uint8_t>;

// What a row expects; check may look closer at the result.
struct Row {
    const char* name;
    std::vector<std::string> arguments;
    const char* units;  // KORVO_SIM_UNITS
    int exit;
    const char* out;  // a part of standard output, or null
    const char* err;  // a part of standard error, or null
    std::function<void(const ProgramResult&)> check = nullptr;
    // Set: the program gets SIGINT once its output holds this text, or once
    // interruptWhen holds.
    const char* interruptAfter = nullptr;
    std::function<bool()> interruptWhen = nullptr;
};

void RunRows(const std::vector<Row>& rows) {
    std::vector<std::unique_ptr<ProgramRun>> runs;
    for (const Row& row : rows) {
        std::vector<std::string> arguments = {"--backend", "sim"};
        arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
        runs.push_back(std::make_unique<ProgramRun>(
            KORVO_UNITS_PROGRAM, arguments,
            std::map<std::string, std::string>{{"KORVO_SIM_UNITS", row.units}}));
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        bool interrupt = true;
        if (rows[i].interruptAfter)
            interrupt = runs[i]->WaitFor(rows[i].interruptAfter);
        else if (rows[i].interruptWhen)
            interrupt = korvotest::PumpUntil(rows[i].interruptWhen);
        else
            continue;
        EXPECT_TRUE(interrupt && runs[i]->SignalWhen(SIGINT, ""))
            << rows[i].name << ": " << runs[i]->Output();
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(row.name);
        const ProgramResult result = runs[i]->Finish();
        EXPECT_EQ(result.exit, row.exit) << "out: " << result.out << "\nerr: " << result.err;
        if (row.out) {
            EXPECT_NE(result.out.find(row.out), std::string::npos) << result.out;
        }
        if (row.err) {
            EXPECT_NE(result.err.find(row.err), std::string::npos) << result.err;
        }
        if (row.check) row.check(result);
    }
}

// The JSON that a program printed; fails the test when it is none.
struct Json {
    explicit Json(const std::string& text) : parser(json_parser_new()) {
        GError* error = nullptr;
        parsed = json_parser_load_from_data(parser, text.c_str(), -1, &error);
        EXPECT_TRUE(parsed) << (error ? error->message : "") << ": " << text;
        g_clear_error(&error);
    }
    ~Json() { g_object_unref(parser); }
    JsonNode* Root() const { return parsed ? json_parser_get_root(parser) : nullptr; }
    JsonParser* parser;
    bool parsed = false;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::string Member(JsonNode* node, const char* name) {
    JsonObject* object = json_node_get_object(node);
    return json_object_has_member(object, name) ? json_object_get_string_member(object, name) : "";
}

// The messages of a .syx, or none with a failure.
std::vector<capture::CapturedMessage> LoadSyx(const std::string& path) {
    std::vector<capture::CapturedMessage> messages;
    std::string error;
    EXPECT_TRUE(capture::LoadCapture(path, messages, error)) << error;
    return messages;
}

Bytes Message(uint8_t type, int32_t id, uint8_t command, uint8_t value, Bytes payload = {}) {
    Bytes m = {0xF0, 0x00, 0x11, 0x22, type};
    for (int shift = 0; shift < 28; shift += 7) m.push_back(uint8_t((id >> shift) & 0x7F));
    m.push_back(command);
    m.push_back(value);
    m.insert(m.end(), payload.begin(), payload.end());
    m.push_back(0xF7);
    return m;
}

void WriteBytes(const korvotest::TemporaryFolder& folder, const std::string& name,
                std::initializer_list<Bytes> parts) {
    std::string bytes;
    for (const Bytes& part : parts) bytes.append(part.begin(), part.end());
    folder.Write(name, bytes);
}

const char* const FourUnits = "0a:10,0b:11,11:1234567,12:18";
const char* const TwoUnits = "11:1234567,0a:42";

TEST(UnitsOnSim, ListAndSend) {
    const std::vector<Row> rows = {
        {"list: every unit with its ports",
         {"list"},
         FourUnits,
         0,
         "Sim 11:1234567",
         nullptr,
         [](const ProgramResult& r) {
             const std::vector<std::string> lines = Lines(r.out);
             ASSERT_EQ(lines.size(), 5u) << r.out;
             EXPECT_EQ(lines[0].rfind("TYPE  ID       SERIAL       STATE      INPUT PORT", 0), 0u)
                 << lines[0];
             EXPECT_EQ(lines[3],
                       "11    1234567  363-414-522  announced  Sim 11:1234567  Sim 11:1234567");
         }},
        {"list --json --wait: the states of the reports",
         {"list", "--json", "--wait", "600"},
         TwoUnits,
         0,
         nullptr,
         nullptr,
         [](const ProgramResult& r) {
             Json json(r.out);
             ASSERT_TRUE(json.Root() && JSON_NODE_HOLDS_ARRAY(json.Root()));
             JsonArray* units = json_node_get_array(json.Root());
             ASSERT_EQ(json_array_get_length(units), 2u);
             JsonNode* first = json_array_get_element(units, 0);
             EXPECT_EQ(Member(first, "type"), "11");
             EXPECT_EQ(json_object_get_int_member(json_node_get_object(first), "id"), 1234567);
             EXPECT_EQ(Member(first, "serial"), "363-414-522");
             EXPECT_EQ(Member(first, "state"), "reporting");
             EXPECT_EQ(Member(first, "inputPort"), "Sim 11:1234567");
             EXPECT_EQ(Member(first, "outputPort"), "Sim 11:1234567");
             EXPECT_EQ(Member(json_array_get_element(units, 1), "state"), "steady");
         }},
        {"list: no unit",
         {"list"},
         "none",
         1,
         nullptr,
         "no unit was found (\"No device available\")",
         [](const ProgramResult& r) { EXPECT_EQ(r.out, ""); }},
        {"list --json: no unit",
         {"list", "--json"},
         "none",
         1,
         nullptr,
         nullptr,
         [](const ProgramResult& r) {
             Json json(r.out);
             ASSERT_TRUE(json.Root() && JSON_NODE_HOLDS_ARRAY(json.Root()));
             EXPECT_EQ(json_array_get_length(json_node_get_array(json.Root())), 0u);
         }},
        {"send: the reply",
         {"send", "1234567", "2005"},
         TwoUnits,
         0,
         nullptr,
         nullptr,
         [](const ProgramResult& r) { EXPECT_EQ(r.out, "110012d687210528\n"); }},
        {"send by serial, as JSON",
         {"send", "363-414-522", "30 03 55", "--json"},
         TwoUnits,
         0,
         nullptr,
         nullptr,
         [](const ProgramResult& r) {
             Json json(r.out);
             ASSERT_TRUE(json.Root());
             EXPECT_EQ(Member(json.Root(), "kind"), "parameter");
             EXPECT_EQ(Member(json.Root(), "text"), "110012d687310355");
             EXPECT_EQ(Member(json.Root(), "bytes"), "F0 00 11 22 11 07 2D 4B 00 31 03 55 F7");
         }},
        {"send the poll: the report is its reply",
         {"send", "0x12d687", "1001"},
         TwoUnits,
         0,
         "110012d687371000081018",
         nullptr},
        {"send --reply 37: a report",
         {"send", "1234567", "2005", "--reply", "37"},
         TwoUnits,
         0,
         "110012d68737",
         nullptr},
        {"send to a unit of type 0a",
         {"send", "42", "2003"},
         TwoUnits,
         0,
         nullptr,
         nullptr,
         [](const ProgramResult& r) { EXPECT_EQ(r.out, "0a0000002a210318\n"); }},
        {"send: no reply",
         {"send", "1234567", "4400", "--timeout", "300"},
         TwoUnits,
         3,
         nullptr,
         "no reply from unit 1234567 within 300 ms",
         [](const ProgramResult& r) { EXPECT_EQ(r.out, ""); }},
        {"send: no such unit",
         {"send", "99", "2005"},
         TwoUnits,
         4,
         nullptr,
         "no unit 99 was found; the units found are 1234567, 42."},
        {"send: no unit at all", {"send", "99", "2005"}, "none", 4, nullptr, "no unit answered"},
        {"send: byte over 7F",
         {"send", "1234567", "2080"},
         TwoUnits,
         2,
         nullptr,
         "Value: 80 is over 7F"},
        {"send: odd digits",
         {"send", "1234567", "20 051"},
         TwoUnits,
         2,
         nullptr,
         "odd number of hex digits (5)"},
        {"send: not hex", {"send", "1234567", "20xx"}, TwoUnits, 2, nullptr, "is not hexadecimal"},
        {"unknown command", {"lst"}, TwoUnits, 2, nullptr, "unknown command \"lst\""},
        {"help", {"--help"}, TwoUnits, 0, "usage: yonderpad-units", nullptr},
    };
    RunRows(rows);
}

TEST(UnitsOnSim, RecordReplayAndMonitor) {
    korvotest::TemporaryFolder folder("korvo-cli-sim");
    auto at = [&](const char* name) { return (folder.path / name).string(); };
    // A write and a read back; a read and a command nobody answers; no message.
    WriteBytes(folder, "write.syx",
               {Message(0x11, 1, 0x30, 0x03, {0x55}), Message(0x11, 1, 0x20, 0x03)});
    WriteBytes(folder, "unanswered.syx",
               {Message(0x11, 1, 0x20, 0x03), Message(0x11, 1, 0x44, 0x00)});
    WriteBytes(folder, "broken.syx", {Message(0x11, 1, 0x20, 0x03), {0x20, 0x05}});

    const std::vector<Row> rows = {
        {"record with a text log",
         {"record", at("a.syx"), "--seconds", "1", "--text", at("a.txt")},
         TwoUnits,
         0,
         nullptr,
         "recording 2 units into",
         [&](const ProgramResult& r) {
             const auto messages = LoadSyx(at("a.syx"));  // paired with a.txt beside it
             ASSERT_FALSE(messages.empty());
             EXPECT_NE(r.err.find(std::to_string(messages.size()) + " messages recorded"),
                       std::string::npos)
                 << r.err;
             for (const auto& m : messages) EXPECT_EQ(m.direction, capture::Direction::FromUnit);
             const std::string log = clitest::ReadFile(at("a.txt"));
             EXPECT_NE(log.find("\treceived\t-\tlist\t\t\t00000000000001\n"), std::string::npos)
                 << log;
             EXPECT_NE(log.find("\treceived\t1234567\tannounced 363-414-522\t"), std::string::npos)
                 << log;
         }},
        {"record one unit until Ctrl+C",
         {"record", at("b.syx"), "--unit", "42"},
         TwoUnits,
         0,
         nullptr,
         nullptr,
         [&](const ProgramResult& r) {
             const auto messages = LoadSyx(at("b.syx"));
             ASSERT_FALSE(messages.empty()) << r.err;
             EXPECT_NE(r.err.find(std::to_string(messages.size()) + " message"), std::string::npos)
                 << r.err;
             for (const auto& m : messages) EXPECT_EQ(m.id, 42);
         },
         nullptr,
         [&] { return !clitest::ReadFile(at("b.syx")).empty(); }},
        {"record: no such unit",
         {"record", at("c.syx"), "--unit", "99", "--text", at("c.txt")},
         TwoUnits,
         4,
         nullptr,
         "no unit 99 was found",
         [&](const ProgramResult&) {
             EXPECT_FALSE(folder.Exists("c.syx"));
             EXPECT_FALSE(folder.Exists("c.txt"));
         }},
        {"record: the file cannot be made",
         {"record", at("missing/d.syx")},
         TwoUnits,
         5,
         nullptr,
         "cannot record: "},
        {"replay, each reply awaited",
         {"replay", at("write.syx"), "--to", "1234567", "--wait-reply"},
         TwoUnits,
         0,
         nullptr,
         nullptr,
         [](const ProgramResult& r) { EXPECT_EQ(r.out, "110012d687310355\n110012d687210355\n"); }},
        {"replay to a unit of another type",
         {"replay", at("write.syx"), "--to", "42", "--gap", "0"},
         TwoUnits,
         0,
         nullptr,
         nullptr,
         [](const ProgramResult& r) { EXPECT_EQ(r.out, ""); }},
        {"replay: a reply missing",
         {"replay", at("unanswered.syx"), "--to", "1234567", "--wait-reply", "--timeout", "300"},
         TwoUnits,
         3,
         "110012d687210318",
         "no reply to message 2 of 2 (byte 12 of the file: 44 00) from unit 1234567 within 300 ms"},
        {"replay: not a .syx of unit messages",
         {"replay", at("broken.syx"), "--to", "1234567"},
         TwoUnits,
         2,
         nullptr,
         "byte 12 (20) lies outside any message"},
        {"replay: no file",
         {"replay", at("none.syx"), "--to", "1234567"},
         TwoUnits,
         2,
         nullptr,
         "none.syx"},
        {"replay: no such unit",
         {"replay", at("write.syx"), "--to", "7"},
         TwoUnits,
         4,
         nullptr,
         "no unit 7"},
        {"monitor until Ctrl+C",
         {"monitor"},
         TwoUnits,
         0,
         "  -  discovery: new list of units\n",
         nullptr,
         [](const ProgramResult& r) {
             EXPECT_NE(r.out.find("  1234567  announces 11:1234567, serial 363-414-522\n"),
                       std::string::npos);
             EXPECT_EQ(r.out.find("(report"), std::string::npos) << r.out;
         },
         "announces 0A:42"},
        {"monitor one unit's reports, as JSON",
         {"monitor", "--unit", "42", "--reports", "--json"},
         TwoUnits,
         0,
         nullptr,
         nullptr,
         [](const ProgramResult& r) {
             int reports = 0;
             for (const std::string& line : Lines(r.out)) {
                 Json json(line);
                 ASSERT_TRUE(json.Root());
                 EXPECT_EQ(json_object_get_int_member(json_node_get_object(json.Root()), "unit"),
                           42)
                     << line;
                 reports += Member(json.Root(), "kind") == "report";
             }
             EXPECT_GT(reports, 0) << r.out;
         },
         "\"state\":\"steady\""},
    };
    RunRows(rows);
}

}  // namespace
