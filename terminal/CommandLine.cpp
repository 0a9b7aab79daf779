#include "CommandLine.h"

#include <glib.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "modules/midi/services/MidiServices.h"

namespace terminal {

const char* const UsageText =
    "usage: yonderpad-units [--backend alsa|jack|sim] [--json] COMMAND [ARGUMENTS]\n"
    "\n"
    "  list [--wait MS]                       the units found on every port\n"
    "  send UNIT HEX [--reply CMD] [--timeout MS]\n"
    "                                         one message to a unit; prints its reply\n"
    "  record FILE.syx [--unit U] [--seconds N] [--text FILE.txt]\n"
    "                                         the units' messages into a .syx\n"
    "  replay FILE.syx --to UNIT [--gap MS] [--wait-reply] [--timeout MS]\n"
    "                                         the messages of a .syx to one unit\n"
    "  monitor [--unit U] [--reports]         the live traffic, one line per message\n"
    "\n"
    "UNIT is an id (1234567, or 0x12d687) or a serial (363-414-522). HEX is command,\n"
    "value and payload as hex pairs, 00 to 7F, blanks allowed: 2005, or \"30 03 55\".\n"
    "\n"
    "  --backend B   alsa, jack or sim (default: as the program, $KORVO_MIDI)\n"
    "  --json        JSON for scripts: list an array, the others one object a line\n"
    "  --wait MS     list: listen MS ms more after discovery, so that the units'\n"
    "                state reports show (default 0: end once the units are announced)\n"
    "  --reply CMD   send: wait for the first reply with command CMD (hex); without\n"
    "                it the first reply that is not a state report counts\n"
    "  --timeout MS  send, replay: how long to wait for a reply (default 2000)\n"
    "  --unit U      record, monitor: only this unit's messages\n"
    "  --seconds N   record: stop N seconds after discovery (default: at Ctrl+C)\n"
    "  --text FILE   record: also a timestamped text log, as the page saves one\n"
    "  --to UNIT     replay: the unit the messages go to, in its own type and id\n"
    "  --gap MS      replay: pause between messages (default 20)\n"
    "  --wait-reply  replay: wait for each message's reply; a missing one stops it\n"
    "  --reports     monitor: show the state reports that answer every poll too\n"
    "\n"
    "Exit codes: 0 done (send: replied), 1 list found no unit, 2 bad usage or input\n"
    "(nothing is sent), 3 no reply in time, 4 no such unit, 5 the device module or a\n"
    "file could not be used, 130 interrupted. Errors go to standard error.\n"
    "Needs no display. Discovery takes 1.5 s and 0.2 s per MIDI output port; when it\n"
    "finds no unit, or not the unit named, it is had once more.\n";

namespace {

// The largest id: 28 bits.
constexpr uint32_t MaxId = 0x0FFFFFFF;
// Bounds of the numbers the options take: far beyond any real use, they keep
// the timers within their range.
constexpr uint32_t MaxWaitMs = 3600 * 1000;
constexpr uint32_t MaxSeconds = 7 * 24 * 3600;
// Bytes a message has besides its payload: F0 00 11 22, type, four id bytes,
// command, value, F7.
constexpr std::size_t MessageOverhead = 12;

bool ParseNumber(const std::string& text, uint32_t minimum, uint32_t maximum, uint32_t& number) {
    if (text.empty() || text.size() > 10 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return g_ascii_isdigit(c); }))
        return false;
    const unsigned long long value = std::stoull(text);
    if (value < minimum || value > maximum) return false;
    number = static_cast<uint32_t>(value);
    return true;
}

bool IsHex(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return g_ascii_isxdigit(c); });
}

std::string Upper(std::string text) {
    for (char& c : text) c = g_ascii_toupper(c);
    return text;
}

}  // namespace

