// Long messages each way, through the device module and through bare RtMidi
// objects on the same server, in the same run: the share of bench_midi that
// prints "midi_long: ..." (JACK) and "midi_long_alsa: ..." (ALSA, inside the VM).
//
// The unit is 11:1234567 of the simulator program. Out: a 16000-byte parameter
// write (command 30, the payload counting from 00) from "Send", or from
// RtMidiOut, until its short answer (31) arrives on "Receive" or at RtMidiIn.
// In: a dump request for 16000 bytes until the whole dump arrives. The module
// runs as the program runs it, on the GLib loop with a main window, and a trip
// ends when "Receive" delivers the text to a connector linked to it, as it
// would to the page module's. Trips of the two take turns, each going first
// every other round (a trip's time depends on where in the server's period it
// starts, and the one that follows the other always starts at the same place),
// and each one's answers also reach the other's input (both listen to the
// unit's output port): those are let in between trips, outside the timing.
// The 64 KiB trips go through the module only (RtMidi's JACK output carries at
// most 16379 bytes). Figures are medians in milliseconds; negative: none.
#pragma once

#include <rtmidi/RtMidi.h>

namespace benchmidi {

struct LongFigures {
    double moduleOut16 = -1, rtmidiOut16 = -1;
    double moduleIn16 = -1, rtmidiIn16 = -1;
    double moduleOut64 = -1, moduleIn64 = -1;
};

// With the simulator program serving 11:1234567 on `api`'s server or sequencer;
// `backend` is the module's ("jack", "alsa"). `trips` of each kind.
LongFigures MeasureLongMessages(RtMidi::Api api, const char* backend, int trips);

// Measures and prints "<label>: <backend>_16k_out_ms=... rtmidi_16k_out_ms=...
// <backend>_16k_in_ms=... rtmidi_16k_in_ms=... ratio_out=... ratio_in=...
// <backend>_64k_out_ms=... <backend>_64k_in_ms=..." (ratio = module / RtMidi).
// False when a figure of the module could not be taken.
bool ReportLongMessages(RtMidi::Api api, const char* backend, const char* label, int trips);

// The ALSA figures, inside the VM of tools/vm/run-in-vm with the simulator
// program on the sequencer ("midi_long_alsa: ..."), or why there are none.
bool ReportAlsaLongMessages(int trips);

}  // namespace benchmidi
