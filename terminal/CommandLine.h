#pragma once
// The command line of yonderpad-units and the checks of what it names. All
// checks run before anything starts, so that bad input ends the program with
// exit code 2 and sends nothing.
//
// A unit is named by its id in decimal (1234567), in hex with 0x (0x12d687),
// or by its serial (363-414-522); a serial turns back into the id it was made
// from, since each of the id's nine digits shows in it, some as a sum with
// another. A message is given as the page's fields are typed: command, value
// and payload as hex pairs, blanks allowed between bytes, each byte 00 to 7F.

#include <cstdint>
#include <optional>
#include <string>

namespace terminal {

enum class Verb { List, Send, Record, Replay, Monitor, Help };

struct CommandLine {
    Verb verb = Verb::Help;
    std::string backend;  // alsa, jack or sim; empty: as the program chooses
    bool json = false;

    uint32_t waitMs = 0;  // list --wait
    uint32_t unit = 0;    // send UNIT, replay --to, record and monitor --unit
    bool hasUnit = false;
    std::string message;           // send: the hex digits of command, value and payload
    std::optional<uint8_t> reply;  // send --reply
    uint32_t timeoutMs = 2000;     // send --timeout, replay --timeout
    std::string file;              // record and replay: the .syx
    std::string textFile;          // record --text
    uint32_t seconds = 0;          // record --seconds; 0 until interrupted
    uint32_t gapMs = 20;           // replay --gap
    bool waitReply = false;        // replay --wait-reply
    bool reports = false;          // monitor --reports
};

// Reads argv; false with a reason for standard error.
bool ParseCommandLine(int argc, char** argv, CommandLine& line, std::string& error);
// A unit name: id or serial. False with a reason.
bool ParseUnitName(const std::string& text, uint32_t& id, std::string& error);
// A message as the page takes it: false with a reason (the page's words) when
// a digit is not hex, the digits are odd in number, command or value are
// missing, a byte is over 7F, or the message would exceed the longest one the
// units take. digits gets the hex digits alone, lower case.
bool ParseMessage(const std::string& text, std::string& digits, std::string& error);

// The usage text of --help.
extern const char* const UsageText;

}  // namespace terminal
