#pragma once
// The device module on simulated ports, driven by a hand-advanced clock.
//
// MidiRig owns a ManualEventLoop, a hidden main window, a synchronous
// simulator (which counts the module's InAddBuffer calls), the module itself
// and a connector panel linked to the module's four connectors. ModuleOnSim
// holds all but the loop's and simulator's kind, for fixtures with their own.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "modules/midi/TannevaleMidi.h"
#include "modules/midi/services/SimServices.h"
#include "platform/Application.h"
#include "platform/ManualEventLoop.h"
#include "platform/Window.h"
#include "support/ConnectorPanel.h"

using Bytes = std::vector<uint8_t>;

// The simulator, counting every InAddBuffer call the module makes (including
// the ones refused).
class CountingSimServices : public midi::SimServices {
public:
    using midi::SimServices::SimServices;

    unsigned InAddBuffer(midi::MidiHandle handle, midi::MidiHeader* header) override {
        ++addAttempts;
        return midi::SimServices::InAddBuffer(handle, header);
    }

    int addAttempts = 0;
};

// Port layouts built by hand: names "in0", "in1", ... and "out0", "out1", ...
inline midi::SimLayout Layout(unsigned inputs, unsigned outputs, std::vector<midi::SimUnit> units = {}) {
    midi::SimLayout layout;
    for (unsigned i = 0; i < inputs; ++i) layout.inputs.push_back(L"in" + std::to_wstring(i));
    for (unsigned i = 0; i < outputs; ++i) layout.outputs.push_back(L"out" + std::to_wstring(i));
    layout.units = std::move(units);
    return layout;
}

inline midi::SimUnit UnitOn(uint8_t type, int32_t id, std::vector<unsigned> listensOn, std::vector<unsigned> answersOn,
                          uint32_t replyDelayMs = 0) {
    midi::SimUnit unit;
    unit.type = type;
    unit.id = id;
    unit.listensOn = std::move(listensOn);
    unit.answersOn = std::move(answersOn);
    unit.replyDelayMs = replyDelayMs;
    return unit;
}

inline std::wstring Names(const Array<MidiDevice*>& ports) {
    std::wstring names;
    for (MidiDevice* port : ports) names += (names.empty() ? L"" : L",") + std::wstring(port->name.Text());
    return names;
}

// The module on a simulator under a main window, with the connector panel
// linked to it, and the teardown they need; the event loop and the simulator
// class are the fixture's choice.
template <typename Loop, typename Sim>
class ModuleOnSim : public ::testing::Test {
protected:
    // Installs the simulator, links the panel and starts the module under a
    // main window (unless withMainWindow is false).
    void StartModule(std::unique_ptr<Sim> simulator, bool withMainWindow = true) {
        sim = std::move(simulator);
        midi::InstallServices(sim.get());
        if (withMainWindow) {
            ASSERT_TRUE(mainWindow.CreateToplevel());
            platform::Application::Instance().SetMainWindow(&mainWindow);
        }
        module = new TannevaleMidi;
        panel.Wire(*module);
        module->Start();
    }

    void TearDown() override {
        delete module;
        module = nullptr;
        mainWindow.Destroy();
        platform::Application::Instance().SetMainWindow(nullptr);
        loop.RunPending();
        midi::InstallServices(nullptr);
    }

    Loop loop;
    platform::Window mainWindow;
    std::unique_ptr<Sim> sim;
    korvotest::ConnectorPanel panel;
    TannevaleMidi* module = nullptr;
};

class MidiRig : public ModuleOnSim<platform::ManualEventLoop, CountingSimServices> {
protected:
    // A synchronous simulator on the rig's clock, and the module started on it.
    void Boot(midi::SimLayout layout, bool withMainWindow = true) {
        layout.synchronous = true;
        auto simulator = std::make_unique<CountingSimServices>(std::move(layout));
        simulator->SetClock([this] { return loop.NowMs(); });
        StartModule(std::move(simulator), withMainWindow);
    }

    // Moves the clock on 1 ms at a time, letting late answers arrive as they
    // fall due and delivering everything posted.
    void Advance(uint64_t ms) {
        for (uint64_t i = 0; i < ms; ++i) {
            loop.AdvanceBy(1);
            sim->Pump();
            loop.RunPending();
        }
    }

    // From start to the end of discovery: the scan at 1500 ms, 200 ms per
    // output port, finishing at the tick after the last probe.
    void Discover(unsigned outputs) { Advance(TannevaleMidi::ScanDelayMs + TannevaleMidi::ProbeDelayMs * outputs); }

    // Messages sent since the mark, as bytes with their output port.
    std::vector<midi::SimServices::Sent> SentSince(size_t mark) {
        auto sent = sim->SentMessages();
        return {sent.begin() + static_cast<std::ptrdiff_t>(std::min(mark, sent.size())), sent.end()};
    }
    size_t Mark() { return sim->SentMessages().size(); }

    void Inject(unsigned port, Bytes bytes) {
        sim->InjectInput(port, std::move(bytes));
        loop.RunPending();
    }
};

inline const std::wstring ListStart = L"00000000000001";
