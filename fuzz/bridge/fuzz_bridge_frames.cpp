// Any bytes as the script channel socket could deliver them, cut into
// size-prefixed frames the way either end reads them, each decoded by the
// decoder both ends share. A frame that decodes must encode back to exactly
// its bytes: the encoding is canonical, so a difference is a codec fault.
// (fuzz_bridge_channel feeds the same kind of bytes to a live channel.)

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/bridge/ScriptFrame.h"

using namespace platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t at = 0;
    while (size - at >= kFrameSizeField) {
        uint32_t length = uint32_t(data[at]) | uint32_t(data[at + 1]) << 8 | uint32_t(data[at + 2]) << 16 |
                          uint32_t(data[at + 3]) << 24;
        at += kFrameSizeField;
        if (length > size - at) return 0;  // cut off: the channel closes before decoding
        ScriptFrame frame;
        if (DecodeFrame(data + at, length, frame)) {
            std::string again;
            if (!EncodeFrame(frame, again) || again.size() != length + kFrameSizeField ||
                std::memcmp(again.data() + kFrameSizeField, data + at, length) != 0)
                abort();
        }
        at += length;
    }
    return 0;
}
