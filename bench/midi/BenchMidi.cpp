// bench_midi: figures of the MIDI layer and the device module.
//   send_receive_sim_us        one unit message and its answer through the sim backend
//   send_receive_jack_us       the same through the JACK backend to the simulator
//                              program on a private server (dummy driver, period 256)
//   rtmidi_jack_roundtrip_us   the same with plain RtMidi UNIX_JACK objects, as the
//                              reference measured in the same run
//   poll_tick_256_units_us     one Running tick of the device module polling 256 units
//   poll_tick_256_units_jack_us  the same on the JACK backend (256 units of the
//                              simulator program on 8 port pairs)
//   poll_gap_mean_ms           mean gap between two polls of a silent unit under
//                              the real 100 ms timer
//   send_receive_alsa_us,      the same on the ALSA sequencer, with its own line
//   rtmidi_alsa_roundtrip_us   "midi_alsa: ..." (inside the VM of tools/vm/run-in-vm;
//                              medians of trips taken in turns, see AlsaRoundTrip.h)
//   midi_long: ...             a 16000-byte message each way through the device
//                              module on JACK against bare RtMidi on the same
//                              server, and the 64 KiB times (LongMessages.h); the
//                              same on ALSA as "midi_long_alsa: ..." inside the VM
// The last line carries every other figure and ratio = jack / rtmidi.
// `bench_midi alsa` takes the ALSA figures only.
#include <cstdio>
#include <cstring>

#include "AlsaRoundTrip.h"
#include "JackTestServer.h"
#include "LongMessages.h"
#include "PollTick.h"
#include "RoundTrip.h"

int main(int argc, char** argv) {
    const int simTrips = 5000, jackTrips = 300, alsaTrips = 1000, longTrips = 40,
              alsaLongTrips = 10;
    if (argc > 1 && std::strcmp(argv[1], "alsa") == 0)
        return benchmidi::ReportAlsaRoundTrips(alsaTrips) &&
                       benchmidi::ReportAlsaLongMessages(alsaLongTrips)
                   ? 0
                   : 1;
    double poll = PollTick256UnitsUs();
    std::printf("poll_tick_256_units_us=%.2f\n", poll);
    double sim = benchmidi::SendReceiveSimUs(simTrips);
    std::printf("send_receive_sim_us=%.2f (%d round trips)\n", sim, simTrips);

    double jack = -1, rtmidi = -1, pollJack = -1;
    bool jackLong = false;
    {
        miditest::JackTestServer server("korvo-bench-midi");
        miditest::SimulatorProcess simulator("11:1234567");
        if (!server.Ready() || !simulator.Ready()) {
            std::fprintf(stderr, "bench_midi: private JACK server or simulator did not start\n");
        } else {
            int lostJack = 0, lostRt = 0;
            jack = benchmidi::SendReceiveJackUs(jackTrips, &lostJack);
            std::printf("send_receive_jack_us=%.2f (%d round trips, %d lost)\n", jack, jackTrips, lostJack);
            rtmidi = benchmidi::RtMidiJackRoundTripUs(jackTrips, &lostRt);
            std::printf("rtmidi_jack_roundtrip_us=%.2f (%d round trips, %d lost)\n", rtmidi, jackTrips, lostRt);
            jackLong =
                benchmidi::ReportLongMessages(RtMidi::UNIX_JACK, "jack", "midi_long", longTrips);
            simulator.Stop();
            pollJack = PollTick256UnitsJackUs();
            std::printf("poll_tick_256_units_jack_us=%.2f\n", pollJack);
        }
    }
    double gap = PollGapMeanMs();
    std::printf("poll_gap_mean_ms=%.2f\n", gap);
    bool alsa = benchmidi::ReportAlsaRoundTrips(alsaTrips) &&
                benchmidi::ReportAlsaLongMessages(alsaLongTrips);
    double ratio = jack > 0 && rtmidi > 0 ? jack / rtmidi : -1;
    std::printf("midi: poll_tick_256_units_us=%.2f send_receive_sim_us=%.2f send_receive_jack_us=%.2f "
                "rtmidi_jack_roundtrip_us=%.2f ratio=%.3f poll_tick_256_units_jack_us=%.2f poll_gap_mean_ms=%.2f\n",
                poll, sim, jack, rtmidi, ratio, pollJack, gap);
    return alsa && jackLong && jack > 0 && rtmidi > 0 && sim > 0 && poll > 0 && pollJack > 0 &&
                   gap > 0
               ? 0
               : 1;
}
