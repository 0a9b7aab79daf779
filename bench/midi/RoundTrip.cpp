#include "RoundTrip.h"

#include <rtmidi/RtMidi.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "JackServices.h"
#include "SimServices.h"
#include "UnitSimulator.h"

namespace benchmidi {

namespace {

using Clock = std::chrono::steady_clock;
// The poll of a 0x11 unit.
std::vector<uint8_t> Poll(int32_t unit) { return midi::UnitSimulator::Message(0x11, unit, 0x10, 0x01); }
// The part of a port name that tells the unit's input or output (the simulator
// program's names).
template <typename Text>
Text PortPart(int32_t unit, const char* direction) {
    std::string part = ":11-" + std::to_string(unit) + "-" + direction;
    return Text(part.begin(), part.end());
}
// Input buffers queued on the services' input, each re-queued after use.
constexpr size_t InputBuffers = 8;
constexpr uint32_t InputBufferBytes = 1024;

double Micros(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// The port whose name holds part (backends put client names or numbers around it).
template <typename List>
int FindPort(const List& names, const typename List::value_type& part) {
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i].find(part) != List::value_type::npos) return int(i);
    return -1;
}

// Counts returned input buffers and done notices; the bench thread waits on it.
// Each has its own condition, so that a done notice coming while the bench
// thread waits for the answer does not wake it for nothing.
struct Arrivals {
    std::mutex lock;
    std::condition_variable answered;
    std::condition_variable finished;
    std::vector<midi::MidiHeader*> returned;
    int done = 0;

    static void Callback(midi::MidiHandle, unsigned code, uintptr_t instance, uintptr_t param1, uintptr_t) {
        auto* self = reinterpret_cast<Arrivals*>(instance);
        std::lock_guard<std::mutex> guard(self->lock);
        if (code == midi::MIM_LONGDATA) {
            self->returned.push_back(reinterpret_cast<midi::MidiHeader*>(param1));
            self->answered.notify_all();
        } else if (code == midi::MOM_DONE) {
            ++self->done;
            self->finished.notify_all();
        }
    }
};

// One open input (its buffers re-queued after each trip) and output on the services.
class ServicesTrips : public TripRoute {
  public:
    ServicesTrips(midi::MidiServices& services, int32_t unit, std::chrono::milliseconds tripTimeout)
        : services(services), timeout(tripTimeout), data(InputBuffers, std::vector<uint8_t>(InputBufferBytes)),
          headers(InputBuffers), message(Poll(unit)) {}

    bool Open(unsigned inId, unsigned outId) {
        auto instance = reinterpret_cast<uintptr_t>(&arrivals);
        if (services.InOpen(&in, inId, Arrivals::Callback, instance) != 0) return false;
        if (services.OutOpen(&out, outId, Arrivals::Callback, instance) != 0) return false;
        for (size_t i = 0; i < headers.size(); ++i) {
            headers[i].data = data[i].data();
            headers[i].bufferLength = InputBufferBytes;
            services.InPrepareHeader(in, &headers[i]);
            services.InAddBuffer(in, &headers[i]);
        }
        services.InStart(in);
        request.data = message.data();
        request.bufferLength = uint32_t(message.size());
        return services.OutPrepareHeader(out, &request) == 0;
    }

    ~ServicesTrips() override {
        {
            std::unique_lock<std::mutex> guard(arrivals.lock);
            arrivals.finished.wait_for(guard, timeout, [&] { return arrivals.done >= sent; });
        }
        if (in != 0) {
            services.InReset(in);
            services.InClose(in);
        }
        if (out != 0) services.OutClose(out);
    }

    double Trip() override {
        auto start = Clock::now();
        if (services.OutLongMsg(out, &request) != 0) return -1;
        ++sent;
        std::unique_lock<std::mutex> guard(arrivals.lock);
        bool answered = arrivals.answered.wait_for(guard, timeout, [&] { return !arrivals.returned.empty(); });
        double us = Micros(start);
        // This trip's done notice and buffers, outside the timed part, so that
        // nothing of it is left to run during the next trip of another route.
        arrivals.finished.wait_for(guard, timeout, [&] { return arrivals.done >= sent; });
        arrivals.done = sent;  // a lost done notice does not stall the next trips
        for (auto* h : arrivals.returned) services.InAddBuffer(in, h);
        arrivals.returned.clear();
        return answered ? us : -1;
    }

  private:
    midi::MidiServices& services;
    std::chrono::milliseconds timeout;
    Arrivals arrivals;
    midi::MidiHandle in = 0, out = 0;
    std::vector<std::vector<uint8_t>> data;
    std::vector<midi::MidiHeader> headers;
    std::vector<uint8_t> message;
    midi::MidiHeader request{};
    int sent = 0;
};

// Plain RtMidi objects, one per direction, counting the sysex that arrives.
class RtMidiTrips : public TripRoute {
  public:
    RtMidiTrips(RtMidi::Api api, int32_t unit, std::chrono::milliseconds tripTimeout)
        : unit(unit), message(Poll(unit)), timeout(tripTimeout), in(api, "bench-rtmidi-in"),
          out(api, "bench-rtmidi-out") {}

