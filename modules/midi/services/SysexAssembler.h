// SysexAssembler: turns the events of one input port back into whole messages.
//
// A JACK peer normally sends a system-exclusive message as one event, but a bridge
// from hardware may split it: F0 and the first bytes in one event, data bytes in
// the following ones, F7 at the end of the last. Real-time bytes (F8..FF) may come
// between the parts. The assembler keeps the open part and emits
//   - every event that is complete in itself, unchanged;
//   - a split message, whole, once its F7 arrives;
//   - an open part cut off by another status byte, or grown beyond MaxMessage, as
//     it stands (without F7, so it is reported as an incomplete message); the rest
//     of an over-long message is skipped up to its F7.
// An event that starts with F0 and ends with F7 is taken whole, whatever it carries.
// Data bytes that belong to no message are emitted as they came (an error notice).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace midi {

class SysexAssembler {
public:
    // Bound on one assembled message; 64 KB is far beyond any unit message.
    static constexpr size_t MaxMessage = 64 * 1024;

    using Emit = std::function<void(const uint8_t* bytes, size_t length)>;
    void Feed(const uint8_t* bytes, size_t length, const Emit& emit);

private:
    std::vector<uint8_t> partial;
    bool skipping = false;  // inside an over-long message, waiting for its F7
};

}  // namespace midi
