// UnitSimulator: one unit of the device protocol, as the demo, the installation
// and the tests need it.
//
// A device message is F0 00 11 22, type, the 28-bit id in four 7-bit groups
// (least significant first), command, value, payload, F7. A unit
//   - answers the probe (type 0, id 0, command 0x02) with command 0x03 and value 0
//     under its own type and id;
//   - answers its poll (0x10/0x01 for types 0x11/0x12, 0x02/0x04 for 0x0A/0x0B)
//     with a state report carrying its parameter table (command 0x37 for 0x11/0x12;
//     for 0x0A/0x0B command 0x05 when a parameter changed since the last report,
//     else 0x04);
//   - reads a parameter with command 0x20 (value = index), answering 0x21 with
//     value = index and the parameter as payload, and writes one with command 0x30
//     (value = index, payload = the new value), answering 0x31 like a read;
//   - answers a dump request, command 0x40, value 0x00, payload three 7-bit bytes
//     L0 L1 L2 giving L = L0 | L1 << 7 | L2 << 14, with a dump of exactly L bytes
//     on the wire (F0 through F7): command 0x41, value 0x00 and L - 12 payload
//     bytes counting 00, 01, ... 7F, 00, ... L from 12 to MaxDumpLength is
//     answered, beyond the program's own bound too, so that a test can send one
//     over it; other lengths get no answer. Example: 0012d6874000007d00 on
//     "Send" asks unit 1234567 for 16000 bytes;
//   - answers command 0x42 (same value and payload) with that dump cut short: its
//     F7 replaced by a note-off (80 00 00), which ends the message early, as a
//     device that is switched off or unplugged mid-dump leaves it.
// Messages for other units, of other makers, too short or without F7 get no answer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace midi {

class UnitSimulator {
public:
    // Parameters are 7-bit values so that a report is a valid system-exclusive message.
    static constexpr size_t ParameterCount = 16;
    // The longest dump a unit answers: four times the program's bound, so that
    // tests can provoke a message over it, and far less than the request's
    // three 7-bit bytes could name (2 MiB), which no test needs.
    static constexpr size_t MaxDumpLength = 256 * 1024;

    UnitSimulator(uint8_t type, int32_t id);

    uint8_t Type() const { return type; }
    int32_t Id() const { return id; }
    uint8_t Parameter(size_t index) const { return index < ParameterCount ? parameters[index] : 0; }

    // Handles one complete message sent to the unit and appends its answers.
    void Handle(const uint8_t* bytes, size_t length, std::vector<std::vector<uint8_t>>& answers);

    // A device message for this protocol.
    static std::vector<uint8_t> Message(uint8_t type, int32_t id, uint8_t command, uint8_t value,
                                        const std::vector<uint8_t>& payload = {});

    static constexpr uint8_t ProbeCommand = 0x02;
    static constexpr uint8_t ProbeAnswer = 0x03;
    static constexpr uint8_t DumpRequest = 0x40;
    static constexpr uint8_t DumpAnswer = 0x41;
    static constexpr uint8_t CutDumpRequest = 0x42;

    // The dump of L bytes as a unit of this type and id answers it.
    static std::vector<uint8_t> Dump(uint8_t type, int32_t id, size_t length);
    // The payload of a dump request for L bytes: L0 L1 L2.
    static std::vector<uint8_t> DumpRequestPayload(size_t length);

private:
    std::vector<uint8_t> Answer(uint8_t command, uint8_t value, const std::vector<uint8_t>& payload) const;

    uint8_t type;
    int32_t id;
    std::array<uint8_t, ParameterCount> parameters;
    bool changed = false;
};

struct UnitConfig {
    uint8_t type;
    int32_t id;
};

// Parses a unit list such as "11:1234567,0a:42": type in hexadecimal (0a, 0b, 11
// or 12), id in decimal (1 to 268435455). Blanks around entries are allowed.
// Entries that do not parse are skipped with a warning; `text` without any entry
// gives an empty list.
std::vector<UnitConfig> ParseUnitList(const std::string& text);
// One unit of each type: 0x0A, 0x0B, 0x11, 0x12.
std::vector<UnitConfig> DefaultUnits();
// "Sim 11:1234567" style name for the unit's ports.
std::string UnitPortName(const UnitConfig& unit);

}  // namespace midi
