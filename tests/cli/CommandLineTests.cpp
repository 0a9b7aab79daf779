// The checks of yonderpad-units's arguments, which run before anything is
// sent: unit names (ids and serials), messages as the page checks them, and
// which command takes which option.

#include <gtest/gtest.h>

#include "modules/midi/MidiDevice.h"
#include "terminal/CommandLine.h"

namespace {

using terminal::CommandLine;
using terminal::Verb;

TEST(CommandLine, AUnitIsNamedByItsIdOrItsSerial) {
    const struct {
        const char* text;
        uint32_t id;  // 0: refused
        const char* error;
    } cases[] = {
        {"1234567", 1234567, nullptr},
        {"0x12d687", 1234567, nullptr},
        {"0X12D687", 1234567, nullptr},
        {"363-414-522", 1234567, nullptr},
        {"000-000-010", 1, nullptr},
        {"355-581-494", 268435455, nullptr},
        {"268435455", 268435455, nullptr},
        {"268435456", 0, "is no unit"},
        {"0", 0, "is no unit"},
        {"0x0", 0, "is no unit id"},
        {"0x10000000", 0, "is no unit id"},
        {"-5", 0, "is no unit"},
        {"12ab", 0, "is no unit"},
        {"", 0, "is no unit"},
        {"000-000-000", 0, "stands for the id 0"},
        {"998-998-989", 0, "stands for the id 999999999, and ids go from 1 to 268435455"},
        {"36a-414-522", 0, "has the form 363-414-522"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        uint32_t id = 0;
        std::string error;
        EXPECT_EQ(terminal::ParseUnitName(c.text, id, error), c.id != 0) << error;
        if (c.id != 0) {
            EXPECT_EQ(id, c.id);
        } else {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
    }
}

// Every serial the device module shows turns back into its unit's id.
TEST(CommandLine, EverySerialLeadsBackToItsId) {
    for (uint32_t id = 1; id <= 268435455; id = id * 3 + 7) {
        const UnitSerial serial = FormatSerial(static_cast<int32_t>(id));
        uint32_t back = 0;
        std::string error;
        ASSERT_TRUE(terminal::ParseUnitName(serial.data(), back, error))
            << serial.data() << ": " << error;
        EXPECT_EQ(back, id) << serial.data();
    }
}

TEST(CommandLine, AMessageIsCheckedAsThePageChecksIt) {
    const struct {
        const char* text;
        const char* digits;  // null: refused
        const char* error;
    } cases[] = {
        {"2005", "2005", nullptr},
        {"30 03 55", "300355", nullptr},
        {" 3A\t0b 7f ", "3a0b7f", nullptr},
        {"8005", nullptr, "Command: 80 is over 7F"},
        {"20ff", nullptr, "Value: FF is over 7F"},
        {"300301 80", nullptr, "Payload: byte 2 (80) is over 7F"},
        {"20051", nullptr, "odd number of hex digits (5)"},
        {"20", nullptr, "at least the command and the value"},
        {"", nullptr, "at least the command and the value"},
        {"20 0g", nullptr, "is not hexadecimal"},
        {"0x2005", nullptr, "is not hexadecimal"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string digits, error;
        EXPECT_EQ(terminal::ParseMessage(c.text, digits, error), c.digits != nullptr) << error;
        if (c.digits) {
            EXPECT_EQ(digits, c.digits);
        } else {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
    }
    // The longest message the units take, and one byte more.
    const std::size_t payload = 64 * 1024 - 12;
    std::string digits, error;
    EXPECT_TRUE(terminal::ParseMessage("2005" + std::string(2 * payload, '0'), digits, error))
        << error;
    EXPECT_FALSE(terminal::ParseMessage("2005" + std::string(2 * payload + 2, '0'), digits, error));
    EXPECT_NE(error.find("65537 bytes on the wire"), std::string::npos) << error;
}

bool Parse(std::vector<const char*> arguments, CommandLine& line, std::string& error) {
    arguments.insert(arguments.begin(), "yonderpad-units");
    return terminal::ParseCommandLine(static_cast<int>(arguments.size()),
                                      const_cast<char**>(arguments.data()), line, error);
}

TEST(CommandLine, EachCommandTakesItsOwnArgumentsAndOptions) {
    const struct {
        std::vector<const char*> arguments;
        const char* error;  // null: accepted
    } cases[] = {
        {{"list"}, nullptr},
        {{"--backend", "jack", "list", "--json", "--wait", "300"}, nullptr},
        {{"list", "--backend=sim"}, nullptr},
        {{"send", "1234567", "20", "05", "--reply", "21", "--timeout", "500"}, nullptr},
        {{"record", "a.syx", "--unit", "363-414-522", "--seconds", "5", "--text", "a.txt"},
         nullptr},
        {{"replay", "a.syx", "--to", "42", "--gap", "0", "--wait-reply"}, nullptr},
        {{"monitor", "--unit", "42", "--reports", "--json"}, nullptr},
        {{}, "no command given"},
        {{"lst"}, "unknown command \"lst\""},
        {{"list", "--verbose"}, "unknown option --verbose"},
        {{"list", "extra"}, "list takes no arguments"},
        {{"list", "--unit", "5"}, "list takes only --wait and --json"},
        {{"list", "--wait"}, "--wait needs a value"},
        {{"list", "--wait", "soon"}, "is not a number"},
        {{"--backend", "winmm", "list"}, "none of alsa, jack and sim"},
        {{"send", "1234567"}, "send needs a unit and a message"},
        {{"send", "1234567", "2080"}, "Value: 80 is over 7F"},
        {{"send", "1234567", "2005", "--reply", "80"}, "is no command"},
        {{"send", "1234567", "2005", "--timeout", "0"}, "is not a number from 1"},
        {{"record"}, "record needs one file"},
        {{"record", "a.syx", "--text", "a.syx"}, "must not be the .syx itself"},
        {{"record", "a.syx", "--seconds", "0"}, "is not a number from 1"},
        {{"replay", "a.syx"}, "--to UNIT"},
        {{"replay", "a.syx", "--to", "0"}, "is no unit"},
        {{"monitor", "--wait-reply"}, "monitor takes --unit and --reports"},
    };
    for (const auto& c : cases) {
        std::string trace;
        for (const char* a : c.arguments) trace += std::string(a) + " ";
        SCOPED_TRACE(trace);
        CommandLine line;
        std::string error;
        EXPECT_EQ(Parse(c.arguments, line, error), c.error == nullptr) << error;
        if (c.error) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
        }
    }

    CommandLine line;
    std::string error;
    ASSERT_TRUE(Parse({"send", "363-414-522", "30", "03 55", "--backend", "sim", "--reply", "0x31"},
                      line, error));
    EXPECT_EQ(line.verb, Verb::Send);
    EXPECT_EQ(line.unit, 1234567u);
    EXPECT_EQ(line.message, "300355");
    EXPECT_EQ(line.reply, 0x31);
    EXPECT_EQ(line.backend, "sim");
    EXPECT_EQ(line.timeoutMs, 2000u);
}

}  // namespace
