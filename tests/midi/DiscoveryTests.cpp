// Port scan, probing, registration and the announcements that end discovery.

#include "MidiRig.h"
#include "modules/midi/services/UnitSimulator.h"

namespace {

using midi::UnitSimulator;

const std::wstring Unit1234567 = L"110012d68700013336332d3431342d3532320011";

class Discovery : public MidiRig {};

TEST_F(Discovery, NoPortsAnnouncesAnEmptyListInTheScanTick) {
    Boot(Layout(0, 0));
    Advance(TannevaleMidi::ScanDelayMs - 1);
    EXPECT_TRUE(panel.statuses.empty());
    EXPECT_TRUE(panel.received.empty());

    Advance(1);
    EXPECT_EQ(panel.statuses, (std::vector<std::wstring>{L"Available", L"No device available"}));
    EXPECT_EQ(panel.received, std::vector<std::wstring>{ListStart});
    EXPECT_EQ(module->State(), TannevaleMidi::Running);
}

TEST_F(Discovery, SilentPortsAreAllClosed) {
    Boot(Layout(2, 3));
    Advance(TannevaleMidi::ScanDelayMs);
    EXPECT_EQ(module->Inputs().Count(), 2);
    EXPECT_EQ(module->Outputs().Count(), 3);
    // Each input port has its full set of buffers queued.
    for (MidiDevice* port : module->Inputs()) EXPECT_EQ(sim->QueuedBuffers(port->inHandle), 32u);

    Advance(3 * TannevaleMidi::ProbeDelayMs);
    EXPECT_EQ(module->Inputs().Count(), 0);
    EXPECT_EQ(module->Outputs().Count(), 0);
    EXPECT_EQ(panel.received, std::vector<std::wstring>{ListStart});
    EXPECT_EQ(panel.statuses.back(), L"No device available");
    // One probe per output port, 200 ms apart.
    auto sent = SentSince(0);
    ASSERT_EQ(sent.size(), 3u);
    for (unsigned i = 0; i < 3; ++i) {
        EXPECT_EQ(sent[i].port, i);
        EXPECT_EQ(sent[i].bytes, (Bytes{0xF0, 0x00, 0x11, 0x22, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0xF7}));
    }
}

TEST_F(Discovery, OneUnitIsKeptOnItsPortsAndAnnounced) {
    // The unit listens on output port 2 and answers on input port 1.
    Boot(Layout(2, 3, {UnitOn(0x11, 1234567, {2}, {1})}));
    Discover(3);

    EXPECT_EQ(panel.received, (std::vector<std::wstring>{ListStart, Unit1234567}));
    EXPECT_EQ(panel.statuses, std::vector<std::wstring>{L"Available"});
    ASSERT_EQ(module->Inputs().Count(), 1);
    ASSERT_EQ(module->Outputs().Count(), 1);
    EXPECT_EQ(Names(module->Inputs()), L"in1");
    EXPECT_EQ(Names(module->Outputs()), L"out2");
    const MidiDevice::Unit& unit = *module->Outputs()[0]->units[0];
    EXPECT_EQ(unit.id, 1234567);
    EXPECT_EQ(unit.type, 0x11);
    EXPECT_STREQ(unit.serial.data(), "363-414-522");
    EXPECT_EQ(module->State(), TannevaleMidi::Running);
}

TEST_F(Discovery, UnitsAreAnnouncedByInputPortThenDiscoveryOrder) {
    // Unit 7 answers on input 1, units 5 and 6 on input 0; probing goes by output.
    Boot(Layout(2, 2,
                {UnitOn(0x0A, 7, {0}, {1}), UnitOn(0x12, 5, {1}, {0}), UnitOn(0x0B, 6, {1}, {0})}));
    Discover(2);
    ASSERT_EQ(panel.received.size(), 4u);
    EXPECT_EQ(panel.received[0], ListStart);
    EXPECT_EQ(panel.received[1].substr(0, 14), L"12000000050001");
    EXPECT_EQ(panel.received[2].substr(0, 14), L"0b000000060001");
    EXPECT_EQ(panel.received[3].substr(0, 14), L"0a000000070001");
    for (const std::wstring& text : panel.received) EXPECT_EQ(text.size(), text == ListStart ? 14u : 40u);
}

// Records the module's "Ports" texts into the same sequence as the panel's
// "Receive" texts, so that a test sees which announcement each one follows.
class PortsRecorder : public KorvoModule {
  public:
    PortsRecorder(KorvoModule& module, std::vector<std::wstring>& sequence) : sequence(sequence) {
        auto* ports =
            new KorvoTextConnector(L"Ports", MakeHandler(&PortsRecorder::OnPorts), 0, this);
        connectors.Add(ports);
        ports->Connect(module.FindConnector(L"Ports"));
    }

