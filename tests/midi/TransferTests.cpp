// "Send" to the units, unit messages to "Receive", the input buffers and the poll.

#include <functional>

#include "LongMessageTable.h"
#include "MidiRig.h"
#include "modules/midi/services/UnitSimulator.h"
#include "support/WarningLog.h"

namespace {

using midi::UnitSimulator;

// Two units on their own port pairs: 1234567 (type 11) on port 0, 42 (type 0a) on port 1.
class Transfer : public MidiRig {
protected:
    void SetUp() override {
        Boot(Layout(2, 2, {UnitOn(0x11, 1234567, {0}, {0}), UnitOn(0x0A, 42, {1}, {1})}));
        Discover(2);
        ASSERT_EQ(module->State(), TannevaleMidi::Running);
        panel.received.clear();
    }

    // The handle of the open input port named in<port>.
    midi::MidiHandle InputHandle(unsigned port) {
        for (MidiDevice* device : module->Inputs())
            if (device->name == (L"in" + std::to_wstring(port)).c_str()) return device->inHandle;
        return 0;
    }
};

TEST_F(Transfer, SendReachesTheUnitsPortAsOneMessage) {
    struct Case {
        const wchar_t* text;
        std::vector<midi::SimServices::Sent> expected;
    };
    const Case cases[] = {
        {L"0012d6871001", {{0, {0xF0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x10, 0x01, 0xF7}}}},
        // Upper case digits; the unit's type comes from its record.
        {L"0000002A2005", {{1, {0xF0, 0x00, 0x11, 0x22, 0x0A, 0x2A, 0x00, 0x00, 0x00, 0x20, 0x05, 0xF7}}}},
        // 11 characters: the value has one digit, no payload.
        {L"0012d687100", {{0, {0xF0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x10, 0x00, 0xF7}}}},
        {L"0012d6873007", {{0, {0xF0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x30, 0x07, 0xF7}}}},
        // 15 characters: one payload byte, the last character ignored.
        {L"0012d68730071bc", {{0, {0xF0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x30, 0x07, 0x1B, 0xF7}}}},
        // Command, value and payload up to 7F go out as given.
        {L"0012d6877f7f7f00", {{0, {0xF0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x7F, 0x7F, 0x7F, 0x00, 0xF7}}}},
        // A byte above 7F anywhere between F0 and F7 would end the message on the
        // wire: nothing is sent at all.
        {L"0012d687200501ab02", {}},
        {L"0012d687ff01", {}},
        {L"0012d6872080", {}},
        {L"0012d68720050180", {}},
        {L"0012d687ff80fe01", {}},
        // A field without a leading hexadecimal digit reads 0.
        {L"0012d687zz01", {{0, {0xF0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x00, 0x01, 0xF7}}}},
        // 10 characters: nothing.
        {L"0012d68710", {}},
        // No unit has the id; ids beyond 28 bits or negative never match.
        {L"0012d6881001", {}},
        {L"8012d6871001", {}},
        {L"-012d6871001", {}},
        {L"", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::string(c.text, c.text + std::wcslen(c.text)));
        size_t mark = Mark();
        panel.Send(c.text);
        auto sent = SentSince(mark);
        ASSERT_EQ(sent.size(), c.expected.size());
        for (size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(sent[i].port, c.expected[i].port);
            EXPECT_EQ(sent[i].bytes, c.expected[i].bytes);
        }
    }
}

TEST_F(Transfer, AUnitMessageIsReportedAndDefersThePoll) {
    loop.RunPending();
    const uint64_t at = loop.NowMs();
    Inject(0, Bytes{0xF0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x37, 0x05, 0x01, 0x02, 0xF7});
    EXPECT_EQ(panel.received, std::vector<std::wstring>{L"110012d68737050102"});
    EXPECT_EQ(module->LastPollTime(), at);

    // No poll goes out until more than 100 ms after the reply.
    size_t mark = Mark();
    uint64_t firstPoll = 0;
    for (int i = 0; i < 300 && firstPoll == 0; ++i) {
        Advance(1);
        if (Mark() > mark) firstPoll = loop.NowMs();
    }
    EXPECT_GT(firstPoll, at + TannevaleMidi::PollIntervalMs);
    EXPECT_LE(firstPoll, at + TannevaleMidi::PollIntervalMs + TannevaleMidi::RunningDelayMs);
}

TEST_F(Transfer, OnlyStateReportsDeferThePoll) {
    struct Case {
        uint8_t type;
        uint8_t command;
        bool defers;
        size_t payload = 0;
    };
    const Case cases[] = {
        {0x11, 0x37, true},
        {0x12, 0x37, true},
        {0x0A, 0x04, true},
        {0x0B, 0x05, true},
        {0x11, 0x04, false},
        {0x0A, 0x37, false},
        {0x12, 0x21, false},
        // A long report defers like a short one.
        {0x11, 0x37, true, 20000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << int(c.type) << "/" << int(c.command) << " with " << c.payload);
        Advance(1);
        const uint64_t before = module->LastPollTime();
        Inject(0, UnitSimulator::Message(c.type, 777, c.command, 0, Bytes(c.payload, 0x01)));
        EXPECT_EQ(module->LastPollTime(), c.defers ? loop.NowMs() : before);
    }
}

TEST_F(Transfer, PollsEveryUnitWithItsOwnCommand) {
    size_t mark = Mark();
    // The unit replies defer the next poll; within 250 ms every unit is polled once.
    Advance(250);
    auto sent = SentSince(mark);
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[0].port, 0u);
    EXPECT_EQ(sent[0].bytes, (Bytes{0xF0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x10, 0x01, 0xF7}));
    EXPECT_EQ(sent[1].port, 1u);
    EXPECT_EQ(sent[1].bytes, (Bytes{0xF0, 0x00, 0x11, 0x22, 0x0A, 0x2A, 0x00, 0x00, 0x00, 0x02, 0x04, 0xF7}));
    // The state reports of both came back on "Receive".
    ASSERT_GE(panel.received.size(), 2u);
    EXPECT_EQ(panel.received[0].substr(0, 12), L"110012d68737");
    EXPECT_EQ(panel.received[1].substr(0, 12), L"0a0000002a04");
}

