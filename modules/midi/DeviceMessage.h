#pragma once
// The layout of a device message on the wire and of its hexadecimal text on
// the connectors.
//
//   byte 0        F0, start of system exclusive
//   bytes 1..3    00 11 22, the maker's prefix
//   byte 4        unit type
//   bytes 5..8    unit id in four 7-bit groups, least significant first
//   byte 9        command
//   byte 10       value
//   bytes 11..n-2 payload
//   byte n-1      F7, end of system exclusive
//
// Received bytes are untrusted: RecogniseUnitMessage is the one place that
// decides whether a buffer is a unit message, says why not, and reads its fields.
// The services hand over whole messages only, so a buffer that does not end
// with F7 is no message at all.

#include <cstddef>
#include <cstdint>

#include "framework/String.h"
#include "modules/midi/MidiDevice.h"

namespace devicemessage {

constexpr uint8_t SysexStart = 0xF0;
constexpr uint8_t SysexEnd = 0xF7;
// Where the fields start, as laid out above.
constexpr std::size_t TypeAt = 4;
constexpr std::size_t IdAt = 5;
constexpr std::size_t CommandAt = 9;
constexpr std::size_t ValueAt = 10;
constexpr std::size_t PayloadAt = 11;
// Bytes around the payload of a message the module builds: 11 header bytes and F7.
constexpr std::size_t Overhead = 12;
// The shortest buffer that counts as a unit message: header, id and command,
// then F7 where the value would be. It carries nothing to report.
constexpr std::size_t MinimumLength = 11;
constexpr std::size_t ProbeLength = 12;

// Unit types.
constexpr uint8_t TypeA = 0x0A;
constexpr uint8_t TypeB = 0x0B;
constexpr uint8_t Type11 = 0x11;
constexpr uint8_t Type12 = 0x12;

// Commands the module itself uses.
constexpr uint8_t CommandProbe = 0x02;
constexpr uint8_t CommandIdentity = 0x03;
constexpr uint8_t CommandIdentityAlt = 0x22;  // types 0x11 and 0x12 only

// The fields of a recognised unit message. payload points into the buffer.
struct UnitMessage {
    uint8_t type = 0;
    int32_t id = 0;
    uint8_t command = 0;
    uint8_t value = 0;
    const uint8_t* payload = nullptr;
    std::size_t count = 0;  // payload bytes: recorded - 12, or 0 for 11 bytes
};

// True when bytes[0, recorded) hold a unit message: at least 11 bytes, the
// maker's prefix, F7 as the last byte, an id (byte 5 is not FF, id not 0) and
// a known type. Fills message then. Otherwise `fault`, when given, says why
// not ("it carries no id", ...).
bool RecogniseUnitMessage(const uint8_t* bytes, std::size_t recorded, UnitMessage* message,
                          const char** fault = nullptr);

// A message to every unit (type 0, id 0), such as the probe: what a loopback
// port echoes back during discovery. No unit sends one.
bool IsToEveryUnit(const uint8_t* bytes, std::size_t recorded);

// The id carried by bytes 5..8 (each byte taken whole).
int32_t DecodeId(const uint8_t* bytes);

// The offset within the message (9 for the command, 10 for the value, 11 + i
// for payload byte i) of the first of these bytes above 0x7F, or 0 when every
// one is a MIDI data byte. A byte above 0x7F inside a system-exclusive message
// is a status byte to every receiver: it ends the message there.
std::size_t FirstNonDataByte(uint8_t command, uint8_t value, const uint8_t* payload, std::size_t count);

// A new[]-allocated message of count + 12 bytes. Command, value and payload
// bytes go out as given (the caller checks them with FirstNonDataByte).
uint8_t* Build(uint8_t type, int32_t id, uint8_t command, uint8_t value, const uint8_t* payload,
               std::size_t count);
// The probe: type 0, id 0, command 02, value 00, no payload (new[]-allocated).
uint8_t* BuildProbe();

// "%02x%08x%02x%02x" of (type, id, command, value) and "%02x" per payload byte.
String ReceiveText(uint8_t type, int32_t id, uint8_t command, uint8_t value,
                   const uint8_t* payload, std::size_t count);
// The announcement of a unit on "Receive": header (type, id, 0, 1), then the
// 12 serial bytes and the type as payload.
String Announcement(const MidiDevice::Unit& unit);
// The header that opens a new list of units: type 0, id 0, command 0, value 1.
String ListStart();
// The "Ports" text of an announced unit: its id in 8 hexadecimal digits, the
// name of the input port its messages come in on, a tab, and the name of the
// output port it is sent to (empty when it has none). A tab inside a name
// becomes a blank, so that the one tab always separates the two.
String PortsText(int32_t id, const String& input, const String& output);

}  // namespace devicemessage
