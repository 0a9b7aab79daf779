#include "LongMessages.h"

#include <glib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "AlsaPeers.h"
#include "PollTick.h"
#include "framework/Connector.h"
#include "framework/Module.h"
#include "modules/midi/TannevaleMidi.h"
#include "modules/midi/services/MidiServices.h"
#include "modules/midi/services/UnitSimulator.h"
#include "platform/EventLoop.h"
#include "platform/Window.h"
#include "support/MainLoopWait.h"

namespace benchmidi {

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr int32_t Unit = 1234567;
constexpr size_t Short = 16000;
constexpr size_t Longest = midi::MaxLongMessage;
// Bounds a trip (a lost message) and discovery; they never judge speed.
constexpr int TripLimitMs = 3000;
constexpr int DiscoveryLimitMs = 15000;
// Trips before the measured ones, of each kind.
constexpr int WarmUpTrips = 2;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values) {
    if (values.empty()) return -1;
    auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

// A 16000-byte (or any length) parameter write to the unit.
Bytes Write(size_t length) {
    Bytes payload(length - 12);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(i & 0x7F);
    return midi::UnitSimulator::Message(0x11, Unit, 0x30, 0x00, payload);
}

Bytes DumpRequest(size_t length) {
    return midi::UnitSimulator::Message(0x11, Unit, midi::UnitSimulator::DumpRequest, 0x00,
                                        midi::UnitSimulator::DumpRequestPayload(length));
}

// The "Send" text of a message built for the unit.
std::wstring SendText(const Bytes& message) {
    static const wchar_t Digits[] = L"0123456789abcdef";
    std::wstring text = L"0012d687";
    for (size_t i = 9; i + 1 < message.size(); ++i) {
        text += Digits[message[i] >> 4];
        text += Digits[message[i] & 0xF];
    }
    return text;
}

bool IsWriteAnswer(const wchar_t* text) {
    return std::wcsncmp(text, L"110012d6873100", 14) == 0;
}
bool IsDump(const wchar_t* text, size_t length) {
    return std::wcsncmp(text, L"110012d6874100", 14) == 0 &&
           std::wcslen(text) == 14 + 2 * (length - 12);
}

using TextCheck = std::function<bool(const wchar_t*)>;

// Stands where the page would: its "Send" and "Receive" linked to the module's.
// "Receive" notes the moment a text that the trip waits for arrives; it reads
// the text in place, so that the figure is the module's and not the copies a
// test panel would make of a 32000-character text.
class Receiver : public KorvoModule {
  public:
    Receiver() {
        send = new KorvoTextConnector(L"Send", nullptr, 0, this);
        connectors.Add(send);
        connectors.Add(
            new KorvoTextConnector(L"Receive", MakeHandler(&Receiver::OnReceive), 0, this));
    }
    void Wire(KorvoModule& module) {
        for (KorvoConnector* mine : connectors) mine->Connect(module.FindConnector(mine->Name()));
    }
    void Send(const std::wstring& text) { send->SetText(text.c_str(), true); }

    TextCheck waitingFor;  // the text that ends the trip
    Clock::time_point arrived{};
    TextCheck seen;  // a text that arrived since the last Expect, for Drain
    bool sawIt = false;

  private:
    void OnReceive(KorvoConnector* connector) {
        const wchar_t* text = static_cast<KorvoTextConnector*>(connector)->Text();
        if (waitingFor && waitingFor(text)) arrived = Clock::now();
        if (seen && seen(text)) sawIt = true;
    }
    KorvoTextConnector* send;
};

// The module on the GLib loop, as the program runs it.
class ModuleRoute {
  public:
    explicit ModuleRoute(const char* backend) {
        setenv("KORVO_MIDI", backend, 1);
        midi::InstallServices(nullptr);
        platform::EventLoop::Install(nullptr);
        if (!mainWindow.CreateToplevel()) return;
        platform::Application::Instance().SetMainWindow(&mainWindow);
        module = new TannevaleMidi;
        receiver.Wire(*module);
        module->Start();
    }
    ~ModuleRoute() {
        EndUnderMainWindow(module, mainWindow);
        korvotest::PumpFor(50);
        midi::InstallServices(nullptr);
    }

    bool Discovered() {
        receiver.seen = [](const wchar_t* text) {
            return std::wcsncmp(text, L"110012d6870001", 14) == 0;
        };
        receiver.sawIt = false;
        return module && korvotest::PumpUntil([&] { return receiver.sawIt; }, DiscoveryLimitMs);
    }

    // Milliseconds from "Send" until a text that `answer` accepts reached
    // "Receive"; negative when none came.
    double Trip(const std::wstring& send, TextCheck answer) {
        receiver.arrived = {};
        receiver.waitingFor = std::move(answer);
        const auto start = Clock::now();
        receiver.Send(send);
        const bool came = korvotest::PumpUntil(
            [&] { return receiver.arrived != Clock::time_point{}; }, TripLimitMs);
        receiver.waitingFor = nullptr;
        return came ? Ms(receiver.arrived - start) : -1;
    }

    // Before the other route's trip: its answer reaches here too, and
    // AwaitExpected lets it in afterwards, outside any timing.
    void Expect(TextCheck answer) {
        receiver.sawIt = false;
        receiver.seen = std::move(answer);
    }
    void AwaitExpected() {
        korvotest::PumpUntil([&] { return receiver.sawIt; }, TripLimitMs);
        receiver.seen = nullptr;
    }

  private:
    platform::Window mainWindow;
    Receiver receiver;
    TannevaleMidi* module = nullptr;
};

// Bare RtMidi objects on the unit's ports.
class RtMidiRoute {
  public:
    explicit RtMidiRoute(RtMidi::Api api) : in(api, "bench-long-in"), out(api, "bench-long-out") {}

    bool Open() {
        in.ignoreTypes(false, true, true);
        auto find = [](auto& rt, const std::string& part) {
            for (unsigned i = 0; i < rt.getPortCount(); ++i)
                if (rt.getPortName(i).find(part) != std::string::npos) return int(i);
            return -1;
        };
        const int inPort = find(in, ":11-1234567-out"), outPort = find(out, ":11-1234567-in");
        if (inPort < 0 || outPort < 0) return false;
        in.setCallback(
            [](double, std::vector<unsigned char>* message, void* data) {
                auto* self = static_cast<RtMidiRoute*>(data);
                std::lock_guard<std::mutex> guard(self->lock);
                if (message && self->waitingFor && self->waitingFor(*message))
                    self->arrived = Clock::now();
                if (message && self->seen && self->seen(*message)) self->sawIt = true;
                self->changed.notify_all();
            },
            this);
        in.openPort(unsigned(inPort), "in");
        out.openPort(unsigned(outPort), "out");
        return true;
    }

    double Trip(const Bytes& send, std::function<bool(const Bytes&)> answer) {
        std::unique_lock<std::mutex> guard(lock);
        arrived = {};
        waitingFor = std::move(answer);
        guard.unlock();
        const auto start = Clock::now();
        try {
            out.sendMessage(&send);
        } catch (const RtMidiError&) {
            return -1;
        }
        guard.lock();
        const bool came = changed.wait_for(guard, std::chrono::milliseconds(TripLimitMs),
                                           [&] { return arrived != Clock::time_point{}; });
        waitingFor = nullptr;
        return came ? Ms(arrived - start) : -1;
    }

    // As ModuleRoute's: the other route's answer, let in outside the timing.
    void Expect(std::function<bool(const Bytes&)> answer) {
        std::lock_guard<std::mutex> guard(lock);
        sawIt = false;
        seen = std::move(answer);
    }
    void AwaitExpected() {
        std::unique_lock<std::mutex> guard(lock);
        changed.wait_for(guard, std::chrono::milliseconds(TripLimitMs), [&] { return sawIt; });
        seen = nullptr;
    }

  private:
    std::mutex lock;
    std::condition_variable changed;
    std::function<bool(const Bytes&)> waitingFor;
    std::function<bool(const Bytes&)> seen;
    bool sawIt = false;
    Clock::time_point arrived{};
    RtMidiIn in;
    RtMidiOut out;
};

}  // namespace

