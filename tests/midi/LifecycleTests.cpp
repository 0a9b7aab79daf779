// Start, restart through "Reset" and device-count changes, and teardown.

#include "MidiRig.h"
#include "modules/midi/services/UnitSimulator.h"

namespace {

using midi::UnitSimulator;

class Lifecycle : public MidiRig {
protected:
    void BootOneUnit() {
        Boot(Layout(1, 1, {UnitOn(0x11, 1234567, {0}, {0})}));
        Discover(1);
        ASSERT_EQ(module->State(), TannevaleMidi::Running);
    }
};

TEST_F(Lifecycle, ConnectorsInTheirOrder) {
    Boot(Layout(0, 0));
    const wchar_t* names[] = {L"Send", L"Receive", L"Status", L"Reset", L"Ports"};
    const uint32_t kinds[] = {KorvoConnector::KindText, KorvoConnector::KindText,
                              KorvoConnector::KindText, KorvoConnector::KindLong,
                              KorvoConnector::KindText};
    ASSERT_EQ(module->connectors.Count(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(module->connectors[i]->Name(), names[i]);
        EXPECT_EQ(module->connectors[i]->Kind(), kinds[i]);
    }
    EXPECT_EQ(module->FindConnector(L"Status"), module->connectors[2]);
    EXPECT_EQ(module->FindConnector(L"Reset")->GetLong(), 0);
    EXPECT_TRUE(module->FindConnector(L"Status")->GetText().IsEmpty());
}

TEST_F(Lifecycle, WithoutAParentWindowNothingEverHappens) {
    Boot(Layout(1, 1, {UnitOn(0x11, 1234567, {0}, {0})}), /*withMainWindow=*/false);
    EXPECT_FALSE(module->Exists());
    Advance(5000);
    EXPECT_EQ(Mark(), 0u);
    EXPECT_TRUE(panel.statuses.empty());
    EXPECT_TRUE(panel.received.empty());
    EXPECT_TRUE(module->FindConnector(L"Status")->GetText().IsEmpty());
}

TEST_F(Lifecycle, TheActiveWindowServesWhenThereIsNoMainWindow) {
    platform::Window active;
    ASSERT_TRUE(active.CreateToplevel());
    platform::Application::Instance().SetActiveWindow(&active);
    Boot(Layout(0, 0), /*withMainWindow=*/false);
    EXPECT_TRUE(module->Exists());
    EXPECT_EQ(module->Parent(), &active);
    delete module;
    module = nullptr;
    active.Destroy();
}

TEST_F(Lifecycle, ResetMinusOneStopsAndAnotherValueRestarts) {
    BootOneUnit();
    panel.statuses.clear();
    panel.Reset(-1);
    EXPECT_EQ(panel.statuses, std::vector<std::wstring>{L"Initializing..."});
    EXPECT_EQ(module->Inputs().Count(), 0);
    EXPECT_EQ(module->Outputs().Count(), 0);
    EXPECT_EQ(loop.PendingTimers(), 0);
    size_t mark = Mark();
    Advance(10000);
    EXPECT_EQ(Mark(), mark);
    EXPECT_EQ(module->State(), TannevaleMidi::ScanPending);

    panel.Reset(5);
    Advance(TannevaleMidi::ScanDelayMs - 1);
    EXPECT_EQ(panel.statuses, std::vector<std::wstring>{L"Initializing..."});
    Advance(1);
    EXPECT_EQ(panel.statuses, (std::vector<std::wstring>{L"Initializing...", L"Available"}));
    Advance(TannevaleMidi::ProbeDelayMs);
    EXPECT_EQ(module->State(), TannevaleMidi::Running);
    EXPECT_EQ(module->Inputs().Count(), 1);
}

TEST_F(Lifecycle, EveryWriteThatReachesResetRestarts) {
    BootOneUnit();
    // The same value again, forced: still a restart.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        panel.Reset(7);
        EXPECT_EQ(module->State(), TannevaleMidi::ScanPending);
        Advance(TannevaleMidi::ScanDelayMs + TannevaleMidi::ProbeDelayMs);
        EXPECT_EQ(module->State(), TannevaleMidi::Running);
    }
}

TEST_F(Lifecycle, ResetWhileProbingAbandonsProbing) {
    Boot(Layout(1, 3, {UnitOn(0x11, 1234567, {0}, {0})}));
    Advance(TannevaleMidi::ScanDelayMs + TannevaleMidi::ProbeDelayMs / 2);
    ASSERT_EQ(module->State(), 1);
    panel.Reset(2);
    loop.RunPending();
    EXPECT_EQ(module->State(), TannevaleMidi::ScanPending);
    EXPECT_EQ(module->Inputs().Count(), 0);
    EXPECT_EQ(module->Outputs().Count(), 0);
    // No more probes until the new scan.
    size_t mark = Mark();
    Advance(TannevaleMidi::ScanDelayMs - TannevaleMidi::ProbeDelayMs / 2);
    EXPECT_EQ(Mark(), mark);
}

TEST_F(Lifecycle, ADeviceCountChangeRescans) {
    struct Case {
        const char* name;
        std::function<void(midi::SimServices&)> change;
    };
    const Case cases[] = {
        {"input added", [](midi::SimServices& s) { s.AddInputPort(L"in-new"); }},
        {"output added", [](midi::SimServices& s) { s.AddOutputPort(L"out-new"); }},
        {"input removed", [](midi::SimServices& s) { s.RemoveInputPort(0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        panel.statuses.clear();
        BootOneUnit();
        c.change(*sim);
        // Within one running tick the count change posts the rescan.
        Advance(TannevaleMidi::RunningDelayMs);
        EXPECT_EQ(panel.statuses.back(), L"Initializing...");
        EXPECT_EQ(module->Inputs().Count(), 0);
        EXPECT_EQ(module->State(), TannevaleMidi::ScanPending);
        Advance(TannevaleMidi::ScanDelayMs);
        EXPECT_EQ(panel.statuses.back(), L"Available");
    }
}

TEST_F(Lifecycle, ARescanIsNotArmedWhileResetHoldsMinusOne) {
    BootOneUnit();
    // -1 arrives without a restart (stored only) when the panel is linked later.
    module->FindConnector(L"Reset")->StoreLong(-1);
    sim->AddInputPort(L"in-new");
    Advance(TannevaleMidi::RunningDelayMs);
    EXPECT_EQ(module->State(), TannevaleMidi::ScanPending);
    EXPECT_EQ(loop.PendingTimers(), 0);
}

TEST_F(Lifecycle, TeardownWhileProbingClosesEverythingAndSaysInitializingLast) {
    Boot(Layout(2, 2, {UnitOn(0x11, 1234567, {0}, {0})}));
    Advance(TannevaleMidi::ScanDelayMs + 10);
    ASSERT_EQ(module->State(), 1);
    // An answer to the probe is still queued for the window.
    sim->InjectInput(0, UnitSimulator::Message(0x11, 1234567, 0x03, 0));
    delete module;
    module = nullptr;
    EXPECT_EQ(panel.statuses.back(), L"Initializing...");
    // The panel's connectors are alone again.
    for (KorvoConnector* connector : panel.connectors) EXPECT_EQ(connector->Group(), nullptr);
    EXPECT_EQ(loop.PendingTimers(), 0);
    loop.RunPending();
}

TEST_F(Lifecycle, TeardownOfAModuleNeverStarted) {
    Boot(Layout(1, 1), /*withMainWindow=*/false);
    delete module;
    module = nullptr;
    EXPECT_EQ(panel.statuses, std::vector<std::wstring>{L"Initializing..."});
}

TEST_F(Lifecycle, TheMainWindowDestroyedFirstStopsEveryTick) {
    BootOneUnit();
    // A reply in flight when the window goes, and one arriving afterwards:
    // both buffers must be freed (the leak checker watches).
    sim->InjectInput(0, UnitSimulator::Message(0x11, 1234567, 0x37, 1));
    mainWindow.Destroy();
    EXPECT_FALSE(module->Exists());
    EXPECT_EQ(loop.PendingTimers(), 0);
    sim->InjectInput(0, UnitSimulator::Message(0x11, 1234567, 0x37, 2));
    size_t mark = Mark();
    Advance(5000);
    EXPECT_EQ(Mark(), mark);
    EXPECT_TRUE(panel.received.size() == 2u);  // the list and the announcement only
    // Its buffers taken out of the queue are not put back.
    midi::MidiHandle input = module->Inputs()[0]->inHandle;
    EXPECT_EQ(sim->QueuedBuffers(input), 30u);
    // Writes to "Reset" close the ports but arm nothing.
    panel.Reset(1);
    EXPECT_EQ(loop.PendingTimers(), 0);
}

}  // namespace
