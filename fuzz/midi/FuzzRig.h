#pragma once
// The device module for the fuzz targets: two simulated units on two port
// pairs plus silent output ports (so that probing lasts long enough for many
// inputs to land in it), a synchronous simulator, a hand-advanced clock and a
// panel module linked to the four connectors. The rig lives across inputs, so
// the module's state moves on as inputs advance the clock; it is rebuilt every
// RebuildEvery inputs, since the simulator keeps every message sent.

#include <cstdint>
#include <memory>

#include "modules/midi/TannevaleMidi.h"
#include "modules/midi/services/SimServices.h"
#include "platform/Application.h"
#include "platform/ManualEventLoop.h"
#include "platform/Window.h"
#include "support/ConnectorPanel.h"

class FuzzRig {
public:
    static constexpr int RebuildEvery = 2000;

    static FuzzRig& Get() {
        static FuzzRig rig;
        if (++rig.uses > RebuildEvery) rig.Rebuild();
        return rig;
    }

    // Brings the module back to Running with both units found.
    void ToRunning() {
        if (module->State() == TannevaleMidi::Running) return;
        if (module->State() == TannevaleMidi::ScanPending) loop.AdvanceBy(TannevaleMidi::ScanDelayMs);
        while (module->State() >= 0) loop.AdvanceBy(TannevaleMidi::ProbeDelayMs);
    }
    // The handle of the first input port that is open, or 0.
    midi::MidiHandle FirstInput() {
        return module->Inputs().IsEmpty() ? 0 : module->Inputs()[0]->inHandle;
    }

    platform::ManualEventLoop loop;
    std::unique_ptr<midi::SimServices> sim;
    std::unique_ptr<korvotest::ConnectorPanel> panel;
    TannevaleMidi* module = nullptr;
    // Never started: it has no window, so its input callback frees buffers itself.
    TannevaleMidi* windowless = nullptr;

private:
    ~FuzzRig() {
        delete module;
        delete windowless;
        panel.reset();
        mainWindow.Destroy();
        loop.RunPending();
        midi::InstallServices(nullptr);
    }
    FuzzRig() {
        mainWindow.CreateToplevel();
        platform::Application::Instance().SetMainWindow(&mainWindow);
        Rebuild();
    }

    void Rebuild() {
        uses = 0;
        delete module;
        delete windowless;
        panel.reset();
        loop.RunPending();
        midi::SimLayout layout;
        layout.inputs = {L"in0", L"in1"};
        layout.outputs = {L"out0", L"out1", L"silent2", L"silent3", L"silent4", L"silent5", L"silent6",
                          L"silent7"};
        midi::SimUnit a;
        a.type = 0x11, a.id = 1234567, a.listensOn = {0}, a.answersOn = {0};
        midi::SimUnit b;
        b.type = 0x0A, b.id = 42, b.listensOn = {1}, b.answersOn = {1};
        layout.units = {a, b};
        layout.synchronous = true;
        midi::InstallServices(nullptr);
        sim = std::make_unique<midi::SimServices>(layout);
        sim->SetClock([this] { return loop.NowMs(); });
        midi::InstallServices(sim.get());
        module = new TannevaleMidi;
        windowless = new TannevaleMidi;
        panel = std::make_unique<korvotest::ConnectorPanel>();
        panel->Wire(*module);
        module->Start();
        ToRunning();
    }

    platform::Window mainWindow;
    int uses = 0;
};
