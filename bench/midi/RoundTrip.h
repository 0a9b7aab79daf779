// Round trips of one unit message (the poll of a 0x11 unit and its state report)
// through the MIDI services, and the same through plain RtMidi objects.
#pragma once

#include <string>

namespace benchmidi {

// Mean microseconds per round trip through the threaded sim backend.
double SendReceiveSimUs(int trips);
// Through the JACK backend to the simulator program; the server must run and
// the simulator must serve a unit 11:1234567 (ports "*:11-1234567-in"/"-out").
double SendReceiveJackUs(int trips, int* lost);
// The same round trip with RtMidi UNIX_JACK objects.
double RtMidiJackRoundTripUs(int trips, int* lost);

}  // namespace benchmidi
