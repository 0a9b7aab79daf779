// The device module's share of bench_midi: the mean time of one Running tick
// that polls 256 units (simulated, synchronous, on a hand-advanced clock).
#pragma once

// Microseconds per tick; negative when the module could not be brought to Running.
double PollTick256UnitsUs();
