#include "SysexAssembler.h"

#include <cstdio>

namespace midi {

namespace {

constexpr uint8_t Start = 0xF0;
constexpr uint8_t End = 0xF7;
constexpr size_t NoEnd = SIZE_MAX;
// The open part keeps its memory between messages up to this size; after a
// longer message it is released, so an idle port holds no long buffer.
constexpr size_t KeptCapacity = 4096;

bool IsRealTime(uint8_t byte) {
    return byte >= 0xF8;
}

// Where the message that starts with F0 at `from` ends, when it ends in this
// event with only data and real-time bytes before its F7; NoEnd otherwise.
size_t WholeEnd(const uint8_t* bytes, size_t from, size_t length) {
    for (size_t i = from + 1; i < length; ++i) {
        const uint8_t byte = bytes[i];
        if (byte < 0x80 || IsRealTime(byte)) continue;
        return byte == End ? i : NoEnd;
    }
    return NoEnd;
}

}  // namespace

void SysexAssembler::Feed(const uint8_t* bytes, size_t length, const Emit& emit, const Drop& drop) {
    if (bytes == nullptr) return;
    size_t i = 0;
    while (i < length) {
        const uint8_t byte = bytes[i];
        if (!open) {
            if (byte != Start) {
                // Not system exclusive: the rest of the event as it came.
                emit(bytes + i, length - i);
                return;
            }
            if (const size_t end = WholeEnd(bytes, i, length); end != NoEnd) {
                const size_t whole = end - i + 1;
                if (whole <= bound)
                    emit(bytes + i, whole);
                else
                    drop({whole, Reason::OverBound, 0});
                i = end + 1;
                continue;
            }
            open = true;
            partial.assign(1, Start);
            ++i;
            continue;
        }
        if (IsRealTime(byte)) {
            emit(bytes + i, 1);
            ++i;
        } else if (byte == End) {
            if (skipping) {
                drop({skipped + 1, Reason::OverBound, 0});
            } else {
                partial.push_back(End);
                emit(partial.data(), partial.size());
            }
            Reset();
            ++i;
        } else if (byte >= 0x80) {
            const Reason reason = skipping        ? Reason::OverBound
                                  : byte == Start ? Reason::CutByNewMessage
                                                  : Reason::CutByStatus;
            drop({skipping ? skipped : partial.size(), reason, byte});
            Reset();  // the status byte is read again as the start of what follows
        } else {
            size_t run = i;
            while (run < length && bytes[run] < 0x80) ++run;
            const size_t count = run - i;
            if (skipping) {
                skipped += count;
            } else if (partial.size() + count >= bound) {
                // No room left for the F7 within the bound.
                skipping = true;
                skipped = partial.size() + count;
                std::vector<uint8_t>().swap(partial);
            } else {
                partial.insert(partial.end(), bytes + i, bytes + run);
            }
            i = run;
        }
    }
}

size_t SysexAssembler::Abandon() {
    const size_t length = !open ? 0 : skipping ? skipped : partial.size();
    Reset();
    return length;
}

void SysexAssembler::Reset() {
    open = false;
    skipping = false;
    skipped = 0;
    if (partial.capacity() > KeptCapacity)
        std::vector<uint8_t>().swap(partial);
    else
        partial.clear();
}

std::string SysexAssembler::Describe(const Dropped& dropped) const {
    char text[80];
    switch (dropped.reason) {
        case Reason::OverBound:
            std::snprintf(text, sizeof text, "longer than the bound of %zu bytes", bound);
            break;
        case Reason::CutByStatus:
            std::snprintf(text, sizeof text, "cut short by status byte 0x%02X before its F7",
                          unsigned(dropped.status));
            break;
        case Reason::CutByNewMessage:
            std::snprintf(text, sizeof text,
                          "cut short by the start of another message before its F7");
            break;
    }
    return text;
}

}  // namespace midi