    bool Open() {
        in.ignoreTypes(false, true, true);
        std::vector<std::string> ins, outs;
        for (unsigned i = 0; i < in.getPortCount(); ++i) ins.push_back(in.getPortName(i));
        for (unsigned i = 0; i < out.getPortCount(); ++i) outs.push_back(out.getPortName(i));
        int inPort = FindPort(ins, PortPart<std::string>(unit, "out"));
        int outPort = FindPort(outs, PortPart<std::string>(unit, "in"));
        if (inPort < 0 || outPort < 0) return false;
        in.setCallback(
            [](double, std::vector<unsigned char>* message, void* data) {
                auto* self = static_cast<RtMidiTrips*>(data);
                if (!message || message->empty() || (*message)[0] != 0xF0) return;
                std::lock_guard<std::mutex> guard(self->lock);
                ++self->count;
                self->changed.notify_all();
            },
            this);
        in.openPort(unsigned(inPort), "in");
        out.openPort(unsigned(outPort), "out");
        return true;
    }

    ~RtMidiTrips() override {
        in.closePort();
        out.closePort();
    }

    double Trip() override {
        int before;
        {
            std::lock_guard<std::mutex> guard(lock);
            before = count;
        }
        auto start = Clock::now();
        try {
            out.sendMessage(message.data(), message.size());
        } catch (const RtMidiError&) {
            return -1;
        }
        std::unique_lock<std::mutex> guard(lock);
        if (!changed.wait_for(guard, timeout, [&] { return count > before; })) return -1;
        return Micros(start);
    }

  private:
    int32_t unit;
    std::vector<uint8_t> message;
    // Declared before the RtMidi objects: their input thread uses them until closed.
    std::chrono::milliseconds timeout;
    std::mutex lock;
    std::condition_variable changed;
    int count = 0;
    RtMidiIn in;
    RtMidiOut out;
};

double MeanTripUs(TripRoute* route, int trips, int* lost) {
    if (!route) return -1;
    double total = 0;
    int counted = 0, missing = 0;
    for (int trip = 0; trip < trips; ++trip) {
        double us = route->Trip();
        if (us < 0) {
            ++missing;
        } else {
            total += us;
            ++counted;
        }
    }
    if (lost) *lost = missing;
    return counted ? total / counted : -1;
}

std::unique_ptr<TripRoute> OpenServicesRoute(midi::MidiServices& services, int32_t unit, unsigned inId,
                                             unsigned outId, std::chrono::milliseconds tripTimeout) {
    auto route = std::make_unique<ServicesTrips>(services, unit, tripTimeout);
    if (!route->Open(inId, outId)) return nullptr;
    return route;
}

}  // namespace

std::unique_ptr<TripRoute> ServicesRoute(midi::MidiServices& services, int32_t unit,
                                         std::chrono::milliseconds tripTimeout) {
    std::vector<std::wstring> ins, outs;
    std::wstring name;
    for (unsigned i = 0; services.InGetDevCaps(i, &name) == 0; ++i) ins.push_back(name);
    for (unsigned i = 0; services.OutGetDevCaps(i, &name) == 0; ++i) outs.push_back(name);
    int in = FindPort(ins, PortPart<std::wstring>(unit, "out"));
    int out = FindPort(outs, PortPart<std::wstring>(unit, "in"));
    if (in < 0 || out < 0) return nullptr;
    return OpenServicesRoute(services, unit, unsigned(in), unsigned(out), tripTimeout);
}

std::unique_ptr<TripRoute> RtMidiRoute(RtMidi::Api api, int32_t unit, std::chrono::milliseconds tripTimeout) {
    try {
        auto route = std::make_unique<RtMidiTrips>(api, unit, tripTimeout);
        if (!route->Open()) return nullptr;
        return route;
    } catch (const RtMidiError&) {
        return nullptr;
    }
}

double SendReceiveSimUs(int trips) {
    midi::SimUnit unit;
    unit.type = 0x11;
    unit.id = PolledUnit;
    midi::SimServices sim(midi::SimLayoutForUnits({unit}));
    return MeanTripUs(OpenServicesRoute(sim, unit.id, 0, 0, DefaultTripTimeout).get(), trips, nullptr);
}

double SendReceiveUs(midi::MidiServices& services, int trips, int* lost,
                     std::chrono::milliseconds tripTimeout) {
    return MeanTripUs(ServicesRoute(services, PolledUnit, tripTimeout).get(), trips, lost);
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
    return MeanTripUs(RtMidiRoute(api, PolledUnit, tripTimeout).get(), trips, lost);
}

}  // namespace benchmidi