TEST_F(Transfer, IdenticalMessagesAreBothDelivered) {
    Bytes message = UnitSimulator::Message(0x11, 1234567, 0x21, 3, {9});
    Inject(0, message);
    Inject(0, message);
    EXPECT_EQ(panel.received, (std::vector<std::wstring>{L"110012d687210309", L"110012d687210309"}));
}

TEST_F(Transfer, AMessageFromAnUndiscoveredUnitOnAnOpenPortIsReported) {
    Inject(1, UnitSimulator::Message(0x12, 5, 0x37, 1));
    EXPECT_EQ(panel.received, std::vector<std::wstring>{L"12000000053701"});
}

TEST_F(Transfer, WhatIsNotAUnitMessageIsIgnoredAndItsBufferReplaced) {
    struct Case {
        const char* name;
        Bytes bytes;
    };
    const Case cases[] = {
        {"note on", {0x90, 0x40, 0x7F}},
        {"clock", {0xF8}},
        {"other maker", {0xF0, 0x7E, 0x7F, 0x06, 0x02, 0xF7}},
        {"prefix differs in byte 3",
         {0xF0, 0x00, 0x11, 0x23, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x37, 0x05, 0xF7}},
        // Exactly 11 recorded bytes are a unit message but carry nothing to report.
        {"11 bytes", {0xF0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x37, 0xF7}},
        {"10 bytes", {0xF0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0xF7}},
        {"no id", {0xF0, 0x00, 0x11, 0x22, 0x11, 0xFF, 0x2D, 0x4B, 0x00, 0x37, 0x05, 0xF7}},
        {"id 0", {0xF0, 0x00, 0x11, 0x22, 0x11, 0x00, 0x00, 0x00, 0x00, 0x37, 0x05, 0xF7}},
        {"type 10", {0xF0, 0x00, 0x11, 0x22, 0x10, 0x07, 0x2D, 0x4B, 0x00, 0x37, 0x05, 0xF7}},
        // Incomplete: the services wait for its rest, and no buffer is used.
        {"no end", {0xF0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x37, 0x05}},
    };
    const midi::MidiHandle input = InputHandle(0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Inject(0, c.bytes);
        EXPECT_TRUE(panel.received.empty());
        EXPECT_EQ(sim->QueuedBuffers(input), 32u);
    }
}

// The long-message table (LongMessageTable.h) on the simulated units.
class LongMessagesOnSim : public Transfer {
  public:
    void Send(const std::wstring& text) {
        panel.Send(text);
        loop.RunPending();
    }
    bool Await(const std::function<bool()>& done) {
        for (int ms = 0; ms < 1000 && !done(); ++ms) Advance(1);
        return done();
    }
    const std::vector<std::wstring>& Received() { return panel.received; }
    bool ReachedUnit(const Bytes& message) {
        for (const auto& sent : sim->SentMessages())
            if (sent.bytes == message) return true;
        return false;
    }
    size_t QueuedBuffers() { return sim->QueuedBuffers(InputHandle(0)); }
    int Attempts() { return 1; }
};

TEST_F(LongMessagesOnSim, ArriveWholeOrAreDroppedWithAWarning) {
    miditest::WalkLongMessagesIn(*this);
}

TEST_F(LongMessagesOnSim, GoOutWholeUpToTheBound) {
    miditest::WalkLongMessagesOut(*this);
}

