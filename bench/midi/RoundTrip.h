// Round trips of one unit message (the poll of a 0x11 unit and its state report)
// through the MIDI services, and the same through plain RtMidi objects.
#pragma once

#include <rtmidi/RtMidi.h>

#include <chrono>
#include <string>

#include "MidiServices.h"

namespace benchmidi {

// How long one trip may take before it counts as lost.
constexpr std::chrono::milliseconds DefaultTripTimeout{300};

// Mean microseconds per round trip through the threaded sim backend.
double SendReceiveSimUs(int trips);
// Through services to a peer that serves a unit 11:1234567 on ports whose names
// hold ":11-1234567-in" and ":11-1234567-out" (the simulator program).
double SendReceiveUs(midi::MidiServices& services, int trips, int* lost,
                     std::chrono::milliseconds tripTimeout);
// Through the JACK backend; the server must run and the simulator serve the unit.
double SendReceiveJackUs(int trips, int* lost);
// The same round trip with plain RtMidi objects of api.
double RtMidiRoundTripUs(RtMidi::Api api, int trips, int* lost, std::chrono::milliseconds tripTimeout);
double RtMidiJackRoundTripUs(int trips, int* lost);

}  // namespace benchmidi
