// Bytes of a returned input buffer, handled by the device module in whatever
// state it is in. The rig lives across inputs; the first byte picks the way
// in, and some ways move the clock or restart the module first, so that the
// bytes meet every state (ScanPending, Probing k, Running) in turn.
//   0, 1  through simulated input port 0 or 1 (assembled into buffers by the services)
//   2     a header handed straight to the input callback, with a recorded count
//         that may overstate the buffer (the last byte's low bit decides)
//   3     the same with the code for an incomplete message
//   4     the callback of a module without a window
//   5     the clock moves on by the second byte times 10 ms, then as 0
//   6     the bytes arrive on port 0, then "Reset" closes the ports before the
//         buffer is handled (it is handled in ScanPending, after its port closed)

#include <glib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "FuzzRig.h"

namespace {

midi::MidiHeader* NewHeader(const uint8_t* bytes, size_t size, uint32_t claimed) {
    auto* header = new midi::MidiHeader{};
    header->bufferLength = static_cast<uint32_t>(size);
    header->data = new uint8_t[size == 0 ? 1 : size]();
    if (size) std::memcpy(header->data, bytes, size);
    header->bytesRecorded = claimed;
    return header;
}

void Quiet(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

}  // namespace

// Most inputs are no unit message, and each one dropped is a warning: they
// would slow the run down to the speed of the terminal.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_log_set_default_handler(Quiet, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 4096) return 0;
    FuzzRig& rig = FuzzRig::Get();
    const uint8_t way = data[0] % 7;
    const uint8_t* bytes = data + 1;
    size_t length = size - 1;

    switch (way) {
    case 5:
        if (length > 0) {
            rig.loop.AdvanceBy(10u * bytes[0]);
            ++bytes, --length;
        }
        [[fallthrough]];
    case 0:
    case 1:
        rig.sim->InjectInput(way == 1 ? 1 : 0, std::vector<uint8_t>(bytes, bytes + length));
        rig.loop.RunPending();
        break;
    case 2:
    case 3: {
        uint32_t claimed = static_cast<uint32_t>(length);
        if (length > 0 && (bytes[length - 1] & 1)) claimed = static_cast<uint32_t>(length) * (bytes[length - 1] + 1u);
        TannevaleMidi::InputCallback(rig.FirstInput(), way == 2 ? midi::MIM_LONGDATA : midi::MIM_LONGERROR,
                                     reinterpret_cast<uintptr_t>(rig.module),
                                     reinterpret_cast<uintptr_t>(NewHeader(bytes, length, claimed)), 0);
        rig.loop.RunPending();
        break;
    }
    case 4:
        TannevaleMidi::InputCallback(1, midi::MIM_LONGDATA, reinterpret_cast<uintptr_t>(rig.windowless),
                                     reinterpret_cast<uintptr_t>(NewHeader(bytes, length, uint32_t(length))), 0);
        break;
    case 6:
        rig.sim->InjectInput(0, std::vector<uint8_t>(bytes, bytes + length));
        rig.panel->Reset(length);
        rig.loop.RunPending();
        break;
    }
    return 0;
}
