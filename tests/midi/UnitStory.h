#pragma once
// The story that the device module's integration tests tell on each real MIDI
// backend (JACK, PipeWire's JACK, ALSA), with the unit simulator program playing
// two units (11:1234567 and 0a:42) on their own port pairs, under the GLib main
// loop in real time: discovery, a request to each unit and its reply, the units
// going away and coming back; and the long-message table (LongMessageTable.h)
// on the same rig. A backend on an unprivileged or emulated machine loses an
// event now and then, so waits are generous and a request is repeated once.

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "LongMessageTable.h"
#include "modules/midi/TannevaleMidi.h"
#include "modules/midi/services/MidiServices.h"
#include "modules/midi/services/PortServices.h"
#include "platform/Application.h"
#include "platform/EventLoop.h"
#include "platform/Window.h"
#include "support/ConnectorPanel.h"
#include "support/MainLoopWait.h"

namespace miditest {

inline const std::wstring ListStart = L"00000000000001";
inline const std::wstring UnitA = L"110012d68700013336332d3431342d3532320011";  // 11:1234567
inline const std::wstring UnitB = L"0a0000002a0001";                            // 0a:42, header part

// Whether both units were announced in the last list that started at or after from.
inline bool BothAnnouncedSince(const std::vector<std::wstring>& received, size_t from) {
    bool a = false, b = false;
    for (size_t i = from; i < received.size(); ++i) {
        if (received[i] != ListStart) continue;
        a = b = false;
        for (size_t j = i + 1; j < received.size(); ++j) {
            a = a || received[j] == UnitA;
            b = b || (received[j].size() == 40 && received[j].compare(0, UnitB.size(), UnitB) == 0);
        }
    }
    return a && b;
}

inline bool Received(const std::vector<std::wstring>& received, size_t from, const std::wstring& prefix) {
    for (size_t i = from; i < received.size(); ++i)
        if (received[i].compare(0, prefix.size(), prefix) == 0) return true;
    return false;
}

inline const char* const TwoUnits = "11:1234567,0a:42";

// Bounds on the waits, for a scan that may need one rescan after a lost event,
// and for one reply.
constexpr int DiscoveryWaitMs = 12000;
constexpr int RediscoveryWaitMs = 15000;
constexpr int ReplyWaitMs = 2000;

// Waits until found() holds after a scan. A probe's answer that comes later
// than the probe's 200 ms (a lost event, or a machine so loaded that a server
// without realtime scheduling falls behind) finds no unit, and nothing scans
// again by itself; a person would ask for a rescan, and so does the test, once.
inline bool FoundWithOneRescan(korvotest::ConnectorPanel& panel,
                               const std::function<bool(size_t)>& found, size_t since = 0,
                               int firstWaitMs = DiscoveryWaitMs) {
    if (korvotest::PumpUntil([&] { return found(since); }, firstWaitMs)) return true;
    const size_t mark = panel.received.size();
    panel.Reset(0);
    return korvotest::PumpUntil([&] { return found(mark); }, RediscoveryWaitMs);
}

// The device module on a real backend ("jack", "alsa") under the GLib loop in
// real time, with a main window and a connector panel, as the program runs it.
class ModuleOnBackend {
public:
    explicit ModuleOnBackend(const char* backend) {
        setenv("KORVO_MIDI", backend, 1);
        midi::InstallServices(nullptr);
        platform::EventLoop::Install(nullptr);
        if (!mainWindow.CreateToplevel()) return;
        platform::Application::Instance().SetMainWindow(&mainWindow);
        module = new TannevaleMidi;
        panel.Wire(*module);
        module->Start();
    }
    ~ModuleOnBackend() {
        delete module;
        mainWindow.Destroy();
        platform::Application::Instance().SetMainWindow(nullptr);
        korvotest::PumpFor(50);
        midi::InstallServices(nullptr);
    }
    ModuleOnBackend(const ModuleOnBackend&) = delete;
    ModuleOnBackend& operator=(const ModuleOnBackend&) = delete;

    bool Started() const { return module != nullptr; }

