// SysexAssembler: turns the events of one input port back into whole messages,
// and drops every system-exclusive message that cannot be passed on whole.
//
// A peer normally sends a system-exclusive message as one event, but a long one
// comes in parts: a JACK bridge or sender splits it over several events and
// periods (F0 and the first bytes, then data bytes, F7 at the end of the last),
// the ALSA sequencer in 256-byte chunks. Real-time bytes (F8..FF) may come
// between the parts. The assembler keeps the open part and
//   - passes on a message that arrives whole in one event as it came (its content
//     is the receiver's to judge), as long as no other status byte sits inside;
//   - joins a split message and passes it on once its F7 arrives; real-time bytes
//     among its parts are passed on by themselves, they are not part of it;
//   - drops, and says why and how long it was: a message longer than the bound
//     (the rest is skipped up to its F7), and a message cut short by another status
//     byte or a new F0 before its F7. A receiver never gets a part of a message,
//     nor two parts of different messages joined.
//   - passes on whatever is not system exclusive (short messages, stray data
//     bytes, a stray F7) as it came; the receiver decides what that is.
// A message still open when its port closes is given up through Abandon.
// Memory: the open part (at most the bound), released after a long message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "MidiServices.h"

namespace midi {

class SysexAssembler {
public:
    enum class Reason { OverBound, CutByStatus, CutByNewMessage };
    // A message that was dropped: its length so far (through its F7 when it
    // was over the bound), why, and the status byte that cut it short.
    struct Dropped {
        size_t length = 0;
        Reason reason = Reason::OverBound;
        uint8_t status = 0;
    };
    using Emit = std::function<void(const uint8_t* bytes, size_t length)>;
    using Drop = std::function<void(const Dropped& dropped)>;

    explicit SysexAssembler(size_t bound = MaxLongMessage) : bound(bound) {}

    void Feed(const uint8_t* bytes, size_t length, const Emit& emit, const Drop& drop);
    // Gives up a message that is still open (its port closes, or input was lost
    // in between); returns how many of its bytes had arrived, 0 when none was open.
    size_t Abandon();

    // "longer than the bound of 65536 bytes" and the like, for a warning.
    std::string Describe(const Dropped& dropped) const;

private:
    void Reset();

    size_t bound;
    std::vector<uint8_t> partial;  // the open message, F0 first
    bool open = false;
    bool skipping = false;  // inside a message over the bound, waiting for its F7
    size_t skipped = 0;     // bytes of that message so far
};

}  // namespace midi
