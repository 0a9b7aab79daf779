#include "AlsaRoundTrip.h"

#include <rtmidi/RtMidi.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "AlsaPeers.h"
#include "AlsaServices.h"
#include "UnitSimulator.h"

namespace benchmidi {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto TripTimeout = std::chrono::milliseconds(500);
const std::vector<uint8_t> Poll = midi::UnitSimulator::Message(0x11, 1234567, 0x10, 0x01);

struct Inbox {
    std::mutex lock;
    std::condition_variable changed;
    int answers = 0;
    int done = 0;
    std::vector<midi::MidiHeader*> returned;

    static void Callback(midi::MidiHandle, unsigned code, uintptr_t instance, uintptr_t param1,
                         uintptr_t) {
        auto* self = reinterpret_cast<Inbox*>(instance);
        std::lock_guard<std::mutex> guard(self->lock);
        if (code == midi::MIM_LONGDATA) {
            self->returned.push_back(reinterpret_cast<midi::MidiHeader*>(param1));
            ++self->answers;
        }
        if (code == midi::MOM_DONE) ++self->done;
        self->changed.notify_all();
    }
    // Waits for one more answer than `before`; the microseconds since `start`, or -1.
    double Await(int before, Clock::time_point start) {
        std::unique_lock<std::mutex> guard(lock);
        if (!changed.wait_for(guard, TripTimeout, [&] { return answers > before; })) return -1;
        return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    }
    int Answers() {
        std::lock_guard<std::mutex> guard(lock);
        return answers;
    }
};

template <typename Names>
int FindPort(const Names& names, const typename Names::value_type& part) {
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i].find(part) != Names::value_type::npos) return int(i);
    return -1;
}

double BackendUs(int trips, int* lost) {
    auto alsa = midi::AlsaServices::Create();
    if (!alsa) return -1;
    std::vector<std::wstring> ins, outs;
    std::wstring name;
    for (unsigned i = 0; alsa->InGetDevCaps(i, &name) == 0; ++i) ins.push_back(name);
    for (unsigned i = 0; alsa->OutGetDevCaps(i, &name) == 0; ++i) outs.push_back(name);
    int inId = FindPort(ins, std::wstring(L":11-1234567-out")),
        outId = FindPort(outs, std::wstring(L":11-1234567-in"));
    if (inId < 0 || outId < 0) return -1;
    Inbox inbox;
    midi::MidiHandle in = 0, out = 0;
    auto instance = reinterpret_cast<uintptr_t>(&inbox);
    if (alsa->InOpen(&in, unsigned(inId), Inbox::Callback, instance) != 0) return -1;
    if (alsa->OutOpen(&out, unsigned(outId), Inbox::Callback, instance) != 0) return -1;
    std::vector<std::vector<uint8_t>> data(8, std::vector<uint8_t>(1024));
    std::vector<midi::MidiHeader> headers(8);
    for (size_t i = 0; i < headers.size(); ++i) {
        headers[i].data = data[i].data();
        headers[i].bufferLength = 1024;
        alsa->InPrepareHeader(in, &headers[i]);
        alsa->InAddBuffer(in, &headers[i]);
    }
    alsa->InStart(in);
    std::vector<uint8_t> message = Poll;
    midi::MidiHeader request{};
    request.data = message.data();
    request.bufferLength = uint32_t(message.size());
    alsa->OutPrepareHeader(out, &request);
    double total = 0;
    int counted = 0, missing = 0;
    for (int trip = 0; trip < trips; ++trip) {
        {
            std::unique_lock<std::mutex> guard(inbox.lock);
            inbox.changed.wait_for(guard, TripTimeout, [&] { return inbox.done >= trip; });
            inbox.done = trip;
            for (auto* h : inbox.returned) alsa->InAddBuffer(in, h);
            inbox.returned.clear();
        }
        int before = inbox.Answers();
        auto start = Clock::now();
        if (alsa->OutLongMsg(out, &request) != 0) {
            ++missing;
            continue;
        }
        double us = inbox.Await(before, start);
        if (us < 0) {
            ++missing;
        } else {
            total += us;
            ++counted;
        }
    }
    {
        std::unique_lock<std::mutex> guard(inbox.lock);
        inbox.changed.wait_for(guard, TripTimeout, [&] { return inbox.done >= trips; });
    }
    alsa->InReset(in);
    alsa->InClose(in);
    alsa->OutClose(out);
    *lost = missing;
    return counted ? total / counted : -1;
}

double RtMidiUs(int trips, int* lost) {
    struct Box {
        std::mutex lock;
        std::condition_variable changed;
        int answers = 0;
    } box;
    try {
        RtMidiIn in(RtMidi::LINUX_ALSA, "bench-rtmidi-in");
        RtMidiOut out(RtMidi::LINUX_ALSA, "bench-rtmidi-out");
        in.ignoreTypes(false, true, true);
        std::vector<std::string> ins, outs;
        for (unsigned i = 0; i < in.getPortCount(); ++i) ins.push_back(in.getPortName(i));
        for (unsigned i = 0; i < out.getPortCount(); ++i) outs.push_back(out.getPortName(i));
        int inPort = FindPort(ins, std::string(":11-1234567-out")),
            outPort = FindPort(outs, std::string(":11-1234567-in"));
        if (inPort < 0 || outPort < 0) return -1;
        in.setCallback(
            [](double, std::vector<unsigned char>* message, void* data) {
                auto* b = static_cast<Box*>(data);
                if (!message || message->empty() || (*message)[0] != 0xF0) return;
                std::lock_guard<std::mutex> guard(b->lock);
                ++b->answers;
                b->changed.notify_all();
            },
            &box);
        in.openPort(unsigned(inPort), "in");
        out.openPort(unsigned(outPort), "out");
        double total = 0;
        int counted = 0, missing = 0;
        for (int trip = 0; trip < trips; ++trip) {
            int before;
            {
                std::lock_guard<std::mutex> guard(box.lock);
                before = box.answers;
            }
            auto start = Clock::now();
            out.sendMessage(Poll.data(), Poll.size());
            std::unique_lock<std::mutex> guard(box.lock);
            if (box.changed.wait_for(guard, TripTimeout, [&] { return box.answers > before; })) {
                total += std::chrono::duration<double, std::micro>(Clock::now() - start).count();
                ++counted;
            } else {
                ++missing;
            }
        }
        *lost = missing;
        return counted ? total / counted : -1;
    } catch (const RtMidiError&) {
        return -1;
    }
}

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
    double backend = BackendUs(trips, &lostBackend);
    double rtmidi = RtMidiUs(trips, &lostRt);
    std::printf("send_receive_alsa_us=%.2f (%d round trips, %d lost)\n", backend, trips,
                lostBackend);
    std::printf("rtmidi_alsa_roundtrip_us=%.2f (%d round trips, %d lost)\n", rtmidi, trips, lostRt);
    std::printf("midi_alsa: send_receive_alsa_us=%.2f rtmidi_alsa_roundtrip_us=%.2f ratio=%.3f\n",
                backend, rtmidi, backend > 0 && rtmidi > 0 ? backend / rtmidi : -1.0);
    return backend > 0 && rtmidi > 0;
}

}  // namespace benchmidi
