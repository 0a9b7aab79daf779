// One Running tick of the device module with 256 units on 16 port pairs.
//
// What is timed is the tick alone, as the user-interface thread pays for it:
// the device-count comparison and the poll, which builds 256 unit messages and
// hands each through SendLong to the MIDI services. The simulator runs on its
// own thread, as a device would: it computes the answers and returns the done
// notices there, while the module's tick goes on.
//
// The answers themselves are not part of the tick. They reach the module later,
// as posted messages, and handling them (ReportMessage, re-queueing the input
// buffer) is its own cost on the user-interface thread. So every round first
// waits until the simulator is idle and runs the posted answers, untimed, then
// moves the hand-driven clock on until a poll is due (answers defer the poll,
// and the armed timer may fire meanwhile, also untimed), and only then times
// one call of the timer handler. A round whose tick did not poll is not
// counted, so the figure is always that of a tick that sent 256 messages.
#include "PollTick.h"

#include <chrono>
#include <string>
#include <vector>

#include "modules/midi/TannevaleMidi.h"
#include "modules/midi/services/SimServices.h"
#include "platform/Application.h"
#include "platform/ManualEventLoop.h"
#include "platform/Window.h"

namespace {

// Lets the bench run the timer handler itself, so that nothing else the event
// loop would do in the same step (posted answers) falls into the timed section.
class TickedModule final : public TannevaleMidi {
public:
    void Tick() { OnTimer(TimerId); }
};

}  // namespace

double PollTick256UnitsUs() {
    platform::ManualEventLoop loop;
    constexpr unsigned Ports = 16, Units = 256;
    midi::SimLayout layout;
    for (unsigned p = 0; p < Ports; ++p) {
        layout.inputs.push_back(L"in" + std::to_wstring(p));
        layout.outputs.push_back(L"out" + std::to_wstring(p));
    }
    for (unsigned i = 0; i < Units; ++i) {
        midi::SimUnit unit;
        unit.type = i % 2 ? 0x11 : 0x0A;
        unit.id = 1000 + static_cast<int32_t>(i);
        unit.listensOn = {i % Ports};
        unit.answersOn = {i % Ports};
        layout.units.push_back(unit);
    }
    layout.synchronous = false;
    layout.recordSent = false;
    midi::SimServices sim(layout);
    midi::InstallServices(&sim);
    platform::Window mainWindow;
    mainWindow.CreateToplevel();
    platform::Application::Instance().SetMainWindow(&mainWindow);

    // Answers arrive on the simulator's thread; each step lets them all in
    // before time moves on, so discovery sees every probe's answers.
    auto settle = [&] {
        sim.WaitIdle();
        loop.RunPending();
    };
    auto* module = new TickedModule;
    module->Start();
    loop.AdvanceBy(TannevaleMidi::ScanDelayMs);
    for (unsigned p = 0; p < Ports + 1 && module->State() != TannevaleMidi::Running; ++p) {
        settle();
        loop.AdvanceBy(TannevaleMidi::ProbeDelayMs);
    }
    settle();

    double result = -1;
    int unitsFound = 0;
    for (MidiDevice* port : module->Outputs()) unitsFound += port->units.Count();
    if (module->State() == TannevaleMidi::Running && module->Outputs().Count() == int(Ports) &&
        unitsFound == int(Units)) {
        // A few rounds first to warm caches and allocator.
        constexpr int Warmup = 20, Rounds = 200;
        double total = 0;
        int polls = 0;
        for (int round = 0; round < Warmup + Rounds + 50 && polls < Rounds; ++round) {
            settle();
            loop.AdvanceBy(TannevaleMidi::PollIntervalMs + 1);
            settle();
            const uint64_t before = module->LastPollTime();
            const auto start = std::chrono::steady_clock::now();
            module->Tick();
            const auto elapsed = std::chrono::steady_clock::now() - start;
            if (module->LastPollTime() == before || round < Warmup) continue;
            total += std::chrono::duration<double, std::micro>(elapsed).count();
            ++polls;
        }
        settle();
        if (polls > 0) result = total / polls;
    }
    delete module;
    mainWindow.Destroy();
    platform::Application::Instance().SetMainWindow(nullptr);
    loop.RunPending();
    sim.WaitIdle();
    midi::InstallServices(nullptr);
    return result;
}