  private:
    void OnPorts(KorvoConnector* connector) {
        sequence.push_back(L"ports " + std::wstring(connector->GetText().Text()));
    }
    std::vector<std::wstring>& sequence;
};

TEST_F(Discovery, EachAnnouncementIsFollowedByTheNamesOfItsPorts) {
    // Unit 7 listens on out0 and answers on in0; unit 1234567 listens on the
    // output named with a tab and answers on in1.
    midi::SimLayout layout =
        Layout(2, 2, {UnitOn(0x0A, 7, {0}, {0}), UnitOn(0x11, 1234567, {1}, {1})});
    layout.outputs[1] = L"out\t1";
    Boot(layout);
    std::vector<std::wstring> sequence;
    panel.onReceive = [&](const std::wstring& text) { sequence.push_back(text.substr(0, 14)); };
    PortsRecorder recorder(*module, sequence);
    Discover(2);
    EXPECT_EQ(sequence,
              (std::vector<std::wstring>{ListStart, L"0a000000070001", L"ports 00000007in0\tout0",
                                         L"110012d6870001", L"ports 0012d687in1\tout 1"}));
}

struct SharedUnitCase {
    const char* name;
    midi::SimLayout layout;
    const wchar_t* inputs;
    const wchar_t* outputs;
};

TEST_F(Discovery, AUnitHeardTwiceStaysOnTheFirstPort) {
    const SharedUnitCase cases[] = {
        // Its answers reach two inputs: the first handled wins, the other closes.
        {"two inputs", Layout(2, 1, {UnitOn(0x11, 1234567, {0}, {0, 1})}), L"in0", L"out0"},
        // It answers the probes of two outputs: the second adds nothing.
        {"two outputs", Layout(1, 2, {UnitOn(0x11, 1234567, {0, 1}, {0})}), L"in0", L"out0"},
        // The second output still keeps a unit of its own.
        {"two outputs, second shared",
         Layout(1, 2, {UnitOn(0x11, 1234567, {0, 1}, {0}), UnitOn(0x12, 99, {1}, {0})}), L"in0", L"out0,out1"},
    };
    for (const SharedUnitCase& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        panel.received.clear();
        Boot(c.layout);
        Discover(static_cast<unsigned>(c.layout.outputs.size()));
        EXPECT_EQ(Names(module->Inputs()), c.inputs);
        EXPECT_EQ(Names(module->Outputs()), c.outputs);
        int announced = 0;
        for (const std::wstring& text : panel.received) announced += text.substr(2, 8) == L"0012d687";
        EXPECT_EQ(announced, 1);
    }
}

TEST_F(Discovery, OnlyIdentityAnswersWithAnIdAndAKnownTypeRegister) {
    struct Case {
        const char* name;
        Bytes message;
        bool registers;
    };
    auto answer = [](uint8_t type, int32_t id, uint8_t command) { return UnitSimulator::Message(type, id, command, 0); };
    Bytes noId = answer(0x11, 1234567, 0x03);
    noId[5] = 0xFF;
    const Case cases[] = {
        {"identity 03", answer(0x11, 1234567, 0x03), true},
        {"identity 03 of type 0a", answer(0x0A, 42, 0x03), true},
        {"identity 22 of type 12", answer(0x12, 42, 0x22), true},
        {"identity 22 of type 0b", answer(0x0B, 42, 0x22), false},
        {"FF in byte 5", noId, false},
        {"id 0", answer(0x11, 0, 0x03), false},
        {"type 10", answer(0x10, 1234567, 0x03), false},
        {"other command", answer(0x11, 1234567, 0x37), false},
        {"other maker", Bytes{0xF0, 0x00, 0x11, 0x23, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x03, 0x00, 0xF7}, false},
        {"too short", Bytes{0xF0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0xF7}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        panel.received.clear();
        Boot(Layout(1, 1));
        Advance(TannevaleMidi::ScanDelayMs);  // probe on out0 sent, state 1
        Inject(0, c.message);
        Advance(TannevaleMidi::ProbeDelayMs);
        EXPECT_EQ(module->Inputs().Count(), c.registers ? 1 : 0);
        EXPECT_EQ(module->Outputs().Count(), c.registers ? 1 : 0);
        EXPECT_EQ(panel.received.size(), c.registers ? 2u : 1u);
    }
}

TEST_F(Discovery, ALateAnswerIsCreditedToTheNextOutputPort) {
    // The unit listens on out0 but answers 250 ms later, after out1 was probed.
    Boot(Layout(1, 2, {UnitOn(0x11, 1234567, {0}, {0}, 250)}));
    Discover(2);
    EXPECT_EQ(Names(module->Outputs()), L"out1");
    EXPECT_EQ(Names(module->Inputs()), L"in0");
    EXPECT_EQ(panel.received, (std::vector<std::wstring>{ListStart, Unit1234567}));
}

TEST_F(Discovery, AnAnswerAfterTheLastProbeWindowIsReportedNotRegistered) {
    Boot(Layout(1, 1, {UnitOn(0x11, 1234567, {0}, {0}, 250)}));
    Discover(1);
    EXPECT_EQ(module->Inputs().Count(), 0);
    EXPECT_EQ(panel.received, std::vector<std::wstring>{ListStart});
}

TEST_F(Discovery, ARestartFromAPeerHandlerStopsTheAnnouncements) {
    Boot(Layout(2, 2, {UnitOn(0x11, 1, {0}, {0}), UnitOn(0x11, 2, {1}, {1})}));
    // A page that restarts the module as soon as the new list begins.
    bool once = true;
    panel.onReceive = [&](const std::wstring& text) {
        if (text == ListStart && once) {
            once = false;
            panel.Reset(3);
        }
    };
    Discover(2);
    EXPECT_EQ(panel.received, std::vector<std::wstring>{ListStart});
    EXPECT_EQ(module->State(), TannevaleMidi::ScanPending);
    EXPECT_EQ(module->Inputs().Count(), 0);

    // The restart's own timer, not the finishing tick's, decides when the
    // next scan comes: 1.5 s, and then both units are found again.
    panel.onReceive = nullptr;
    Advance(TannevaleMidi::ScanDelayMs - 1);
    EXPECT_EQ(module->State(), TannevaleMidi::ScanPending);
    Advance(1 + 2 * TannevaleMidi::ProbeDelayMs);
    EXPECT_EQ(panel.received.size(), 4u);
    EXPECT_EQ(module->Inputs().Count(), 2);
}

TEST_F(Discovery, ARestartWhileStatusSaysAvailableAbandonsTheScan) {
    Boot(Layout(1, 1, {UnitOn(0x11, 1234567, {0}, {0})}));
    bool once = true;
    panel.onStatus = [&](const std::wstring& text) {
        if (text == L"Available" && once) {
            once = false;
            panel.Reset(0);
        }
    };
    Advance(TannevaleMidi::ScanDelayMs);
    EXPECT_EQ(module->State(), TannevaleMidi::ScanPending);
    EXPECT_EQ(Mark(), 0u);  // no probe went out
    Advance(TannevaleMidi::ScanDelayMs + TannevaleMidi::ProbeDelayMs);
    EXPECT_EQ(panel.received, (std::vector<std::wstring>{ListStart, Unit1234567}));
}

}  // namespace
