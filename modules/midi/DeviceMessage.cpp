#include "DeviceMessage.h"

#include <cstring>
#include <tuple>
#include <vector>

namespace devicemessage {

namespace {

const uint8_t MakerPrefix[4] = {SysexStart, 0x00, 0x11, 0x22};
// The digits of a "Receive" text before the payload: type 2, id 8, command 2, value 2.
constexpr std::size_t ReceiveTextHeaderDigits = 14;

bool IsUnitType(uint8_t type) {
    return type == TypeA || type == TypeB || type == Type11 || type == Type12;
}

void AppendHex(std::vector<wchar_t>& text, uint32_t value, int digits) {
    static const wchar_t Digits[] = L"0123456789abcdef";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) text.push_back(Digits[(value >> shift) & 0xF]);
}

}  // namespace

int32_t DecodeId(const uint8_t* bytes) {
    const uint8_t* groups = bytes + IdAt;
    return static_cast<int32_t>(uint32_t{groups[0]} | uint32_t{groups[1]} << 7 | uint32_t{groups[2]} << 14 |
                                uint32_t{groups[3]} << 21);
}

bool RecogniseUnitMessage(const uint8_t* bytes, std::size_t recorded, UnitMessage* message,
                          const char** fault) {
    auto refuse = [fault](const char* why) {
        if (fault != nullptr) *fault = why;
        return false;
    };
    if (bytes == nullptr || recorded < MinimumLength) return refuse("too short for a unit message");
    if (std::memcmp(bytes, MakerPrefix, sizeof MakerPrefix) != 0)
        return refuse("not of this maker (F0 00 11 22)");
    if (bytes[recorded - 1] != SysexEnd) return refuse("it does not end with F7");
    // FF in the first id byte marks a message without an id.
    if (bytes[IdAt] == 0xFF) return refuse("it carries no id");
    int32_t id = DecodeId(bytes);
    if (id == 0) return refuse("its id is 0");
    if (!IsUnitType(bytes[TypeAt])) return refuse("no unit has its type");
    message->type = bytes[TypeAt];
    message->id = id;
    message->command = bytes[CommandAt];
    message->value = bytes[ValueAt];
    message->payload = bytes + PayloadAt;
    message->count = recorded > Overhead ? recorded - Overhead : 0;
    return true;
}

bool IsToEveryUnit(const uint8_t* bytes, std::size_t recorded) {
    return bytes != nullptr && recorded >= MinimumLength &&
           std::memcmp(bytes, MakerPrefix, sizeof MakerPrefix) == 0 && bytes[TypeAt] == 0 &&
           DecodeId(bytes) == 0;
}

std::size_t FirstNonDataByte(uint8_t command, uint8_t value, const uint8_t* payload, std::size_t count) {
    if (command > 0x7F) return CommandAt;
    if (value > 0x7F) return ValueAt;
    for (std::size_t i = 0; i < count; ++i)
        if (payload[i] > 0x7F) return PayloadAt + i;
    return 0;
}

uint8_t* Build(uint8_t type, int32_t id, uint8_t command, uint8_t value, const uint8_t* payload,
               std::size_t count) {
    auto* bytes = new uint8_t[count + Overhead];
    std::memcpy(bytes, MakerPrefix, sizeof MakerPrefix);
    bytes[TypeAt] = type;
    auto bits = static_cast<uint32_t>(id);
    for (std::size_t group = 0; group < 4; ++group) bytes[IdAt + group] = (bits >> (7 * group)) & 0x7F;
    bytes[CommandAt] = command;
    bytes[ValueAt] = value;
    if (count > 0) std::memcpy(bytes + PayloadAt, payload, count);
    bytes[PayloadAt + count] = SysexEnd;
    return bytes;
}

uint8_t* BuildProbe() { return Build(0, 0, CommandProbe, 0, nullptr, 0); }

String ReceiveText(uint8_t type, int32_t id, uint8_t command, uint8_t value,
                   const uint8_t* payload, std::size_t count) {
    std::vector<wchar_t> text;
    text.reserve(ReceiveTextHeaderDigits + 2 * count);
    AppendHex(text, type, 2);
    AppendHex(text, static_cast<uint32_t>(id), 8);
    AppendHex(text, command, 2);
    AppendHex(text, value, 2);
    for (std::size_t i = 0; i < count; ++i) AppendHex(text, payload[i], 2);
    return String(text.data(), text.size());
}

String Announcement(const MidiDevice::Unit& unit) {
    uint8_t payload[std::tuple_size_v<UnitSerial> + 1];  // the serial, then the type
    std::memcpy(payload, unit.serial.data(), unit.serial.size());
    payload[unit.serial.size()] = unit.type;
    return ReceiveText(unit.type, unit.id, 0, 1, payload, sizeof payload);
}

String ListStart() { return ReceiveText(0, 0, 0, 1, nullptr, 0); }

String PortsText(int32_t id, const String& input, const String& output) {
    std::vector<wchar_t> text;
    AppendHex(text, static_cast<uint32_t>(id), 8);
    auto appendName = [&text](const String& name) {
        for (const wchar_t* c = name.Text(); *c != L'\0'; ++c)
            text.push_back(*c == L'\t' ? L' ' : *c);
    };
    appendName(input);
    text.push_back(L'\t');
    appendName(output);
    return String(text.data(), text.size());
}

}  // namespace devicemessage
