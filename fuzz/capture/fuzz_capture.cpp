// A capture from anywhere: the input is the .syx bytes, a zero byte, and the
// text log. Both are split and paired as --replay does it, every unit of the
// capture is made a ReplayUnit, and each message of the .syx is handed to
// each unit as a request.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "Capture.h"
#include "CaptureReplay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const uint8_t* zero = static_cast<const uint8_t*>(memchr(data, 0, size));
    const std::size_t syxLength = zero ? static_cast<std::size_t>(zero - data) : size;
    const std::vector<uint8_t> syx(data, data + syxLength);
    const std::string log =
        zero ? std::string(reinterpret_cast<const char*>(zero + 1), size - syxLength - 1) : "";

    std::vector<capture::CapturedMessage> messages;
    std::string error;
    if (!capture::ParseSyx(syx, messages, error)) return 0;
    if (!zero || !capture::ApplyTextLog(log, messages, error)) capture::GuessDirections(messages);
    for (const midi::UnitConfig& config : tools::UnitsOf(messages)) {
        tools::ReplayUnit unit(config.type, config.id, messages);
        std::vector<tools::Bytes> answers;
        for (const capture::CapturedMessage& message : messages)
            unit.Handle(message.bytes.data(), message.bytes.size(), answers);
    }
    return 0;
}
