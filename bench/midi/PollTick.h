// The device module's share of bench_midi: the mean time of one Running tick
// that polls 256 units (clock advanced by hand; the answers are handled outside
// the timed section), on the simulated units and on the JACK backend, and the
// mean gap between the polls of a silent unit under the real timer.
#pragma once

// Microseconds per tick with the simulator on its own thread; negative when
// the module could not be brought to Running with every unit.
double PollTick256UnitsUs();
// The same on the JACK backend, to the simulator program serving 256 units on
// 8 port pairs; the private server must run. Negative when it cannot be measured.
double PollTick256UnitsJackUs();
// Mean milliseconds between two polls of a unit that never answers, the module
// running on the GLib loop in real time for a few seconds; negative on failure.
double PollGapMeanMs();
