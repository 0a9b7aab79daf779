// The device module's share of bench_midi: the mean time of one Running tick
// that polls 256 units (clock advanced by hand; the answers are handled outside
// the timed section), on the simulated units and on the JACK backend, and the
// mean gap between the polls of a silent unit under the real timer.
#pragma once

#include "modules/midi/TannevaleMidi.h"
#include "modules/midi/services/MidiServices.h"
#include "platform/Application.h"
#include "platform/Window.h"

// Microseconds per tick with the simulator on its own thread; negative when
// the module could not be brought to Running with every unit.
double PollTick256UnitsUs();
// The same on the JACK backend, to the simulator program serving 256 units on
// 8 port pairs; the private server must run. Negative when it cannot be measured.
double PollTick256UnitsJackUs();
// Mean milliseconds between two polls of a unit that never answers, the module
// running on the GLib loop in real time for a few seconds; negative on failure.
double PollGapMeanMs();

// Installs `services` and starts a new Module under `mainWindow`, made the
// program's main window, as the program would run it.
template <typename Module>
Module* StartUnderMainWindow(midi::MidiServices& services, platform::Window& mainWindow) {
    midi::InstallServices(&services);
    mainWindow.CreateToplevel();
    platform::Application::Instance().SetMainWindow(&mainWindow);
    auto* module = new Module;
    module->Start();
    return module;
}
// Deletes the module and the main window. The services stay installed: the
// caller lets the work still under way drain first, then uninstalls them.
void EndUnderMainWindow(TannevaleMidi* module, platform::Window& mainWindow);
