// The text written to "Send", read from the input as UTF-8 the way a page's
// text arrives, with both units known (Running). The units' answers come back
// through the input path.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzRig.h"
#include "framework/String.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    FuzzRig& rig = FuzzRig::Get();
    rig.ToRunning();
    String text = String::FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    rig.panel->Send(text.Text());
    rig.loop.RunPending();
    return 0;
}
