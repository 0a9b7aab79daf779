// Round trips of one unit message on the ALSA sequencer (inside the VM of
// tools/vm/run-in-vm): through the ALSA backend and through plain RtMidi
// LINUX_ALSA objects, both to the simulator program playing unit 11:1234567.
#pragma once

namespace benchmidi {

// Prints "midi_alsa: send_receive_alsa_us=... rtmidi_alsa_roundtrip_us=...
// ratio=..." (ratio = backend / RtMidi), or why there is no figure. Returns
// false when the sequencer is there but a figure could not be taken.
bool ReportAlsaRoundTrips(int trips);

}  // namespace benchmidi
