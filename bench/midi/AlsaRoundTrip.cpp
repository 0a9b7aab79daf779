#include "AlsaRoundTrip.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "AlsaPeers.h"
#include "AlsaServices.h"
#include "RoundTrip.h"

namespace benchmidi {

namespace {

// The guest is emulated: a trip takes milliseconds there.
constexpr std::chrono::milliseconds GuestTripTimeout{500};
// Trips of each route before the measured ones, while the emulator still
// translates the code on their path.
constexpr int WarmUpTrips = 50;
// The unit of the RtMidi route, beside PolledUnit of the backend's.
constexpr int32_t OtherUnit = 7654321;

struct Samples {
    std::vector<double> us;
    int lost = 0;

    void Add(double trip) {
        if (trip < 0)
            ++lost;
        else
            us.push_back(trip);
    }
    double Median() {
        if (us.empty()) return -1;
        auto middle = us.begin() + std::ptrdiff_t(us.size() / 2);
        std::nth_element(us.begin(), middle, us.end());
        return *middle;
    }
};

// In the VM guest, keeps this thread and everything started from it (RtMidi's
// and the backend's threads, the simulator program) on one guest CPU. Then a
// trip costs the work on its path: a wake-up across the guest's two emulated
// CPUs waits until the host schedules the other one, which swings the figures
// by more than the difference being measured. Returns the CPU, or -1.
int KeepToOneGuestCpu() {
    const char* inVm = std::getenv("KORVO_IN_VM");
    if (!inVm || std::strcmp(inVm, "1") != 0) return -1;
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof allowed, &allowed) != 0) return -1;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (!CPU_ISSET(cpu, &allowed)) continue;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        return sched_setaffinity(0, sizeof one, &one) == 0 ? cpu : -1;
    }
    return -1;
}

}  // namespace

bool ReportAlsaRoundTrips(int trips) {
    if (access("/dev/snd/seq", R_OK | W_OK) != 0) {
        std::printf(
            "midi_alsa: no ALSA sequencer here (run bench_midi through tools/vm/run-in-vm)\n");
        return true;
    }
    int cpu = KeepToOneGuestCpu();
    if (cpu >= 0) std::printf("midi_alsa: the ALSA trips run on guest CPU %d only\n", cpu);
    // One unit per route: an answer reaches every input connected to its unit.
    alsatest::AlsaSimulator simulator("11:1234567,11:7654321", "korvo-bench-alsa-unit");
    if (!simulator.Ready()) {
        std::fprintf(stderr, "bench_midi: the simulator program did not start on ALSA\n");
        return false;
    }
    auto alsa = midi::AlsaServices::Create();
    auto backend = alsa ? ServicesRoute(*alsa, PolledUnit, GuestTripTimeout) : nullptr;
    auto rtmidi = RtMidiRoute(RtMidi::LINUX_ALSA, OtherUnit, GuestTripTimeout);
    if (!backend || !rtmidi) {
        std::fprintf(stderr, "bench_midi: the ALSA routes to the simulator did not open\n");
        return false;
    }
    for (int trip = 0; trip < WarmUpTrips; ++trip) {
        backend->Trip();
        rtmidi->Trip();
    }
    Samples ours, theirs;
    for (int trip = 0; trip < trips; ++trip) {
        // Each goes first every other time, so neither always follows the other.
        if (trip % 2 == 0) {
            ours.Add(backend->Trip());
            theirs.Add(rtmidi->Trip());
        } else {
            theirs.Add(rtmidi->Trip());
            ours.Add(backend->Trip());
        }
    }
    double backendUs = ours.Median(), rtmidiUs = theirs.Median();
    std::printf("send_receive_alsa_us=%.2f (median of %d round trips, %d lost)\n", backendUs, trips, ours.lost);
    std::printf("rtmidi_alsa_roundtrip_us=%.2f (median of %d round trips, %d lost)\n", rtmidiUs, trips,
                theirs.lost);
    std::printf("midi_alsa: send_receive_alsa_us=%.2f rtmidi_alsa_roundtrip_us=%.2f ratio=%.3f\n", backendUs,
                rtmidiUs, backendUs > 0 && rtmidiUs > 0 ? backendUs / rtmidiUs : -1.0);
    return backendUs > 0 && rtmidiUs > 0;
}

}  // namespace benchmidi
