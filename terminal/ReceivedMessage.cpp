#include "ReceivedMessage.h"

#include <glib.h>

#include <algorithm>
#include <cstdio>

namespace terminal {

namespace {

constexpr std::size_t HeaderDigits = 14;
constexpr std::size_t SerialBytes = 12;  // 11 characters and a zero byte
constexpr std::size_t AnnouncementPayload = SerialBytes + 1;

bool IsWide(uint8_t type) {
    return type == 0x11 || type == 0x12;
}
bool IsUnitType(uint8_t type) {
    return type == 0x0A || type == 0x0B || IsWide(type);
}

uint32_t HexField(const std::string& text, std::size_t at, std::size_t digits) {
    return static_cast<uint32_t>(std::stoul(text.substr(at, digits), nullptr, 16));
}

}  // namespace

bool ReceivedMessage::OnWire() const {
    return kind == MessageKind::Report || kind == MessageKind::Parameter ||
           kind == MessageKind::Message;
}

std::vector<uint8_t> ReceivedMessage::WireBytes() const {
    std::vector<uint8_t> bytes = {0xF0, 0x00, 0x11, 0x22, uint8_t(type & 0x7F)};
    for (int shift = 0; shift < 28; shift += 7) bytes.push_back(uint8_t((id >> shift) & 0x7F));
    bytes.push_back(command);
    bytes.push_back(value);
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    bytes.push_back(0xF7);
    return bytes;
}

ReceivedMessage DecodeReceive(const std::string& text) {
    ReceivedMessage message;
    message.text = text;
    const bool hex =
        std::all_of(text.begin(), text.end(), [](char c) { return g_ascii_isxdigit(c); });
    if (text.size() < HeaderDigits || text.size() % 2 != 0 || !hex) return message;

    gchar* lower = g_ascii_strdown(text.c_str(), static_cast<gssize>(text.size()));
    message.text = lower;
    g_free(lower);
    message.type = static_cast<uint8_t>(HexField(text, 0, 2));
    message.id = HexField(text, 2, 8);
    message.command = static_cast<uint8_t>(HexField(text, 10, 2));
    message.value = static_cast<uint8_t>(HexField(text, 12, 2));
    for (std::size_t at = HeaderDigits; at < text.size(); at += 2)
        message.payload.push_back(static_cast<uint8_t>(HexField(text, at, 2)));

    if (message.command == 0 && message.value == 1) {
        if (message.type == 0 && message.id == 0 && message.payload.empty()) {
            message.kind = MessageKind::List;
            return message;
        }
        if (message.payload.size() == AnnouncementPayload && IsUnitType(message.type)) {
            message.kind = MessageKind::Announcement;
            // The serial's bytes up to its zero byte, each a character of its own.
            for (std::size_t i = 0; i < SerialBytes && message.payload[i] != 0; ++i) {
                gchar utf8[8];
                const gint length = g_unichar_to_utf8(message.payload[i], utf8);
                message.serial.append(utf8, static_cast<std::size_t>(length));
            }
            return message;
        }
    }
    if (IsStateReport(message.type, message.command)) {
        message.kind = MessageKind::Report;
        message.state = message.command == 0x05   ? "changed"
                        : message.command == 0x04 ? "steady"
                                                  : "reporting";
        return message;
    }
    if ((message.command == 0x21 || message.command == 0x31) && !message.payload.empty()) {
        message.kind = MessageKind::Parameter;
        return message;
    }
    message.kind = MessageKind::Message;
    return message;
}

const char* KindName(MessageKind kind) {
    switch (kind) {
        case MessageKind::List:
            return "list";
        case MessageKind::Announcement:
            return "announcement";
        case MessageKind::Report:
            return "report";
        case MessageKind::Parameter:
            return "parameter";
        case MessageKind::Message:
            return "message";
        case MessageKind::Invalid:
            break;
    }
    return "invalid";
}

const char* DescribeCommand(uint8_t command) {
    switch (command) {
        case 0x03:
        case 0x22:
            return "probe answer";
        case 0x04:
            return "report, unchanged";
        case 0x05:
            return "report, changed";
        case 0x10:
            return "poll";
        case 0x20:
            return "read parameter";
        case 0x21:
            return "parameter";
        case 0x30:
            return "write parameter";
        case 0x31:
            return "parameter written";
        case 0x37:
            return "report";
        default:
            return "";
    }
}

bool IsStateReport(uint8_t type, uint8_t command) {
    return IsWide(type) ? command == 0x37 : command == 0x04 || command == 0x05;
}

bool IsPoll(uint8_t type, uint8_t command, uint8_t value) {
    return IsWide(type) ? command == 0x10 && value == 0x01 : command == 0x02 && value == 0x04;
}

std::string HexBytes(const std::vector<uint8_t>& bytes, const char* separator) {
    std::string text;
    char pair[3];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) text += separator;
        std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
        text += pair;
    }
    return text;
}

}  // namespace terminal