bool ParseUnitName(const std::string& text, uint32_t& id, std::string& error) {
    unsigned long long value = 0;
    if (text.size() == 11 && text[3] == '-' && text[7] == '-') {
        // Positions of the id's digits d(0) .. d(8) in the serial (see FormatSerial):
        // d4 d1 (d4+d8) - d3 d6 (d3+d7) - d2 (d2+d0) d5.
        int s[11];
        for (int i = 0; i < 11; ++i) {
            if (i == 3 || i == 7) continue;
            if (!g_ascii_isdigit(text[i])) {
                error = "\"" + text + "\" is no unit: a serial has the form 363-414-522";
                return false;
            }
            s[i] = text[i] - '0';
        }
        int d[9];
        d[4] = s[0], d[1] = s[1], d[8] = (s[2] - d[4] + 10) % 10;
        d[3] = s[4], d[6] = s[5], d[7] = (s[6] - d[3] + 10) % 10;
        d[2] = s[8], d[0] = (s[9] - d[2] + 10) % 10, d[5] = s[10];
        for (int k = 8; k >= 0; --k) value = value * 10 + static_cast<unsigned>(d[k]);
        if (value == 0 || value > MaxId) {
            error = "no unit can have the serial " + text + std::string(": it stands for the id ") +
                    std::to_string(value) + ", and ids go from 1 to 268435455";
            return false;
        }
    } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        const std::string digits = text.substr(2);
        if (!IsHex(digits) || digits.size() > 8 ||
            (value = std::stoull(digits, nullptr, 16)) == 0 || value > MaxId) {
            error = "\"" + text + "\" is no unit id: ids go from 0x1 to 0xfffffff";
            return false;
        }
    } else {
        uint32_t number = 0;
        if (!ParseNumber(text, 1, MaxId, number)) {
            error =
                "\"" + text +
                "\" is no unit: give its id (1 to 268435455, or 0x1 to 0xfffffff) or its serial";
            return false;
        }
        value = number;
    }
    id = static_cast<uint32_t>(value);
    return true;
}

bool ParseMessage(const std::string& text, std::string& digits, std::string& error) {
    digits.clear();
    for (char c : text)
        if (!g_ascii_isspace(c)) digits += g_ascii_tolower(c);
    if (!digits.empty() && !IsHex(digits)) {
        error = "Message: \"" + text + "\" is not hexadecimal; use 0-9, A-F and blanks.";
        return false;
    }
    if (digits.size() % 2 != 0) {
        error = std::string("Message: odd number of hex digits (") + std::to_string(digits.size()) +
                "); every byte takes two digits.";
        return false;
    }
    if (digits.size() < 4) {
        error =
            "Message: give at least the command and the value, two hex digits each (2005 reads "
            "parameter 5).";
        return false;
    }
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        const std::string pair = digits.substr(i, 2);
        if (std::stoul(pair, nullptr, 16) <= 0x7F) continue;
        const std::size_t byte = i / 2;
        if (byte < 2)
            error = std::string(byte == 0 ? "Command" : "Value") + std::string(": ") + Upper(pair) +
                    " is over 7F; the units take 7-bit values, 00 to 7F.";
        else
            error = std::string("Payload: byte ") + std::to_string(byte - 1) + std::string(" (") +
                    Upper(pair) + ") is over 7F; the units take 7-bit bytes.";
        return false;
    }
    const std::size_t length = digits.size() / 2 - 2 + MessageOverhead;
    if (length > midi::MaxLongMessage) {
        error = std::string("Message: ") + std::to_string(length) +
                " bytes on the wire, more than the " +
                std::to_string(midi::MaxLongMessage) + " a message may have.";
        return false;
    }
    return true;
}

