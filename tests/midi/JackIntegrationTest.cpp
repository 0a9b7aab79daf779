// The device module on the JACK backend against a private server (jackd, or
// PipeWire's under the pipewire label), with the unit simulator program as the
// units: the story of UnitStory.h, the long-message table, and the device
// library unloading while its ports are open.

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "JackTestServer.h"
#include "UnitStory.h"
#include "framework/PlugIn.h"
#include "modules/midi/TannevaleMidi.h"
#include "platform/Application.h"
#include "platform/EventLoop.h"
#include "platform/Window.h"
#include "support/ConnectorPanel.h"
#include "support/MainLoopWait.h"

namespace {

using namespace miditest;

TEST(JackIntegration, UnitsFoundAnsweredLostAndFoundAgain) {
    JackTestServer server("korvo-jack-unit-story");
    ASSERT_TRUE(server.Ready()) << server.Why();
    TellUnitStory<SimulatorProcess>("jack");
}

TEST(JackIntegration, LongMessagesArriveAndLeaveWhole) {
    JackTestServer server("korvo-jack-long-messages");
    ASSERT_TRUE(server.Ready()) << server.Why();
    WalkLongMessages<SimulatorProcess>("jack");
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
    miditest::JackTestServer server("korvo-jack-library-unload");
    ASSERT_TRUE(server.Ready()) << server.Why();
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
            korvotest::ConnectorPanel panel;
            KorvoModule* module = create();
            panel.Wire(*module);
            module->Start();
            if (!FoundWithOneRescan(
                    panel, [&](size_t from) { return Received(panel.received, from, UnitA); })) {
                // What the module saw instead, for the failure's message.
                for (const std::wstring& status : panel.statuses)
                    std::fprintf(stderr, "Status: %ls\n", status.c_str());
                for (const std::wstring& text : panel.received)
                    std::fprintf(stderr, "Receive: %ls\n", text.c_str());
                _exit(13);
            }
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
            korvotest::PumpFor(300);
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
