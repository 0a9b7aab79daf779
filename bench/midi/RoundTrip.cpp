#include "RoundTrip.h"

#include <rtmidi/RtMidi.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "JackServices.h"
#include "SimServices.h"
#include "UnitSimulator.h"

namespace benchmidi {

namespace {

using Clock = std::chrono::steady_clock;
const std::vector<uint8_t> Poll = midi::UnitSimulator::Message(0x11, 1234567, 0x10, 0x01);

// Counts returned input buffers; the bench thread waits on it.
struct Arrivals {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<midi::MidiHeader*> returned;
    int done = 0;

    static void Callback(midi::MidiHandle, unsigned code, uintptr_t instance, uintptr_t param1, uintptr_t) {
        auto* self = reinterpret_cast<Arrivals*>(instance);
        std::lock_guard<std::mutex> guard(self->lock);
        if (code == midi::MIM_LONGDATA) self->returned.push_back(reinterpret_cast<midi::MidiHeader*>(param1));
        if (code == midi::MOM_DONE) ++self->done;
        self->changed.notify_all();
    }
};

// One open input (8 buffers, each re-queued after use) and output on `services`.
double Measure(midi::MidiServices& services, unsigned inId, unsigned outId, int trips, int* lost,
               std::chrono::milliseconds tripTimeout) {
    Arrivals arrivals;
    midi::MidiHandle in = 0, out = 0;
    if (services.InOpen(&in, inId, Arrivals::Callback, reinterpret_cast<uintptr_t>(&arrivals)) != 0) return -1;
    if (services.OutOpen(&out, outId, Arrivals::Callback, reinterpret_cast<uintptr_t>(&arrivals)) != 0) return -1;
    std::vector<std::vector<uint8_t>> data(8, std::vector<uint8_t>(1024));
    std::vector<midi::MidiHeader> headers(8);
    for (size_t i = 0; i < headers.size(); ++i) {
        headers[i].data = data[i].data();
        headers[i].bufferLength = 1024;
        services.InPrepareHeader(in, &headers[i]);
        services.InAddBuffer(in, &headers[i]);
    }
    services.InStart(in);
    std::vector<uint8_t> message = Poll;
    midi::MidiHeader request{};
    request.data = message.data();
    request.bufferLength = uint32_t(message.size());
    services.OutPrepareHeader(out, &request);

    double total = 0;
    int counted = 0, missing = 0;
    for (int trip = 0; trip < trips; ++trip) {
        {
            std::unique_lock<std::mutex> guard(arrivals.lock);
            arrivals.changed.wait_for(guard, tripTimeout, [&] { return arrivals.done == trip; });
            arrivals.done = trip;  // a lost done notice does not stall the next trips
            for (auto* h : arrivals.returned) services.InAddBuffer(in, h);
            arrivals.returned.clear();
        }
        auto start = Clock::now();
        if (services.OutLongMsg(out, &request) != 0) {
            ++missing;
            continue;
        }
        std::unique_lock<std::mutex> guard(arrivals.lock);
        if (arrivals.changed.wait_for(guard, tripTimeout, [&] { return !arrivals.returned.empty(); })) {
            total += std::chrono::duration<double, std::micro>(Clock::now() - start).count();
            ++counted;
        } else {
            ++missing;
        }
    }
    {
        std::unique_lock<std::mutex> guard(arrivals.lock);
        arrivals.changed.wait_for(guard, tripTimeout, [&] { return arrivals.done >= trips; });
    }
    services.InReset(in);
    services.InClose(in);
    services.OutClose(out);
    if (lost) *lost = missing;
    return counted ? total / counted : -1;
}

// The port whose name holds part (backends put client names or numbers around it).
template <typename List>
int FindPort(const List& names, const typename List::value_type& part) {
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i].find(part) != List::value_type::npos) return int(i);
    return -1;
}

}  // namespace

double SendReceiveSimUs(int trips) {
    midi::SimUnit unit;
    unit.type = 0x11;
    unit.id = 1234567;
    midi::SimServices sim(midi::SimLayoutForUnits({unit}));
    return Measure(sim, 0, 0, trips, nullptr, DefaultTripTimeout);
}

double SendReceiveUs(midi::MidiServices& services, int trips, int* lost,
                     std::chrono::milliseconds tripTimeout) {
    std::vector<std::wstring> ins, outs;
    std::wstring name;
    for (unsigned i = 0; services.InGetDevCaps(i, &name) == 0; ++i) ins.push_back(name);
    for (unsigned i = 0; services.OutGetDevCaps(i, &name) == 0; ++i) outs.push_back(name);
    int in = FindPort(ins, std::wstring(L":11-1234567-out"));
    int out = FindPort(outs, std::wstring(L":11-1234567-in"));
    if (in < 0 || out < 0) return -1;
    return Measure(services, unsigned(in), unsigned(out), trips, lost, tripTimeout);
}

double SendReceiveJackUs(int trips, int* lost) {
    auto jack = midi::JackServices::Create();
    if (!jack) return -1;
    return SendReceiveUs(*jack, trips, lost, DefaultTripTimeout);
}

double RtMidiJackRoundTripUs(int trips, int* lost) {
    return RtMidiRoundTripUs(RtMidi::UNIX_JACK, trips, lost, DefaultTripTimeout);
}

double RtMidiRoundTripUs(RtMidi::Api api, int trips, int* lost, std::chrono::milliseconds tripTimeout) {
    struct Inbox {
        std::mutex lock;
        std::condition_variable changed;
        int count = 0;
    } inbox;
    try {
        RtMidiIn in(api, "bench-rtmidi-in");
        RtMidiOut out(api, "bench-rtmidi-out");
        in.ignoreTypes(false, true, true);
        std::vector<std::string> ins, outs;
        for (unsigned i = 0; i < in.getPortCount(); ++i) ins.push_back(in.getPortName(i));
        for (unsigned i = 0; i < out.getPortCount(); ++i) outs.push_back(out.getPortName(i));
        int inPort = FindPort(ins, std::string(":11-1234567-out"));
        int outPort = FindPort(outs, std::string(":11-1234567-in"));
        if (inPort < 0 || outPort < 0) return -1;
        in.setCallback(
            [](double, std::vector<unsigned char>* message, void* data) {
                auto* box = static_cast<Inbox*>(data);
                if (!message || message->empty() || (*message)[0] != 0xF0) return;
                std::lock_guard<std::mutex> guard(box->lock);
                ++box->count;
                box->changed.notify_all();
            },
            &inbox);
        in.openPort(unsigned(inPort), "in");
        out.openPort(unsigned(outPort), "out");
        double total = 0;
        int counted = 0, missing = 0;
        for (int trip = 0; trip < trips; ++trip) {
            int before;
            {
                std::lock_guard<std::mutex> guard(inbox.lock);
                before = inbox.count;
            }
            auto start = Clock::now();
            out.sendMessage(Poll.data(), Poll.size());
            std::unique_lock<std::mutex> guard(inbox.lock);
            if (inbox.changed.wait_for(guard, tripTimeout, [&] { return inbox.count > before; })) {
                total += std::chrono::duration<double, std::micro>(Clock::now() - start).count();
                ++counted;
            } else {
                ++missing;
            }
        }
        in.closePort();
        out.closePort();
        if (lost) *lost = missing;
        return counted ? total / counted : -1;
    } catch (const RtMidiError& e) {
        return -1;
    }
}

}  // namespace benchmidi
