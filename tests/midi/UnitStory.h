#pragma once
// The story that the device module's integration tests tell on each real MIDI
// backend (JACK, ALSA), with the unit simulator program playing two units
// (11:1234567 and 0a:42) on their own port pairs, under the GLib main loop in
// real time: discovery, a request to each unit and its reply, the units going
// away and coming back. A backend on an unprivileged or emulated machine loses
// an event now and then, so waits are generous and a request is repeated once.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "modules/midi/TannevaleMidi.h"
#include "modules/midi/services/MidiServices.h"
#include "platform/Application.h"
#include "platform/EventLoop.h"
#include "platform/Window.h"
#include "support/ConnectorPanel.h"
#include "support/MainLoopWait.h"

namespace miditest {

inline const std::wstring ListStart = L"00000000000001";
inline const std::wstring UnitA = L"110012d68700013336332d3431342d3532320011";  // 11:1234567
inline const std::wstring UnitB = L"0a0000002a0001";                            // 0a:42, header part

// Whether both units were announced in the last list that started at or after from.
inline bool BothAnnouncedSince(const std::vector<std::wstring>& received, size_t from) {
    bool a = false, b = false;
    for (size_t i = from; i < received.size(); ++i) {
        if (received[i] != ListStart) continue;
        a = b = false;
        for (size_t j = i + 1; j < received.size(); ++j) {
            a = a || received[j] == UnitA;
            b = b || (received[j].size() == 40 && received[j].compare(0, UnitB.size(), UnitB) == 0);
        }
    }
    return a && b;
}

inline bool Received(const std::vector<std::wstring>& received, size_t from, const std::wstring& prefix) {
    for (size_t i = from; i < received.size(); ++i)
        if (received[i].compare(0, prefix.size(), prefix) == 0) return true;
    return false;
}

inline const char* const TwoUnits = "11:1234567,0a:42";

// Bounds on the waits, for a scan that may need one rescan after a lost event,
// and for one reply.
constexpr int DiscoveryWaitMs = 12000;
constexpr int RediscoveryWaitMs = 15000;
constexpr int ReplyWaitMs = 2000;

// The story on backend ("jack", "alsa") with Simulator, the class that runs the
// simulator program on that backend.
template <class Simulator>
void TellUnitStory(const char* backend) {
    using korvotest::PumpUntil;
    auto simulator = std::make_unique<Simulator>(TwoUnits);
    ASSERT_TRUE(simulator->Ready()) << "the simulator program did not start";

    setenv("KORVO_MIDI", backend, 1);
    midi::InstallServices(nullptr);
    platform::EventLoop::Install(nullptr);
    platform::Window mainWindow;
    ASSERT_TRUE(mainWindow.CreateToplevel());
    platform::Application::Instance().SetMainWindow(&mainWindow);
    korvotest::ConnectorPanel panel;
    auto* module = new TannevaleMidi;
    panel.Wire(*module);
    module->Start();

    // Discovery: both units announced.
    EXPECT_TRUE(PumpUntil([&] { return BothAnnouncedSince(panel.received, 0); }, DiscoveryWaitMs));
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
            answered = PumpUntil([&] { return Received(panel.received, mark, request.replyPrefix); }, ReplyWaitMs);
        }
        EXPECT_TRUE(answered);
    }

    // The units go away: the device count changes and the rescan finds nothing.
    ASSERT_TRUE(simulator->Stop());
    EXPECT_TRUE(PumpUntil([&] { return !panel.statuses.empty() && panel.statuses.back() == L"No device available"; },
                          DiscoveryWaitMs));
    EXPECT_EQ(module->Inputs().Count(), 0);

    // They come back: found again.
    size_t mark = panel.received.size();
    simulator = std::make_unique<Simulator>(TwoUnits);
    ASSERT_TRUE(simulator->Ready());
    EXPECT_TRUE(PumpUntil([&] { return BothAnnouncedSince(panel.received, mark); }, RediscoveryWaitMs));

    delete module;
    mainWindow.Destroy();
    platform::Application::Instance().SetMainWindow(nullptr);
    korvotest::PumpFor(50);
    midi::InstallServices(nullptr);
    simulator.reset();
}

}  // namespace miditest
