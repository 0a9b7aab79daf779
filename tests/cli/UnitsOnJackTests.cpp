// yonderpad-units on a private JACK server with the unit simulator program as
// the units, with no display: the commands' outputs and exit codes, nothing on
// the wire after bad input, a recording replayed into a second simulated unit
// arriving byte for byte, and the simulator's --replay answering as a capture
// shows. The programs run one after another: a discovery answers every
// program listening on the units' ports, so two discoveries at once would
// credit each other's answers to the wrong ports.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <memory>

#include "Capture.h"
#include "JackTestServer.h"
#include "ProgramRun.h"
#include "support/TemporaryFolder.h"

#ifndef KORVO_UNITS_PROGRAM
#error KORVO_UNITS_PROGRAM must name yonderpad-units
#endif

namespace {

using clitest::ProgramResult;
using clitest::ProgramRun;
using Bytes = std::vector<uint8_t>;

constexpr const char* ServerName = "korvo-cli-test";

ProgramResult Units(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--backend", "jack"});
    return clitest::RunProgram(KORVO_UNITS_PROGRAM, arguments);
}

// A command that must be answered. Without realtime scheduling a loaded JACK
// server loses an event now and then; as the device module's own JACK tests
// send a request a second time, a command that got no reply (exit code 3)
// runs once more. Only idempotent requests go through here.
ProgramResult Answered(const std::vector<std::string>& arguments) {
    ProgramResult result = Units(arguments);
    return result.exit == 3 ? Units(arguments) : result;
}

// The simulator program on the test's server, its log (--log) in its output.
class Simulator {
  public:
    Simulator(const std::string& client, const std::vector<std::string>& arguments) {
        std::vector<std::string> all = {"--client", client, "--log"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        run = std::make_unique<ProgramRun>(KORVO_UNIT_SIMULATOR, all);
        ready = run->WaitFor("ready\n");
    }
    ~Simulator() { Stop(); }
    // SIGTERM; the exit code (0 when it ended cleanly).
    int Stop() {
        if (!run) return stopped;
        run->SignalWhen(SIGTERM, "");
        stopped = run->Finish().exit;
        run.reset();
        return stopped;
    }
    // The messages that reached its units, as logged: "<type>:<id> < F0 ...".
    std::vector<std::string> Received() const {
        std::vector<std::string> lines;
        const std::string out = run ? run->Output() : "";
        for (std::size_t start = 0; start < out.size();) {
            std::size_t end = out.find('\n', start);
            if (end == std::string::npos) end = out.size();
            const std::string line = out.substr(start, end - start);
            if (line.find(" < F0") != std::string::npos) lines.push_back(line);
            start = end + 1;
        }
        return lines;
    }

    bool ready = false;

  private:
    std::unique_ptr<ProgramRun> run;
    int stopped = -1;
};

std::string Hex(const Bytes& bytes) {
    std::string text;
    char pair[4];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, " %02X", b);
        text += pair;
    }
    return text;
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

TEST(UnitsOnJack, EachCommandWithTheSimulatorProgram) {
    miditest::JackTestServer server(ServerName);
    ASSERT_TRUE(server.Ready()) << "jackd did not start";
    // One unit: with several, a unit whose answer comes after its port's turn
    // on a loaded machine is credited to the next port, which no command can
    // tell; a discovery that finds no unit at all is had once more.
    Simulator simulator("korvo-cli-sim", {"0a:42"});
    ASSERT_TRUE(simulator.ready) << "the simulator program did not start";
    korvotest::TemporaryFolder folder("korvo-cli-jack");
    const std::string syx = (folder.path / "write.syx").string();
    const Bytes write = Message(0x0A, 42, 0x30, 0x05, {0x44});
    const Bytes read = Message(0x0A, 42, 0x20, 0x05);
    folder.Write("write.syx",
                 std::string(write.begin(), write.end()) + std::string(read.begin(), read.end()));

    struct Row {
        const char* name;
        std::vector<std::string> arguments;
        int exit;
        const char* out;  // all of standard output, or null
        const char* err;  // a part of standard error, or null
        bool sendsNothing = false;
    };
    const Row rows[] = {
        {"list",
         {"list"},
         0,
         "TYPE  ID  SERIAL       STATE      INPUT PORT               OUTPUT PORT\n"
         "0A    42  040-000-020  announced  korvo-cli-sim:0a-42-out  korvo-cli-sim:0a-42-in\n",
         nullptr},
        {"send: the reply", {"send", "42", "2005"}, 0, "0a0000002a210528\n", nullptr},
        {"send: a write", {"send", "42", "30 03 55"}, 0, "0a0000002a310355\n", nullptr},
        {"send: the unit kept it",
         {"send", "040-000-020", "2003"},
         0,
         "0a0000002a210355\n",
         nullptr},
        {"send: no reply",
         {"send", "42", "4400", "--timeout", "500"},
         3,
         "",
         "no reply from unit 42 within 500 ms"},
        {"send: no such unit", {"send", "77", "2005"}, 4, "", "the units found are 42."},
        {"send: byte over 7F",
         {"send", "42", "2005 80"},
         2,
         "",
         "Payload: byte 1 (80) is over 7F",
         true},
        {"send: odd digits", {"send", "42", "200"}, 2, "", "odd number of hex digits (3)", true},
        {"replay, each reply awaited",
         {"replay", syx, "--to", "42", "--wait-reply"},
         0,
         "0a0000002a310544\n0a0000002a210544\n",
         nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::size_t before = simulator.Received().size();
        const ProgramResult result = row.exit == 0 ? Answered(row.arguments) : Units(row.arguments);
        EXPECT_EQ(result.exit, row.exit) << result.err;
        if (row.out) {
            EXPECT_EQ(result.out, row.out);
        }
        if (row.err) {
            EXPECT_NE(result.err.find(row.err), std::string::npos) << result.err;
        }
        if (row.sendsNothing) {
            EXPECT_EQ(simulator.Received().size(), before);
        }
    }

    // The live traffic while another copy talks to the unit.
    ProgramRun monitor(KORVO_UNITS_PROGRAM, {"--backend", "jack", "monitor", "--unit", "42"});
    ASSERT_TRUE(monitor.WaitFor("announces 0A:42")) << monitor.Output();
    EXPECT_EQ(Answered({"send", "42", "2003"}).exit, 0);
    EXPECT_TRUE(
        monitor.WaitFor("  42  21 03 55  (parameter)  F0 00 11 22 0A 2A 00 00 00 21 03 55 F7\n"))
        << monitor.Output();
    monitor.SignalWhen(SIGINT, "");
    EXPECT_EQ(monitor.Finish().exit, 0);
    EXPECT_EQ(simulator.Stop(), 0);
}

TEST(UnitsOnJack, ARecordingReplayedIntoASecondUnitArrivesByteForByte) {
    miditest::JackTestServer server(ServerName);
    ASSERT_TRUE(server.Ready()) << "jackd did not start";
    korvotest::TemporaryFolder folder("korvo-cli-jack");
    const std::string syx = (folder.path / "unit.syx").string();
    {
        Simulator first("korvo-cli-first", {"11:1234567"});
        ASSERT_TRUE(first.ready);
        // Its reports, and the replies it sends to another copy of the program.
        ProgramRun record(KORVO_UNITS_PROGRAM,
                          {"--backend", "jack", "record", syx, "--unit", "1234567", "--text",
                           (folder.path / "unit.txt").string()});
        ASSERT_TRUE(record.WaitFor("recording 1 unit")) << record.Output();
        EXPECT_EQ(Answered({"send", "1234567", "30 03 55"}).out, "110012d687310355\n");
        EXPECT_EQ(Answered({"send", "1234567", "2003"}).out, "110012d687210355\n");
        ASSERT_TRUE(record.SignalWhen(SIGINT, ""));
        const ProgramResult recorded = record.Finish();
        EXPECT_EQ(recorded.exit, 0) << recorded.err;
    }
    std::vector<capture::CapturedMessage> messages;
    std::string error;
    ASSERT_TRUE(capture::LoadCapture(syx, messages, error)) << error;
    auto has = [&](const Bytes& bytes) {
        return std::any_of(messages.begin(), messages.end(),
                           [&](const auto& m) { return m.bytes == bytes; });
    };
    EXPECT_TRUE(has(Message(0x11, 1234567, 0x31, 0x03, {0x55})));
    EXPECT_TRUE(has(Message(0x11, 1234567, 0x21, 0x03, {0x55})));

    std::vector<std::string> expected;
    for (const auto& m : messages) expected.push_back("11:1234567 <" + Hex(m.bytes));
    // What reached the second unit, without the probes and polls of the
    // device module itself, is the recording, message for message. A loaded
    // JACK server may lose one of them (see Answered): the replay into a new
    // second unit is then tried once more.
    std::vector<std::string> wire;
    for (int attempt = 0; attempt < 2 && wire != expected; ++attempt) {
        Simulator second("korvo-cli-second", {"11:1234567"});
        ASSERT_TRUE(second.ready);
        const ProgramResult replayed = Units({"replay", syx, "--to", "1234567", "--gap", "5"});
        EXPECT_EQ(replayed.exit, 0) << replayed.err;
        wire.clear();
        for (const std::string& line : second.Received())
            if (line.find(" 22 00 00 00 00 00 02 00 F7") == std::string::npos &&
                line.find(" 4B 00 10 01 F7") == std::string::npos)
                wire.push_back(line);
    }
    EXPECT_EQ(wire, expected);
}

TEST(UnitsOnJack, TheSimulatorReplaysACaptureAsRecorded) {
    miditest::JackTestServer server(ServerName);
    ASSERT_TRUE(server.Ready()) << "jackd did not start";
    korvotest::TemporaryFolder folder("korvo-cli-jack");
    // A user's capture, as the page saves it: a read answered with 77, a state
    // report with a table of its own, a write answer whose request came before
    // the recording began.
    const Bytes parts[] = {
        Message(0x11, 1234567, 0x31, 0x03, {0x66}),
        Message(0x11, 1234567, 0x20, 0x05),
        Message(0x11, 1234567, 0x21, 0x05, {0x77}),
        Message(0x11, 1234567, 0x37, 0x02, {0x11, 0x22}),
    };
    std::string bytes;
    for (const Bytes& part : parts) bytes.append(part.begin(), part.end());
    folder.Write("user.syx", bytes);
    folder.Write("user.txt",
                 "# time\tdirection\tunit\tcommand\tvalue\tpayload\ttext\n"
                 "10:00:00.000\treceived\t1234567\t31\t03\t66\t110012d687310366\n"
                 "10:00:00.100\tsent\t1234567\t20\t05\t\t0012d6872005\n"
                 "10:00:00.110\treceived\t1234567\t21\t05\t77\t110012d687210577\n"
                 "10:00:00.200\treceived\t1234567\t37\t02\t11 22\t110012d68737021122\n");
    const std::string syx = (folder.path / "user.syx").string();

    // A capture that does not hold unit messages is refused with the reason.
    folder.Write("broken.syx", "hello");
    const ProgramResult refused = clitest::RunProgram(
        KORVO_UNIT_SIMULATOR, {"--replay", (folder.path / "broken.syx").string()});
    EXPECT_EQ(refused.exit, 2);
    EXPECT_NE(refused.err.find("byte 0 (68) lies outside any message"), std::string::npos)
        << refused.err;

    Simulator replay("korvo-cli-replay", {"--replay", syx});
    ASSERT_TRUE(replay.ready) << "the simulator did not start on the capture";
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        int exit;
        const char* out;
    } rows[] = {
        {"the unit of the capture, reporting", {"list", "--wait", "500"}, 0, "reporting"},
        {"the recorded answer", {"send", "1234567", "2005"}, 0, "110012d687210577\n"},
        {"again: the last answer again", {"send", "1234567", "2005"}, 0, "110012d687210577\n"},
        {"by the protocol's pair", {"send", "1234567", "3003 01"}, 0, "110012d687310366\n"},
        {"the recorded report", {"send", "1234567", "1001"}, 0, "110012d68737021122\n"},
        {"nothing recorded", {"send", "1234567", "2006", "--timeout", "500"}, 3, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const ProgramResult result = row.exit == 0 ? Answered(row.arguments) : Units(row.arguments);
        EXPECT_EQ(result.exit, row.exit) << result.err;
        EXPECT_NE(result.out.find(row.out), std::string::npos) << result.out;
    }
    EXPECT_EQ(replay.Stop(), 0);
}

}  // namespace