bool ParseCommandLine(int argc, char** argv, CommandLine& line, std::string& error) {
    std::vector<std::string> positional;
    bool verbGiven = false;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        std::string value;
        bool inlineValue = false;
        if (argument.rfind("--", 0) == 0 && argument.find('=') != std::string::npos) {
            value = argument.substr(argument.find('=') + 1);
            argument = argument.substr(0, argument.find('='));
            inlineValue = true;
        }
        // The value of an option that takes one.
        auto take = [&](std::string& out) {
            if (inlineValue) {
                out = value;
                return true;
            }
            if (i + 1 >= argc) {
                error = argument + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        auto number = [&](uint32_t minimum, uint32_t maximum, uint32_t& out) {
            std::string text;
            if (!take(text)) return false;
            if (!ParseNumber(text, minimum, maximum, out)) {
                error = argument + ": \"" + text + std::string("\" is not a number from ") +
                        std::to_string(minimum) + " to " + std::to_string(maximum);
                return false;
            }
            return true;
        };
        auto unit = [&]() {
            std::string text;
            if (!take(text) || !ParseUnitName(text, line.unit, error)) return false;
            line.hasUnit = true;
            return true;
        };
        bool ok = true;
        if (argument == "--help" || argument == "-h") {
            line.verb = Verb::Help;
            return true;
        } else if (argument == "--backend") {
            ok = take(line.backend);
            if (ok && line.backend != "alsa" && line.backend != "jack" && line.backend != "sim") {
                error = "--backend: \"" + line.backend + "\" is none of alsa, jack and sim";
                ok = false;
            }
        } else if (argument == "--json" && !inlineValue) {
            line.json = true;
        } else if (argument == "--wait") {
            ok = number(0, MaxWaitMs, line.waitMs);
        } else if (argument == "--timeout") {
            ok = number(1, MaxWaitMs, line.timeoutMs);
        } else if (argument == "--gap") {
            ok = number(0, MaxWaitMs, line.gapMs);
        } else if (argument == "--seconds") {
            ok = number(1, MaxSeconds, line.seconds);
        } else if (argument == "--unit" || argument == "--to") {
            ok = unit();
        } else if (argument == "--text") {
            ok = take(line.textFile);
        } else if (argument == "--reply") {
            std::string text;
            ok = take(text);
            if (ok) {
                std::string digits = text.rfind("0x", 0) == 0 ? text.substr(2) : text;
                if (!IsHex(digits) || digits.size() > 2 || std::stoul(digits, nullptr, 16) > 0x7F) {
                    error = "--reply: \"" + text + "\" is no command; give one in hex, 00 to 7F";
                    ok = false;
                } else {
                    line.reply = static_cast<uint8_t>(std::stoul(digits, nullptr, 16));
                }
            }
        } else if (argument == "--wait-reply" && !inlineValue) {
            line.waitReply = true;
        } else if (argument == "--reports" && !inlineValue) {
            line.reports = true;
        } else if (argument == "--") {
            positional.insert(positional.end(), argv + i + 1, argv + argc);
            break;
        } else if (argument.size() > 1 && argument[0] == '-' && !g_ascii_isdigit(argument[1])) {
            error = "unknown option " + argument;
            ok = false;
        } else if (!verbGiven) {
            verbGiven = true;
            if (argument == "list")
                line.verb = Verb::List;
            else if (argument == "send")
                line.verb = Verb::Send;
            else if (argument == "record")
                line.verb = Verb::Record;
            else if (argument == "replay")
                line.verb = Verb::Replay;
            else if (argument == "monitor")
                line.verb = Verb::Monitor;
            else if (argument == "help")
                line.verb = Verb::Help;
            else {
                error = "unknown command \"" + argument + "\"";
                ok = false;
            }
        } else {
            positional.push_back(argument);
        }
        if (!ok) return false;
    }
    if (!verbGiven) {
        error = "no command given";
        return false;
    }

    // Which options and arguments each command takes.
    auto refuse = [&](const char* what) {
        error = what;
        return false;
    };
    switch (line.verb) {
        case Verb::List:
            if (!positional.empty()) return refuse("list takes no arguments");
            if (line.hasUnit || line.reply || line.waitReply || line.reports ||
                !line.textFile.empty())
                return refuse("list takes only --wait and --json");
            break;
        case Verb::Send: {
            if (positional.size() < 2)
                return refuse("send needs a unit and a message: send UNIT HEX");
            if (line.hasUnit)
                return refuse("send takes its unit as its first argument, not as an option");
            if (!ParseUnitName(positional[0], line.unit, error)) return false;
            line.hasUnit = true;
            std::string text;
            for (std::size_t k = 1; k < positional.size(); ++k) {
                if (k > 1) text += ' ';
                text += positional[k];
            }
            if (!ParseMessage(text, line.message, error)) return false;
            break;
        }
        case Verb::Record:
            if (positional.size() != 1) return refuse("record needs one file: record FILE.syx");
            line.file = positional[0];
            if (line.reply || line.waitReply || line.reports)
                return refuse("record takes --unit, --seconds and --text");
            if (line.textFile == line.file)
                return refuse("record: the text log must not be the .syx itself");
            break;
        case Verb::Replay:
            if (positional.size() != 1)
                return refuse("replay needs one file: replay FILE.syx --to UNIT");
            line.file = positional[0];
            if (!line.hasUnit) return refuse("replay needs the unit to send to: --to UNIT");
            if (line.reply || line.reports || !line.textFile.empty())
                return refuse("replay takes --to, --gap, --wait-reply and --timeout");
            break;
        case Verb::Monitor:
            if (!positional.empty()) return refuse("monitor takes no arguments");
            if (line.reply || line.waitReply || !line.textFile.empty())
                return refuse("monitor takes --unit and --reports");
            break;
        case Verb::Help:
            break;
    }
    return true;
}

}  // namespace terminal
