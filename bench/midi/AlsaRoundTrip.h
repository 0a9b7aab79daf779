// Round trips of one unit message on the ALSA sequencer (inside the VM of
// tools/vm/run-in-vm): through the ALSA backend and through plain RtMidi
// LINUX_ALSA objects, each to its own unit of the simulator program.
//
// Under emulation one trip varies two-fold from run to run and a guest's
// first trips pay for translating the code they run, so the two routes stay
// open side by side, warm up first and then take turns trip by trip; the
// figures are the medians of their trips. Inside the VM (KORVO_IN_VM=1) the
// trips keep to one guest CPU.
#pragma once

namespace benchmidi {

// Prints "midi_alsa: send_receive_alsa_us=... rtmidi_alsa_roundtrip_us=...
// ratio=..." (median microseconds per trip of each; ratio = backend / RtMidi),
// or why there is no figure. Returns false when the sequencer is there but a
// figure could not be taken.
bool ReportAlsaRoundTrips(int trips);

}  // namespace benchmidi
