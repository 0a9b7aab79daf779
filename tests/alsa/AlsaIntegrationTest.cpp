// The device module on the ALSA backend on the VM guest's sequencer, with the
// unit simulator program as two units on their own port pairs, under the GLib
// main loop in real time: discovery, a request and its reply, the units going
// away and coming back. The guest is emulated and slow, so waits are generous.

#include <glib.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "AlsaPeers.h"
#include "DiscoveryPanel.h"
#include "framework/Connector.h"
#include "framework/Module.h"
#include "modules/midi/TannevaleMidi.h"
#include "modules/midi/services/MidiServices.h"
#include "platform/Application.h"
#include "platform/EventLoop.h"
#include "platform/Window.h"

namespace {

class Guest : public testing::Environment {
  public:
    void SetUp() override {
        ASSERT_TRUE(alsatest::InGuest()) << "this test needs the ALSA sequencer of the VM guest";
    }
};
const auto* const guest = testing::AddGlobalTestEnvironment(new Guest);

using namespace miditest;

TEST(AlsaIntegration, UnitsFoundAnsweredLostAndFoundAgain) {
    using std::chrono::seconds;
    auto simulator = std::make_unique<alsatest::AlsaSimulator>("11:1234567,0a:42");
    ASSERT_TRUE(simulator->Ready()) << "the simulator program did not start";

    setenv("KORVO_MIDI", "alsa", 1);
    midi::InstallServices(nullptr);
    platform::EventLoop::Install(nullptr);
    platform::Window mainWindow;
    ASSERT_TRUE(mainWindow.CreateToplevel());
    platform::Application::Instance().SetMainWindow(&mainWindow);
    Panel panel;
    auto* module = new TannevaleMidi;
    panel.Wire(*module);
    module->Start();

    // Discovery: both units announced.
    EXPECT_TRUE(RunUntil([&] { return BothAnnouncedSince(panel.received, 0); }, seconds(12)));
    EXPECT_EQ(panel.statuses.back(), L"Available");

    // A parameter read reaches each unit, and its reply comes back.
    struct Request {
        const wchar_t* send;
        const wchar_t* replyPrefix;
    };
    const Request requests[] = {{L"0012d6872005", L"110012d6872105"},
                                {L"0000002a2003", L"0a0000002a2103"}};
    for (const Request& request : requests) {
        SCOPED_TRACE(std::string(request.send, request.send + 12));
        bool answered = false;
        for (int attempt = 0; attempt < 2 && !answered; ++attempt) {
            size_t mark = panel.received.size();
            panel.Send(request.send);
            answered = RunUntil([&] { return Received(panel.received, mark, request.replyPrefix); },
                                seconds(2));
        }
        EXPECT_TRUE(answered);
    }

    // The units go away: the device count changes and the rescan finds nothing.
    ASSERT_TRUE(simulator->Stop());
    EXPECT_TRUE(RunUntil(
        [&] { return !panel.statuses.empty() && panel.statuses.back() == L"No device available"; },
        seconds(12)));
    EXPECT_EQ(module->Inputs().Count(), 0);

    // They come back: found again.
    size_t mark = panel.received.size();
    simulator = std::make_unique<alsatest::AlsaSimulator>("11:1234567,0a:42");
    ASSERT_TRUE(simulator->Ready());
    EXPECT_TRUE(RunUntil([&] { return BothAnnouncedSince(panel.received, mark); }, seconds(15)));

    delete module;
    mainWindow.Destroy();
    platform::Application::Instance().SetMainWindow(nullptr);
    RunUntil([] { return false; }, std::chrono::milliseconds(50));
    midi::InstallServices(nullptr);
    simulator.reset();
}

}  // namespace
