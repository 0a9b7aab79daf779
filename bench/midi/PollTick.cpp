// One Running tick of the device module with 256 units: the poll goes out to
// every unit, each answers at once (synchronous sim) and every answer is handled
// on the user-interface thread, so a tick here is the poll plus its 256 reports.
#include "PollTick.h"

#include <chrono>
#include <string>
#include <vector>

#include "modules/midi/TannevaleMidi.h"
#include "modules/midi/services/SimServices.h"
#include "platform/Application.h"
#include "platform/ManualEventLoop.h"
#include "platform/Window.h"

double PollTick256UnitsUs() {
    platform::ManualEventLoop loop;
    // 256 units on 16 port pairs, 16 units sharing each pair.
    constexpr unsigned Ports = 16;
    midi::SimLayout layout;
    for (unsigned p = 0; p < Ports; ++p) {
        layout.inputs.push_back(L"in" + std::to_wstring(p));
        layout.outputs.push_back(L"out" + std::to_wstring(p));
    }
    for (unsigned i = 0; i < 256; ++i) {
        midi::SimUnit unit;
        unit.type = i % 2 ? 0x11 : 0x0A;
        unit.id = 1000 + static_cast<int32_t>(i);
        unit.listensOn = {i % Ports};
        unit.answersOn = {i % Ports};
        layout.units.push_back(unit);
    }
    layout.synchronous = true;
    layout.recordSent = false;
    midi::SimServices sim(layout);
    sim.SetClock([&loop] { return loop.NowMs(); });
    midi::InstallServices(&sim);
    platform::Window mainWindow;
    mainWindow.CreateToplevel();
    platform::Application::Instance().SetMainWindow(&mainWindow);

    auto* module = new TannevaleMidi;
    module->Start();
    loop.AdvanceBy(TannevaleMidi::ScanDelayMs + TannevaleMidi::ProbeDelayMs * Ports + TannevaleMidi::RunningDelayMs);
    double result = -1;
    if (module->State() == TannevaleMidi::Running && module->Outputs().Count() == int(Ports)) {
        // Replies defer the next poll, so polls come every other tick; only ticks
        // that polled are timed.
        double total = 0;
        int polls = 0;
        for (int tick = 0; tick < 400 && polls < 100; ++tick) {
            uint64_t before = module->LastPollTime();
            auto start = std::chrono::steady_clock::now();
            loop.AdvanceBy(TannevaleMidi::RunningDelayMs);
            auto elapsed = std::chrono::steady_clock::now() - start;
            if (module->LastPollTime() != before) {
                total += std::chrono::duration<double, std::micro>(elapsed).count();
                ++polls;
            }
        }
        if (polls > 0) result = total / polls;
    }
    delete module;
    mainWindow.Destroy();
    platform::Application::Instance().SetMainWindow(nullptr);
    loop.RunPending();
    midi::InstallServices(nullptr);
    return result;
}
