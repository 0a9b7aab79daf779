#pragma once
// Waiting in the GLib main loop of the thread's default context, for tests,
// benchmarks and the real-time integration rigs. The wait blocks in the loop
// (no busy polling); a short tick wakes it now and then so that a condition
// changed by another thread without a wake-up is still seen.

#include <functional>

namespace korvotest {

// Bounds a wait on a page, a peer process or a server: a hang fails the test
// instead of stopping the run. It never judges speed.
constexpr int DefaultWaitMs = 20000;

// Runs the main loop until done() holds (true) or timeoutMs pass (false).
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = DefaultWaitMs);

// Runs the main loop for ms milliseconds.
void PumpFor(int ms);

}  // namespace korvotest
