#pragma once
// What a "Receive" text of the device module means, decoded the way the page's
// protocol model decodes it (installation/page/protocol.js, parseReceive), so
// that the terminal and the page tell the same thing about the same text.
//
// A text is type (2 hex digits), id (8), command (2), value (2) and two digits
// per payload byte. Its kind:
//   Invalid       odd length, not hex, or shorter than 14 digits
//   List          00000000000001: discovery starts a new list of units
//   Announcement  command 0, value 1, a unit type and 13 payload bytes: the
//                 serial (up to its zero byte), the type again
//   Report        a state report: 37 from types 11/12, 04 (steady) or 05
//                 (changed) from the others; its state word as the page shows
//   Parameter     21 (read) or 31 (written) with at least one payload byte
//   Message       any other unit message
// Reports, parameters and messages stand for a message on the wire; list
// starts and announcements come from the device module itself.

#include <cstdint>
#include <string>
#include <vector>

namespace terminal {

enum class MessageKind { Invalid, List, Announcement, Report, Parameter, Message };

struct ReceivedMessage {
    MessageKind kind = MessageKind::Invalid;
    std::string text;  // lower-cased when valid, as received otherwise
    uint8_t type = 0;
    uint32_t id = 0;
    uint8_t command = 0;
    uint8_t value = 0;
    std::vector<uint8_t> payload;
    std::string serial;  // Announcement (UTF-8)
    std::string state;   // Report: "reporting", "steady" or "changed"

    // Report, Parameter or Message: a message a unit sent.
    bool OnWire() const;
    // The system-exclusive bytes behind a text on the wire: F0 00 11 22, type,
    // the id in four 7-bit groups (least significant first), command, value,
    // payload, F7.
    std::vector<uint8_t> WireBytes() const;
};

ReceivedMessage DecodeReceive(const std::string& text);

// "list", "announcement", "report", "parameter", "message" or "invalid".
const char* KindName(MessageKind kind);
// What a command means, as the page's traffic shows it ("" when unknown).
const char* DescribeCommand(uint8_t command);
// A state report from a unit of this type (37 for 11/12, 04 or 05 otherwise).
bool IsStateReport(uint8_t type, uint8_t command);
// The poll the device module sends a unit of this type by itself.
bool IsPoll(uint8_t type, uint8_t command, uint8_t value);

// Bytes as hex pairs, lower case, separated by `separator` (none when empty).
std::string HexBytes(const std::vector<uint8_t>& bytes, const char* separator = "");

}  // namespace terminal
