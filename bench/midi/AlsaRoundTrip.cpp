#include "AlsaRoundTrip.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "AlsaPeers.h"
#include "AlsaServices.h"
#include "RoundTrip.h"

namespace benchmidi {

namespace {

// The guest is emulated: a trip takes milliseconds there.
constexpr std::chrono::milliseconds GuestTripTimeout{500};

}  // namespace

bool ReportAlsaRoundTrips(int trips) {
    if (access("/dev/snd/seq", R_OK | W_OK) != 0) {
        std::printf(
            "midi_alsa: no ALSA sequencer here (run bench_midi through tools/vm/run-in-vm)\n");
        return true;
    }
    alsatest::AlsaSimulator simulator("11:1234567", "korvo-bench-alsa-unit");
    if (!simulator.Ready()) {
        std::fprintf(stderr, "bench_midi: the simulator program did not start on ALSA\n");
        return false;
    }
    int lostBackend = 0, lostRt = 0;
    auto alsa = midi::AlsaServices::Create();
    double backend = alsa ? SendReceiveUs(*alsa, trips, &lostBackend, GuestTripTimeout) : -1;
    double rtmidi = RtMidiRoundTripUs(RtMidi::LINUX_ALSA, trips, &lostRt, GuestTripTimeout);
    std::printf("send_receive_alsa_us=%.2f (%d round trips, %d lost)\n", backend, trips,
                lostBackend);
    std::printf("rtmidi_alsa_roundtrip_us=%.2f (%d round trips, %d lost)\n", rtmidi, trips, lostRt);
    std::printf("midi_alsa: send_receive_alsa_us=%.2f rtmidi_alsa_roundtrip_us=%.2f ratio=%.3f\n",
                backend, rtmidi, backend > 0 && rtmidi > 0 ? backend / rtmidi : -1.0);
    return backend > 0 && rtmidi > 0;
}

}  // namespace benchmidi
