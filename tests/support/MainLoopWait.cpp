#include "support/MainLoopWait.h"

#include <glib.h>

namespace korvotest {

namespace {

// How often a blocked wait wakes to look at its condition again.
constexpr guint RecheckMs = 10;

}  // namespace

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const gint64 end = g_get_monotonic_time() + gint64{timeoutMs} * 1000;
    const guint tick = g_timeout_add(RecheckMs, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
    bool held = true;
    while (!done()) {
        if (g_get_monotonic_time() > end) {
            held = false;
            break;
        }
        g_main_context_iteration(nullptr, TRUE);
    }
    g_source_remove(tick);
    return held;
}

void PumpFor(int ms) {
    const gint64 end = g_get_monotonic_time() + gint64{ms} * 1000;
    PumpUntil([end] { return g_get_monotonic_time() > end; }, ms + 1000);
}

}  // namespace korvotest
