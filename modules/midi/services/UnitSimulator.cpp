#include "UnitSimulator.h"

#include <glib.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace midi {

namespace {

constexpr uint8_t Header[] = {0xF0, 0x00, 0x11, 0x22};
constexpr size_t HeaderBytes = 12;  // header, type, id, command, value, F7

int32_t DecodeId(const uint8_t* b) {
    return int32_t(b[0]) | int32_t(b[1]) << 7 | int32_t(b[2]) << 14 | int32_t(b[3]) << 21;
}

bool IsKnownType(uint8_t type) { return type == 0x0A || type == 0x0B || type == 0x11 || type == 0x12; }

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(" \t");
    return s.substr(b, e - b + 1);
}

}  // namespace

UnitSimulator::UnitSimulator(uint8_t type, int32_t id) : type(type), id(id) {
    // A recognisable starting table: level, mute, a few settings.
    for (size_t i = 0; i < ParameterCount; ++i) parameters[i] = uint8_t((i * 8) & 0x7F);
}

std::vector<uint8_t> UnitSimulator::Message(uint8_t type, int32_t id, uint8_t command, uint8_t value,
                                            const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> m(std::begin(Header), std::end(Header));
    m.push_back(type);
    for (int shift = 0; shift < 28; shift += 7) m.push_back(uint8_t((id >> shift) & 0x7F));
    m.push_back(command);
    m.push_back(value);
    m.insert(m.end(), payload.begin(), payload.end());
    m.push_back(0xF7);
    return m;
}

std::vector<uint8_t> UnitSimulator::Dump(uint8_t type, int32_t id, size_t length) {
    std::vector<uint8_t> payload(length < HeaderBytes ? 0 : length - HeaderBytes);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i & 0x7F);
    return Message(type, id, DumpAnswer, 0x00, payload);
}

std::vector<uint8_t> UnitSimulator::DumpRequestPayload(size_t length) {
    return {uint8_t(length & 0x7F), uint8_t((length >> 7) & 0x7F), uint8_t((length >> 14) & 0x7F)};
}

std::vector<uint8_t> UnitSimulator::Answer(uint8_t command, uint8_t value,
                                           const std::vector<uint8_t>& payload) const {
    return Message(type, id, command, value, payload);
}

void UnitSimulator::Handle(const uint8_t* bytes, size_t length,
                           std::vector<std::vector<uint8_t>>& answers) {
    if (bytes == nullptr || length < HeaderBytes) return;
    for (size_t i = 0; i < sizeof Header; ++i)
        if (bytes[i] != Header[i]) return;
    if (bytes[length - 1] != 0xF7) return;
    uint8_t msgType = bytes[4];
    int32_t msgId = DecodeId(bytes + 5);
    uint8_t command = bytes[9];
    uint8_t value = bytes[10];
    const uint8_t* payload = bytes + 11;
    size_t payloadLength = length - HeaderBytes;

    if (msgType == 0 && msgId == 0) {
        if (command == ProbeCommand) answers.push_back(Answer(ProbeAnswer, 0x00, {}));
        return;
    }
    if (msgType != type || msgId != id) return;

    bool wide = type == 0x11 || type == 0x12;
    bool poll = wide ? (command == 0x10 && value == 0x01) : (command == 0x02 && value == 0x04);
    if (poll) {
        std::vector<uint8_t> table(parameters.begin(), parameters.end());
        uint8_t report = wide ? 0x37 : (changed ? 0x05 : 0x04);
        answers.push_back(Answer(report, uint8_t(ParameterCount), table));
        changed = false;
        return;
    }
    if ((command == DumpRequest || command == CutDumpRequest) && value == 0x00 &&
        payloadLength == 3) {
        if ((payload[0] | payload[1] | payload[2]) > 0x7F) return;
        const size_t length =
            size_t(payload[0]) | size_t(payload[1]) << 7 | size_t(payload[2]) << 14;
        if (length < HeaderBytes || length > MaxDumpLength) return;
        std::vector<uint8_t> dump = Dump(type, id, length);
        if (command == CutDumpRequest) {
            dump.back() = 0x80;  // a note-off in place of the F7
            dump.push_back(0x00);
            dump.push_back(0x00);
        }
        answers.push_back(std::move(dump));
        return;
    }
    if (command == 0x20 && value < ParameterCount) {
        answers.push_back(Answer(0x21, value, {parameters[value]}));
    } else if (command == 0x30 && value < ParameterCount && payloadLength >= 1) {
        parameters[value] = payload[0] & 0x7F;
        changed = true;
        answers.push_back(Answer(0x31, value, {parameters[value]}));
    }
}

std::vector<UnitConfig> ParseUnitList(const std::string& text) {
    std::vector<UnitConfig> units;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos) comma = text.size();
        std::string entry = Trim(text.substr(start, comma - start));
        start = comma + 1;
        if (entry.empty()) continue;
        size_t colon = entry.find(':');
        bool ok = false;
        if (colon != std::string::npos && colon > 0 && colon + 1 < entry.size()) {
            std::string typeText = entry.substr(0, colon), idText = entry.substr(colon + 1);
            char* end = nullptr;
            errno = 0;
            unsigned long type = std::strtoul(typeText.c_str(), &end, 16);
            bool typeOk = *end == '\0' && errno == 0 && typeText.find_first_of("+- ") == std::string::npos &&
                          type <= 0xFF && IsKnownType(uint8_t(type));
            errno = 0;
            unsigned long long id = std::strtoull(idText.c_str(), &end, 10);
            bool idOk = *end == '\0' && errno == 0 && idText.find_first_of("+- ") == std::string::npos &&
                        id >= 1 && id <= 0x0FFFFFFF;
            if (typeOk && idOk) {
                units.push_back({uint8_t(type), int32_t(id)});
                ok = true;
            }
        }
        if (!ok) g_warning("Unit list entry \"%s\" skipped: expected type:id such as 11:1234567", entry.c_str());
    }
    return units;
}

std::vector<UnitConfig> DefaultUnits() { return {{0x0A, 10}, {0x0B, 11}, {0x11, 1234567}, {0x12, 18}}; }

std::string UnitPortName(const UnitConfig& unit) {
    char name[32];
    std::snprintf(name, sizeof name, "Sim %02x:%d", unsigned(unit.type), int(unit.id));
    return name;
}

}  // namespace midi
