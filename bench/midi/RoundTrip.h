// Round trips of one unit message (the poll of a 0x11 unit and its state report)
// through the MIDI services, and the same through plain RtMidi objects.
#pragma once

#include <rtmidi/RtMidi.h>

#include <chrono>
#include <memory>
#include <string>

#include "MidiServices.h"

namespace benchmidi {

// How long one trip may take before it counts as lost.
constexpr std::chrono::milliseconds DefaultTripTimeout{300};

// The unit the round trips poll unless told otherwise (type 0x11).
constexpr int32_t PolledUnit = 1234567;

// An open pair of ports to one 0x11 unit: one Trip sends its poll and waits
// for the answer. Routes stay open between trips, so two of them can take
// turns trip by trip; they must poll different units, since every answer
// reaches every input connected to the unit's output.
class TripRoute {
  public:
    virtual ~TripRoute() = default;
    // Microseconds from the send to the answer's arrival; negative when the
    // send failed or no answer came within the trip timeout.
    virtual double Trip() = 0;
};

// Through services to a peer that serves the unit on ports whose names hold
// ":11-<unit>-in" and ":11-<unit>-out" (the simulator program); null when
// those ports are missing or do not open. The services must outlive the route.
std::unique_ptr<TripRoute> ServicesRoute(midi::MidiServices& services, int32_t unit,
                                         std::chrono::milliseconds tripTimeout);
// The same with plain RtMidi objects of api; null when they cannot be made.
std::unique_ptr<TripRoute> RtMidiRoute(RtMidi::Api api, int32_t unit, std::chrono::milliseconds tripTimeout);

// Mean microseconds per round trip through the threaded sim backend.
double SendReceiveSimUs(int trips);
// Mean microseconds of `trips` trips through services to PolledUnit (see
// ServicesRoute); negative when none arrived.
double SendReceiveUs(midi::MidiServices& services, int trips, int* lost,
                     std::chrono::milliseconds tripTimeout);
// Through the JACK backend; the server must run and the simulator serve the unit.
double SendReceiveJackUs(int trips, int* lost);
// The same round trip with plain RtMidi objects of api.
double RtMidiRoundTripUs(RtMidi::Api api, int trips, int* lost, std::chrono::milliseconds tripTimeout);
double RtMidiJackRoundTripUs(int trips, int* lost);

}  // namespace benchmidi
