// The poll cadence under the real timer: the module runs on the GLib loop with
// one unit that never answers a poll (registered by an identity message
// injected while its port is probed), and the gaps between the moments its
// lastPollTime moves are averaged over a few seconds. Nothing defers the
// polls, so every tick should poll: a mean near 100 ms.
#include <glib.h>

#include <chrono>
#include <vector>

#include "PollTick.h"
#include "modules/midi/TannevaleMidi.h"
#include "modules/midi/services/SimServices.h"
#include "modules/midi/services/UnitSimulator.h"
#include "platform/EventLoop.h"
#include "platform/Window.h"

namespace {

// Runs the GLib loop until done() holds or `limit` has passed; false on timeout.
template <typename Done>
bool RunLoopUntil(Done done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        g_main_context_iteration(nullptr, FALSE);
        g_usleep(200);
    }
    return true;
}

}  // namespace

double PollGapMeanMs() {
    platform::EventLoop::Install(nullptr);
    midi::SimLayout layout;
    layout.inputs = {L"in0"};
    layout.outputs = {L"out0"};
    layout.recordSent = false;
    midi::SimServices sim(layout);
    platform::Window mainWindow;
    auto* module = StartUnderMainWindow<TannevaleMidi>(sim, mainWindow);

    double result = -1;
    using std::chrono::milliseconds;
    if (RunLoopUntil([&] { return module->State() == 1; }, milliseconds(5000))) {
        sim.InjectInput(0, midi::UnitSimulator::Message(0x11, 777, 0x03, 0));
        if (RunLoopUntil([&] { return module->State() == TannevaleMidi::Running; },
                         milliseconds(1000)) &&
            module->Outputs().Count() == 1) {
            std::vector<uint64_t> polls;
            RunLoopUntil(
                [&] {
                    if (polls.empty() || module->LastPollTime() != polls.back())
                        polls.push_back(module->LastPollTime());
                    return false;
                },
                milliseconds(4000));
            // The first entry is the time before the first poll seen.
            if (polls.size() > 2)
                result = double(polls.back() - polls[1]) / double(polls.size() - 2);
        }
    }
    EndUnderMainWindow(module, mainWindow);
    RunLoopUntil([] { return false; }, std::chrono::milliseconds(20));
    sim.WaitIdle();
    midi::InstallServices(nullptr);
    return result;
}