LongFigures MeasureLongMessages(RtMidi::Api api, const char* backend, int trips) {
    LongFigures figures;
    ModuleRoute module(backend);
    if (!module.Discovered()) return figures;
    RtMidiRoute rtmidi(api);
    try {
        if (!rtmidi.Open()) return figures;
    } catch (const RtMidiError&) {
        return figures;
    }

    const Bytes write16 = Write(Short), write64 = Write(Longest);
    const Bytes request16 = DumpRequest(Short), request64 = DumpRequest(Longest);
    auto writeAnswer = [](const Bytes& m) { return m.size() >= 12 && m[9] == 0x31; };
    auto dump16 = [](const Bytes& m) { return m.size() == Short && m[9] == 0x41; };
    // RtMidi's JACK input may hand a message in parts on as they came: its last part.
    auto dump64 = [](const Bytes& m) {
        return !m.empty() && m.back() == 0xF7 && (m.size() == Longest || m.front() != 0xF0);
    };
    auto isDump16 = [](const wchar_t* t) { return IsDump(t, Short); };
    auto isDump64 = [](const wchar_t* t) { return IsDump(t, Longest); };

    std::vector<double> moduleOut, rtmidiOut, moduleIn, rtmidiIn, moduleOut64, moduleIn64;
    for (int trip = -WarmUpTrips; trip < trips; ++trip) {
        auto keep = [trip](std::vector<double>& into, double ms) {
            if (trip >= 0 && ms >= 0) into.push_back(ms);
        };
        // Each route's trip, then the same answer let in at the other route.
        auto moduleTrip = [&](std::vector<double>& into, const Bytes& send, TextCheck answer,
                              std::function<bool(const Bytes&)> theirs) {
            rtmidi.Expect(std::move(theirs));
            keep(into, module.Trip(SendText(send), std::move(answer)));
            rtmidi.AwaitExpected();
        };
        auto rtmidiTrip = [&](std::vector<double>& into, const Bytes& send,
                              std::function<bool(const Bytes&)> answer, TextCheck ours) {
            module.Expect(std::move(ours));
            keep(into, rtmidi.Trip(send, std::move(answer)));
            module.AwaitExpected();
        };
        // Each goes first every other round, so neither always follows the other.
        if (trip % 2 == 0) {
            moduleTrip(moduleOut, write16, IsWriteAnswer, writeAnswer);
            rtmidiTrip(rtmidiOut, write16, writeAnswer, IsWriteAnswer);
            moduleTrip(moduleIn, request16, isDump16, dump16);
            rtmidiTrip(rtmidiIn, request16, dump16, isDump16);
        } else {
            rtmidiTrip(rtmidiOut, write16, writeAnswer, IsWriteAnswer);
            moduleTrip(moduleOut, write16, IsWriteAnswer, writeAnswer);
            rtmidiTrip(rtmidiIn, request16, dump16, isDump16);
            moduleTrip(moduleIn, request16, isDump16, dump16);
        }
        moduleTrip(moduleOut64, write64, IsWriteAnswer, writeAnswer);
        moduleTrip(moduleIn64, request64, isDump64, dump64);
    }
    figures.moduleOut16 = Median(moduleOut);
    figures.rtmidiOut16 = Median(rtmidiOut);
    figures.moduleIn16 = Median(moduleIn);
    figures.rtmidiIn16 = Median(rtmidiIn);
    figures.moduleOut64 = Median(moduleOut64);
    figures.moduleIn64 = Median(moduleIn64);
    return figures;
}

