#include "SysexAssembler.h"

namespace midi {

void SysexAssembler::Feed(const uint8_t* bytes, size_t length, const Emit& emit) {
    if (bytes == nullptr || length == 0) return;
    if (partial.empty() && !skipping) {
        // The usual case: the event is a whole message (or not a system-exclusive
        // one at all); its content is not judged here.
        if (bytes[0] != 0xF0 || bytes[length - 1] == 0xF7) {
            emit(bytes, length);
            return;
        }
        if (length > MaxMessage) {
            emit(bytes, MaxMessage);
            skipping = true;
        } else {
            partial.assign(bytes, bytes + length);
        }
        return;
    }
    for (size_t i = 0; i < length; ++i) {
        uint8_t b = bytes[i];
        if (b >= 0xF8) {  // real time: passes through without closing the message
            emit(bytes + i, 1);
        } else if (b == 0xF7) {
            if (!skipping) {
                partial.push_back(b);
                emit(partial.data(), partial.size());
            }
            partial.clear();
            skipping = false;
            if (i + 1 < length) Feed(bytes + i + 1, length - i - 1, emit);
            return;
        } else if (b >= 0x80) {  // another status byte cuts the open message off
            if (!skipping) emit(partial.data(), partial.size());
            partial.clear();
            skipping = false;
            Feed(bytes + i, length - i, emit);
            return;
        } else if (!skipping) {
            partial.push_back(b);
            if (partial.size() >= MaxMessage) {
                emit(partial.data(), partial.size());
                partial.clear();
                skipping = true;
            }
        }
    }
}

}  // namespace midi
