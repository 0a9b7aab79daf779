// The device module's share of bench_midi: the mean time of one Running tick
// that polls 256 simulated units (simulator on its own thread, clock advanced by
// hand); the answers are handled outside the timed section.
#pragma once

// Microseconds per tick; negative when the module could not be brought to Running.
double PollTick256UnitsUs();
