// The device module on the JACK backend against a private server, with the
// unit simulator program as two units on their own port pairs, under the GLib
// main loop in real time: discovery, a request and its reply, the units going
// away and coming back. JACK on an unprivileged dummy server loses an event now
// and then, so waits are generous and a request is repeated once.

#include <dlfcn.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DiscoveryPanel.h"
#include "JackTestServer.h"
#include "framework/Connector.h"
#include "framework/Module.h"
#include "framework/PlugIn.h"
#include "modules/midi/TannevaleMidi.h"
#include "modules/midi/services/MidiServices.h"
#include "platform/Application.h"
#include "platform/EventLoop.h"
#include "platform/Window.h"

namespace {

using namespace miditest;

TEST(JackIntegration, UnitsFoundAnsweredLostAndFoundAgain) {
    using std::chrono::seconds;
    miditest::JackTestServer server("korvo-midi-module-test");
    ASSERT_TRUE(server.Ready()) << "jackd did not start";
    auto simulator = std::make_unique<miditest::SimulatorProcess>("11:1234567,0a:42");
    ASSERT_TRUE(simulator->Ready()) << "the simulator program did not start";

    setenv("KORVO_MIDI", "jack", 1);
    midi::InstallServices(nullptr);
    platform::EventLoop::Install(nullptr);
    platform::Window mainWindow;
    ASSERT_TRUE(mainWindow.CreateToplevel());
    platform::Application::Instance().SetMainWindow(&mainWindow);
    Panel panel;
    auto* module = new TannevaleMidi;
    panel.Wire(*module);
    module->Start();

    // Discovery: both units announced (one restart allowed for a lost event).
    EXPECT_TRUE(RunUntil([&] { return BothAnnouncedSince(panel.received, 0); }, seconds(12)));
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
            answered = RunUntil([&] { return Received(panel.received, mark, request.replyPrefix); }, seconds(2));
        }
        EXPECT_TRUE(answered);
    }

    // The units go away: the device count changes and the rescan finds nothing.
    ASSERT_TRUE(simulator->Stop());
    EXPECT_TRUE(RunUntil([&] { return !panel.statuses.empty() && panel.statuses.back() == L"No device available"; },
                         seconds(12)));
    EXPECT_EQ(module->Inputs().Count(), 0);

    // They come back: found again.
    size_t mark = panel.received.size();
    simulator = std::make_unique<miditest::SimulatorProcess>("11:1234567,0a:42");
    ASSERT_TRUE(simulator->Ready());
    EXPECT_TRUE(RunUntil([&] { return BothAnnouncedSince(panel.received, mark); }, seconds(15)));

    delete module;
    mainWindow.Destroy();
    platform::Application::Instance().SetMainWindow(nullptr);
    RunUntil([] { return false; }, std::chrono::milliseconds(50));
    midi::InstallServices(nullptr);
    simulator.reset();
}

// Whether any port of our JACK clients is still registered on the server.
bool OwnPortsRegistered() {
    jack_client_t* probe = jack_client_open("korvo-unload-probe", JackNoStartServer, nullptr);
    if (!probe) return true;
    const char** ports = jack_get_ports(probe, "^Yonderpad-", nullptr, 0);
    bool any = ports && ports[0];
    if (ports) jack_free(ports);
    jack_client_close(probe);
    return any;
}

// Kept reachable so that a module left alive on purpose is not a leak.
KorvoModule* keptModule = nullptr;

// The built device library loaded by path, a module of it brought to Running
// on JACK with open ports, and the library unloaded: once with the module
// deleted first, once with the module never deleted (its window gone with the
// main window) so that its ports are still open when the library goes. Either
// way the library's MIDI backend must leave the server and stop its threads
// before the code is unmapped: the process goes on and ends with status 0.
TEST(JackIntegration, TheDeviceLibraryUnloadsWhileItsJackPortsAreOpen) {
    miditest::JackTestServer server("korvo-midi-module-test");
    ASSERT_TRUE(server.Ready()) << "jackd did not start";
    miditest::SimulatorProcess simulator("11:1234567");
    ASSERT_TRUE(simulator.Ready()) << "the simulator program did not start";

    for (bool deleteFirst : {true, false}) {
        SCOPED_TRACE(deleteFirst ? "module deleted first" : "module still alive");
        pid_t child = fork();
        if (child == 0) {
            setenv("KORVO_MIDI", "jack", 1);
            platform::EventLoop::Install(nullptr);
            void* library = dlopen(TANNEVALE_MIDI_LIBRARY, RTLD_NOW | RTLD_LOCAL);
            if (!library) _exit(10);
            auto create = reinterpret_cast<CreateKorvoModuleFunction>(dlsym(library, "CreateKorvoModule_TannevaleMidi"));
            auto destroy = reinterpret_cast<DeleteKorvoModuleFunction>(dlsym(library, "DeleteKorvoModule"));
            if (!create || !destroy) _exit(11);
            platform::Window mainWindow;
            if (!mainWindow.CreateToplevel()) _exit(12);
            platform::Application::Instance().SetMainWindow(&mainWindow);
            Panel panel;
            KorvoModule* module = create();
            panel.Wire(*module);
            module->Start();
            if (!RunUntil([&] { return Received(panel.received, 0, UnitA); }, std::chrono::seconds(12))) _exit(13);
            if (!OwnPortsRegistered()) _exit(14);
            if (deleteFirst) {
                destroy(module);
            } else {
                keptModule = module;
            }
            mainWindow.Destroy();
            platform::Application::Instance().SetMainWindow(nullptr);
            if (dlclose(library) != 0) _exit(15);
            // Our clients left the server with the library...
            if (OwnPortsRegistered()) _exit(16);
            // ...and nothing of it runs any more: the process goes on.
            RunUntil([] { return false; }, std::chrono::milliseconds(300));
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
        if (WIFEXITED(status)) {
            EXPECT_EQ(WEXITSTATUS(status), 0);
        }
    }
}

}  // namespace