bool ReportLongMessages(RtMidi::Api api, const char* backend, const char* label, int trips) {
    const LongFigures f = MeasureLongMessages(api, backend, trips);
    auto ratio = [](double ours, double theirs) {
        return ours > 0 && theirs > 0 ? ours / theirs : -1.0;
    };
    std::printf(
        "%s: %s_16k_out_ms=%.2f rtmidi_16k_out_ms=%.2f %s_16k_in_ms=%.2f rtmidi_16k_in_ms=%.2f "
        "ratio_out=%.3f ratio_in=%.3f %s_64k_out_ms=%.2f %s_64k_in_ms=%.2f (medians of %d trips)\n",
        label, backend, f.moduleOut16, f.rtmidiOut16, backend, f.moduleIn16, f.rtmidiIn16,
        ratio(f.moduleOut16, f.rtmidiOut16), ratio(f.moduleIn16, f.rtmidiIn16), backend,
        f.moduleOut64, backend, f.moduleIn64, trips);
    std::fflush(stdout);
    return f.moduleOut16 > 0 && f.moduleIn16 > 0 && f.moduleOut64 > 0 && f.moduleIn64 > 0;
}

bool ReportAlsaLongMessages(int trips) {
    if (access("/dev/snd/seq", R_OK | W_OK) != 0) {
        std::printf(
            "midi_long_alsa: no ALSA sequencer here (run bench_midi through tools/vm/run-in-vm)\n");
        return true;
    }
    alsatest::AlsaSimulator simulator("11:1234567", "korvo-bench-long-unit");
    if (!simulator.Ready()) {
        std::fprintf(stderr, "bench_midi: the simulator program did not start on ALSA\n");
        return false;
    }
    return ReportLongMessages(RtMidi::LINUX_ALSA, "alsa", "midi_long_alsa", trips);
}

}  // namespace benchmidi