    platform::Window mainWindow;
    korvotest::ConnectorPanel panel;
    TannevaleMidi* module = nullptr;
};

// The story on backend ("jack", "alsa") with Simulator, the class that runs the
// simulator program on that backend.
template <class Simulator>
void TellUnitStory(const char* backend) {
    using korvotest::PumpUntil;
    auto simulator = std::make_unique<Simulator>(TwoUnits);
    ASSERT_TRUE(simulator->Ready()) << "the simulator program did not start";

    auto rig = std::make_unique<ModuleOnBackend>(backend);
    ASSERT_TRUE(rig->Started());
    korvotest::ConnectorPanel& panel = rig->panel;

    // Discovery: both units announced.
    EXPECT_TRUE(FoundWithOneRescan(
        panel, [&](size_t from) { return BothAnnouncedSince(panel.received, from); }));
    EXPECT_EQ(panel.statuses.back(), L"Available");

    // A parameter read reaches each unit, and its reply comes back.
    struct Request {
        const wchar_t* send;
        const wchar_t* replyPrefix;
    };
    const Request requests[] = {{L"0012d6872005", L"110012d6872105"}, {L"0000002a2003", L"0a0000002a2103"}};
    for (const Request& request : requests) {
        SCOPED_TRACE(std::string(request.send, request.send + 12));
        bool answered = false;
        for (int attempt = 0; attempt < 2 && !answered; ++attempt) {
            size_t mark = panel.received.size();
            panel.Send(request.send);
            answered = PumpUntil([&] { return Received(panel.received, mark, request.replyPrefix); }, ReplyWaitMs);
        }
        EXPECT_TRUE(answered);
    }

    // The units go away: the device count changes and the rescan finds nothing.
    ASSERT_TRUE(simulator->Stop());
    EXPECT_TRUE(PumpUntil([&] { return !panel.statuses.empty() && panel.statuses.back() == L"No device available"; },
                          DiscoveryWaitMs));
    EXPECT_EQ(rig->module->Inputs().Count(), 0);

    // They come back: found again.
    size_t mark = panel.received.size();
    simulator = std::make_unique<Simulator>(TwoUnits);
    ASSERT_TRUE(simulator->Ready());
    EXPECT_TRUE(FoundWithOneRescan(
        panel, [&](size_t from) { return BothAnnouncedSince(panel.received, from); }, mark,
        RediscoveryWaitMs));

    rig.reset();
    simulator.reset();
}

// The long-message table (LongMessageTable.h) on a real backend, with the
// simulator program (started with --log, so that what reaches the unit can be
// read) as the unit.
template <class Simulator>
class LongMessagesOnBackend {
public:
    LongMessagesOnBackend(const char* backend, Simulator& simulator)
        : rig(backend), simulator(simulator) {}

    // Both units found.
    bool Discovered() {
        return rig.Started() && FoundWithOneRescan(rig.panel, [&](size_t from) {
                   return BothAnnouncedSince(rig.panel.received, from);
               });
    }
    void Send(const std::wstring& text) { rig.panel.Send(text); }
    bool Await(const std::function<bool()>& done) {
        return korvotest::PumpUntil(done, LongReplyWaitMs);
    }
    const std::vector<std::wstring>& Received() { return rig.panel.received; }
    bool ReachedUnit(const std::vector<uint8_t>& message) {
        static const char Digits[] = "0123456789ABCDEF";
        std::string line = "11:1234567 <";
        for (uint8_t b : message) {
            line += ' ';
            line += Digits[b >> 4];
            line += Digits[b & 0xF];
        }
        return simulator.Log().find(line + "\n") != std::string::npos;
    }
    size_t QueuedBuffers() {
        auto* services = dynamic_cast<midi::PortServices*>(&midi::Services());
        if (services == nullptr) return 0;
        for (MidiDevice* port : rig.module->Inputs())
            for (MidiDevice::Unit* unit : port->units)
                if (unit->id == 1234567) return services->QueuedBuffers(port->inHandle);
        return 0;
    }
    int Attempts() { return 2; }

private:
    // A dump of the bound's length on an emulated ALSA sequencer takes a while.
    static constexpr int LongReplyWaitMs = 5000;
    ModuleOnBackend rig;
    Simulator& simulator;
};

template <class Simulator>
void WalkLongMessages(const char* backend) {
    Simulator simulator(TwoUnits, "korvo-unit-simulator", {"--log"});
    ASSERT_TRUE(simulator.Ready()) << "the simulator program did not start";
    LongMessagesOnBackend<Simulator> rig(backend, simulator);
    ASSERT_TRUE(rig.Discovered()) << "the units were not found";
    WalkLongMessagesIn(rig);
    WalkLongMessagesOut(rig);
}

}  // namespace miditest
