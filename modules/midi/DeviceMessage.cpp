#include "DeviceMessage.h"

#include <cstring>
#include <vector>

namespace DeviceMessage {

namespace {

const uint8_t MakerPrefix[4] = {SysexStart, 0x00, 0x11, 0x22};

bool IsUnitType(uint8_t type) {
    return type == TypeA || type == TypeB || type == Type11 || type == Type12;
}

void AppendHex(std::vector<wchar_t>& text, uint32_t value, int digits) {
    static const wchar_t Digits[] = L"0123456789abcdef";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) text.push_back(Digits[(value >> shift) & 0xF]);
}

}  // namespace

int32_t DecodeId(const uint8_t* bytes) {
    return static_cast<int32_t>(uint32_t{bytes[5]} | uint32_t{bytes[6]} << 7 | uint32_t{bytes[7]} << 14 |
                                uint32_t{bytes[8]} << 21);
}

bool RecogniseUnitMessage(const uint8_t* bytes, std::size_t recorded, UnitMessage* message) {
    if (bytes == nullptr || recorded < MinimumLength) return false;
    if (std::memcmp(bytes, MakerPrefix, sizeof MakerPrefix) != 0) return false;
    // FF in the first id byte marks a message without an id.
    if (bytes[5] == 0xFF) return false;
    int32_t id = DecodeId(bytes);
    if (id == 0 || !IsUnitType(bytes[4])) return false;
    message->type = bytes[4];
    message->id = id;
    message->command = bytes[9];
    message->value = bytes[10];
    message->payload = bytes + 11;
    message->count = recorded > Overhead ? recorded - Overhead : 0;
    return true;
}

std::size_t FirstNonDataByte(uint8_t command, uint8_t value, const uint8_t* payload, std::size_t count) {
    if (command > 0x7F) return 9;
    if (value > 0x7F) return 10;
    for (std::size_t i = 0; i < count; ++i)
        if (payload[i] > 0x7F) return 11 + i;
    return 0;
}

uint8_t* Build(uint8_t type, int32_t id, uint8_t command, uint8_t value, const uint8_t* payload,
               std::size_t count) {
    auto* bytes = new uint8_t[count + Overhead];
    std::memcpy(bytes, MakerPrefix, sizeof MakerPrefix);
    bytes[4] = type;
    auto bits = static_cast<uint32_t>(id);
    bytes[5] = bits & 0x7F;
    bytes[6] = (bits >> 7) & 0x7F;
    bytes[7] = (bits >> 14) & 0x7F;
    bytes[8] = (bits >> 21) & 0x7F;
    bytes[9] = command;
    bytes[10] = value;
    if (count > 0) std::memcpy(bytes + 11, payload, count);
    bytes[count + 11] = SysexEnd;
    return bytes;
}

uint8_t* BuildProbe() { return Build(0, 0, CommandProbe, 0, nullptr, 0); }

String ReceiveText(uint8_t type, int32_t id, uint8_t command, uint8_t value,
                   const uint8_t* payload, std::size_t count) {
    std::vector<wchar_t> text;
    text.reserve(14 + 2 * count + 1);
    AppendHex(text, type, 2);
    AppendHex(text, static_cast<uint32_t>(id), 8);
    AppendHex(text, command, 2);
    AppendHex(text, value, 2);
    for (std::size_t i = 0; i < count; ++i) AppendHex(text, payload[i], 2);
    return String(text.data(), text.size());
}

String Announcement(const Unit& unit) {
    uint8_t payload[13];
    std::memcpy(payload, unit.serial.data(), unit.serial.size());
    payload[12] = unit.type;
    return ReceiveText(unit.type, unit.id, 0, 1, payload, sizeof payload);
}

String ListStart() { return ReceiveText(0, 0, 0, 1, nullptr, 0); }

}  // namespace DeviceMessage
