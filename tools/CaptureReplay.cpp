#include "CaptureReplay.h"

#include <algorithm>

namespace tools {

namespace {

using capture::CapturedMessage;
using capture::Direction;

constexpr uint8_t Header[] = {0xF0, 0x00, 0x11, 0x22};
constexpr uint8_t ProbeCommand = 0x02;
constexpr uint8_t IdentityCommand = 0x03;
constexpr uint8_t IdentityCommandAlt = 0x22;  // types 0x11 and 0x12 only

bool IsWide(uint8_t type) {
    return type == 0x11 || type == 0x12;
}

bool IsPoll(uint8_t type, uint8_t command, uint8_t value) {
    return IsWide(type) ? command == 0x10 && value == 0x01 : command == 0x02 && value == 0x04;
}

bool IsStateReport(uint8_t type, uint8_t command) {
    return IsWide(type) ? command == 0x37 : command == 0x04 || command == 0x05;
}

bool IsIdentity(uint8_t type, uint8_t command) {
    return command == IdentityCommand || (command == IdentityCommandAlt && IsWide(type));
}

}  // namespace

const Bytes* ReplayUnit::Sequence::Next() {
    if (answers.empty()) return nullptr;
    const Bytes* answer = &answers[std::min(used, answers.size() - 1)];
    ++used;
    return answer;
}

ReplayUnit::ReplayUnit(uint8_t type, int32_t id, const std::vector<CapturedMessage>& capture)
    : type(type), id(id) {
    identity = midi::UnitSimulator::Message(type, id, IdentityCommand, 0x00);
    bool identityRecorded = false;
    std::vector<Bytes>* current = nullptr;  // the answers of the latest request to this unit
    for (const CapturedMessage& m : capture) {
        if (m.type != type || m.id != id) continue;
        if (m.direction == Direction::ToUnit) {
            Request request{char(m.command), char(m.value)};
            request.append(m.payload.begin(), m.payload.end());
            current = &recordings[request].emplace_back();
            continue;
        }
        if (IsStateReport(type, m.command)) {
            reports.answers.push_back(m.bytes);
            continue;
        }
        if (IsIdentity(type, m.command) && !identityRecorded) {
            identity = m.bytes;
            identityRecorded = true;
        }
        if (current) current->push_back(m.bytes);
        replies[{m.command, m.value}].answers.push_back(m.bytes);
    }
}

void ReplayUnit::Handle(const uint8_t* bytes, std::size_t length, std::vector<Bytes>& answers) {
    if (bytes == nullptr || length < capture::MessageOverhead || bytes[length - 1] != 0xF7) return;
    if (!std::equal(std::begin(Header), std::end(Header), bytes)) return;
    const uint8_t toType = bytes[4];
    const int32_t toId = int32_t(bytes[5]) | int32_t(bytes[6]) << 7 | int32_t(bytes[7]) << 14 |
                         int32_t(bytes[8]) << 21;
    const uint8_t command = bytes[9];
    const uint8_t value = bytes[10];

    if (toType == 0 && toId == 0) {
        if (command == ProbeCommand) answers.push_back(identity);
        return;
    }
    if (toType != type || toId != id) return;
    if (IsPoll(type, command, value)) {
        if (const Bytes* report = reports.Next()) answers.push_back(*report);
        return;
    }
    const Request request(bytes + 9, bytes + length - 1);
    if (auto recorded = recordings.find(request); recorded != recordings.end()) {
        std::size_t& used = recordingsUsed[request];
        const std::vector<Bytes>& recording =
            recorded->second[std::min(used, recorded->second.size() - 1)];
        ++used;
        answers.insert(answers.end(), recording.begin(), recording.end());
        return;
    }
    if (auto paired = replies.find({uint8_t(command + 1), value}); paired != replies.end())
        if (const Bytes* reply = paired->second.Next()) answers.push_back(*reply);
}

std::vector<midi::UnitConfig> UnitsOf(const std::vector<CapturedMessage>& capture) {
    std::vector<midi::UnitConfig> units;
    for (const CapturedMessage& m : capture) {
        const bool known = std::any_of(units.begin(), units.end(), [&m](const midi::UnitConfig& u) {
            return u.type == m.type && u.id == m.id;
        });
        if (!known) units.push_back({m.type, m.id});
    }
    return units;
}

}  // namespace tools