TEST_F(Transfer, BytesThatAreNoUnitMessageAreDroppedWithAWarning) {
    struct Case {
        const char* name;
        Bytes bytes;
        const char* warning;  // null: no warning
    };
    const Case cases[] = {
        {"other maker",
         {0xF0, 0x7E, 0x7F, 0x06, 0x02, 0xF7},
         "of 6 bytes on input \"in0\" dropped: too short"},
        {"other maker, long enough",
         {0xF0, 0x00, 0x11, 0x23, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x37, 0x05, 0xF7},
         "of 12 bytes on input \"in0\" dropped: not of this maker"},
        {"no id",
         {0xF0, 0x00, 0x11, 0x22, 0x11, 0xFF, 0x2D, 0x4B, 0x00, 0x37, 0x05, 0xF7},
         "of 12 bytes on input \"in0\" dropped: it carries no id"},
        {"unknown type",
         {0xF0, 0x00, 0x11, 0x22, 0x10, 0x07, 0x2D, 0x4B, 0x00, 0x37, 0x05, 0xF7},
         "of 12 bytes from unit 0012d687 on input \"in0\" dropped: no unit has its type"},
        {"no value",
         {0xF0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x37, 0xF7},
         "of 11 bytes from unit 0012d687 on input \"in0\" dropped: it carries no value"},
        // The probe, as a loopback port echoes it: not worth a warning.
        {"to every unit",
         {0xF0, 0x00, 0x11, 0x22, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0xF7},
         nullptr},
        // Short messages are no system-exclusive input at all.
        {"note on", {0x90, 0x40, 0x7F}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        korvotest::WarningLog warnings;
        Inject(0, c.bytes);
        EXPECT_TRUE(panel.received.empty());
        if (c.warning == nullptr) {
            EXPECT_EQ(warnings.All(), std::vector<std::string>{});
            continue;
        }
        ASSERT_EQ(warnings.All().size(), 1u);
        EXPECT_NE(warnings.All()[0].find(c.warning), std::string::npos) << warnings.All()[0];
    }
}

TEST_F(Transfer, AnIncompleteBufferIsDroppedWithAWarningAndReplaced) {
    korvotest::WarningLog warnings;
    const midi::MidiHandle input = InputHandle(0);
    const int attempts = sim->addAttempts;
    // A buffer the services return as incomplete, as another implementation may.
    auto* header = new midi::MidiHeader{};
    const Bytes part = {0xF0, 0x00, 0x11, 0x22, 0x11, 0x07};
    header->data = new uint8_t[part.size()];
    std::copy(part.begin(), part.end(), header->data);
    header->bufferLength = header->bytesRecorded = uint32_t(part.size());
    ASSERT_EQ(sim->InPrepareHeader(input, header), midi::MMSYSERR_NOERROR);
    TannevaleMidi::InputCallback(input, midi::MIM_LONGERROR, reinterpret_cast<uintptr_t>(module),
                                 reinterpret_cast<uintptr_t>(header), 0);
    loop.RunPending();
    EXPECT_TRUE(panel.received.empty());
    ASSERT_EQ(warnings.All().size(), 1u);
    EXPECT_NE(
        warnings.All()[0].find("of 6 bytes on input \"in0\" dropped: it came back incomplete"),
        std::string::npos)
        << warnings.All()[0];
    // It was released and a new buffer queued in its place.
    EXPECT_EQ(sim->addAttempts, attempts + 1);
    EXPECT_EQ(sim->QueuedBuffers(input), 33u);
}

TEST_F(Transfer, AReplyAlreadyPostedWhenThePortClosesIsFreedWithoutReplacement) {
    // The reply is posted but not yet handled when "Reset" closes every port;
    // the port's queued buffers come back through the same path.
    sim->InjectInput(0, UnitSimulator::Message(0x11, 1234567, 0x37, 5));
    const int attempts = sim->addAttempts;
    panel.Reset(1);
    loop.RunPending();
    EXPECT_TRUE(panel.received.empty());
    EXPECT_EQ(sim->addAttempts, attempts);
    EXPECT_EQ(module->Inputs().Count(), 0);
}

TEST_F(Transfer, SendBeforeTheFirstScanOrAfterARestartSendsNothing) {
    size_t mark = Mark();
    panel.Reset(0);
    EXPECT_EQ(module->State(), TannevaleMidi::ScanPending);
    panel.Send(L"0012d6871001");
    EXPECT_EQ(SentSince(mark).size(), 0u);

    TearDown();
    Boot(Layout(1, 1, {UnitOn(0x11, 1234567, {0}, {0})}));
    panel.Send(L"0012d6871003");
    Advance(TannevaleMidi::ScanDelayMs - 1);
    EXPECT_EQ(Mark(), 0u);
}

}  // namespace
