// One Running tick of the device module with 256 units: on 16 simulated port
// pairs, and on 8 JACK port pairs served by the simulator program.
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
// counted, so the figure is always that of a tick that sent 256 messages. On
// JACK the answers come in real time: each step waits a few periods for them.
#include "PollTick.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "JackTestServer.h"
#include "modules/midi/TannevaleMidi.h"
#include "modules/midi/services/JackServices.h"
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

constexpr unsigned Units = 256;

// Brings a module on `services` to Running with `units` units on `ports`
// output ports and returns the mean microseconds of a tick that polled them
// all; settle() lets every answer in and runs what was posted.
double TimeTicks(midi::MidiServices& services, platform::ManualEventLoop& loop, unsigned ports, unsigned units,
                 const std::function<void()>& settle) {
    platform::Window mainWindow;
    auto* module = StartUnderMainWindow<TickedModule>(services, mainWindow);
    unsigned unitsFound = 0;
    // A real server may lose an answer now and then: discovery is tried twice.
    for (int attempt = 0; attempt < 2 && unitsFound != units; ++attempt) {
        if (attempt > 0) module->FindConnector(L"Reset")->SetLong(attempt, true);
        loop.AdvanceBy(TannevaleMidi::ScanDelayMs);
        for (unsigned p = 0; p < ports + 1 && module->State() != TannevaleMidi::Running; ++p) {
            settle();
            loop.AdvanceBy(TannevaleMidi::ProbeDelayMs);
        }
        settle();
        unitsFound = 0;
        for (MidiDevice* port : module->Outputs()) unitsFound += unsigned(port->units.Count());
    }

    double result = -1;
    if (module->State() == TannevaleMidi::Running && unitsFound == units) {
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
    } else {
        std::fprintf(stderr, "bench_midi: %u of %u units found\n", unitsFound, units);
    }
    EndUnderMainWindow(module, mainWindow);
    settle();
    midi::InstallServices(nullptr);
    return result;
}

}  // namespace

void EndUnderMainWindow(TannevaleMidi* module, platform::Window& mainWindow) {
    delete module;
    mainWindow.Destroy();
    platform::Application::Instance().SetMainWindow(nullptr);
}

double PollTick256UnitsUs() {
    platform::ManualEventLoop loop;
    constexpr unsigned Ports = 16;
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
    // Answers arrive on the simulator's thread; each step lets them all in
    // before time moves on, so discovery sees every probe's answers.
    return TimeTicks(sim, loop, Ports, Units, [&] {
        sim.WaitIdle();
        loop.RunPending();
    });
}

double PollTick256UnitsJackUs() {
    constexpr unsigned Pairs = 8;
    std::string list;
    for (unsigned i = 0; i < Units; ++i) {
        char unit[24];
        std::snprintf(unit, sizeof unit, "%s%s:%u", i == 0 ? "" : ",", i % 2 ? "11" : "0a", 1000 + i);
        list.append(unit);
    }
    miditest::SimulatorProcess simulator(list, "korvo-bench-units", {"--pairs", std::to_string(Pairs)});
    if (!simulator.Ready()) return -1;
    std::unique_ptr<midi::JackServices> jack = midi::JackServices::Create();
    if (!jack) return -1;
    platform::ManualEventLoop loop;
    // A round trip takes about two periods (11 ms at 256 frames); 32 answers
    // on one pair may take a period more.
    double result = TimeTicks(*jack, loop, Pairs, Units, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        loop.RunPending();
    });
    jack.reset();
    simulator.Stop();
    return result;
}
