// The buffer life cycle, handles and routing, on the simulated backend.
#include <gtest/gtest.h>

#include "MidiTestSupport.h"
#include "SimServices.h"
#include "UnitSimulator.h"
#include "support/WarningLog.h"

using namespace midi;
using miditest::BufferSet;
using miditest::Bytes;
using miditest::Recorder;

namespace {

const std::vector<uint8_t> Probe = Bytes({0xF0, 0x00, 0x11, 0x22, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0xF7});

SimLayout Synchronous(SimLayout layout) {
    layout.synchronous = true;
    return layout;
}

SimLayout OneUnit(uint8_t type = 0x11, int32_t id = 1234567) {
    SimUnit unit;
    unit.type = type;
    unit.id = id;
    return Synchronous(SimLayoutForUnits({unit}));
}

// An opened input with queued buffers and an opened output, with their notices.
struct Rig {
    explicit Rig(SimServices& services, unsigned inPort = 0, unsigned outPort = 0, int buffers = 4)
        : services(services) {
        EXPECT_EQ(services.InOpen(&in, inPort, Recorder::Callback, inputs.Instance()), MMSYSERR_NOERROR);
        EXPECT_EQ(services.OutOpen(&out, outPort, Recorder::Callback, outputs.Instance()), MMSYSERR_NOERROR);
        queued = set.Queue(services, in, buffers);
        EXPECT_EQ(services.InStart(in), MMSYSERR_NOERROR);
    }
    // The ports close before the recorders and buffers go away.
    ~Rig() {
        services.InReset(in);
        services.InClose(in);
        services.OutClose(out);
        if (auto* sim = dynamic_cast<SimServices*>(&services)) sim->WaitIdle();
    }
    unsigned Send(const std::vector<uint8_t>& bytes) {
        MidiHeader* h = set.Message(bytes);
        unsigned r = services.OutPrepareHeader(out, h);
        return r == MMSYSERR_NOERROR ? services.OutLongMsg(out, h) : r;
    }
    SimServices& services;
    MidiHandle in = 0, out = 0;
    Recorder inputs, outputs;
    BufferSet set;
    std::vector<MidiHeader*> queued;
};

TEST(SimServices, ProbeIsAnsweredInAQueuedBufferAfterTheDoneNotice) {
    SimServices sim(OneUnit());
    Rig rig(sim);
    ASSERT_EQ(rig.Send(Probe), MMSYSERR_NOERROR);

    auto done = rig.outputs.Of(MOM_DONE);
    ASSERT_EQ(done.size(), 1u);
    auto* header = reinterpret_cast<MidiHeader*>(done[0].param1);
    EXPECT_TRUE(header->flags & MHDR_DONE);
    EXPECT_FALSE(header->flags & MHDR_INQUEUE);
    EXPECT_EQ(sim.OutUnprepareHeader(rig.out, header), MMSYSERR_NOERROR);

    auto data = rig.inputs.Of(MIM_LONGDATA);
    ASSERT_EQ(data.size(), 1u);
    EXPECT_EQ(data[0].handle, rig.in);
    EXPECT_EQ(data[0].param1, reinterpret_cast<uintptr_t>(rig.queued[0]));  // first queued buffer first
    EXPECT_EQ(data[0].bytes, UnitSimulator::Message(0x11, 1234567, 0x03, 0x00));
    EXPECT_EQ(sim.QueuedBuffers(rig.in), 3u);
}

TEST(SimServices, PollIsAnsweredWithAStateReport) {
    SimServices sim(OneUnit(0x0A, 42));
    Rig rig(sim);
    ASSERT_EQ(rig.Send(UnitSimulator::Message(0x0A, 42, 0x02, 0x04)), MMSYSERR_NOERROR);
    auto data = rig.inputs.Of(MIM_LONGDATA);
    ASSERT_EQ(data.size(), 1u);
    ASSERT_GE(data[0].bytes.size(), 12u);
    EXPECT_EQ(data[0].bytes[9], 0x04);
    EXPECT_EQ(sim.SentMessages().size(), 1u);
    EXPECT_EQ(sim.SentMessages()[0].bytes, UnitSimulator::Message(0x0A, 42, 0x02, 0x04));
}

TEST(SimServices, InputFillsQueuedBuffersByTable) {
    std::vector<uint8_t> longMessage(2500, 0x33);
    longMessage.front() = 0xF0;
    longMessage.back() = 0xF7;
    const std::vector<uint8_t> head(longMessage.begin(), longMessage.begin() + 1000);
    const std::vector<uint8_t> tail(longMessage.begin() + 1000, longMessage.end());
    struct Row {
        const char* what;
        int buffers;
        bool growable;
        std::vector<std::vector<uint8_t>> events;
        std::vector<std::pair<unsigned, size_t>> notices;  // (code, recorded bytes)
        uint64_t dropped;
        const char* warning;  // what the one warning says, or null for none
    } rows[] = {
        {"one message, one buffer", 2, false, {Probe}, {{MIM_LONGDATA, 12}}, 0, nullptr},
        {"a long message comes whole in a growable buffer",
         2,
         true,
         {longMessage},
         {{MIM_LONGDATA, 2500}},
         0,
         nullptr},
        {"a long message in two events comes whole",
         2,
         true,
         {head, tail},
         {{MIM_LONGDATA, 2500}},
         0,
         nullptr},
        {"a buffer that may not grow: dropped",
         4,
         false,
         {longMessage},
         {},
         2500,
         "of 2500 bytes dropped: longer than the queued buffer of 1024 bytes"},
        {"no buffer: dropped",
         0,
         true,
         {Probe},
         {},
         12,
         "of 12 bytes dropped: no input buffer was queued"},
        {"no end of exclusive yet: nothing", 2, true, {Bytes({0xF0, 0x00, 0x11})}, {}, 0, nullptr},
        {"cut short by a note: dropped, the note passes",
         2,
         true,
         {Bytes({0xF0, 0x00, 0x11}), Bytes({0x90, 0x40, 0x7F})},
         {{MIM_DATA, 0}},
         3,
         "of 3 bytes dropped: cut short by status byte 0x90 before its F7"},
        {"over the bound: dropped",
         2,
         true,
         {std::vector<uint8_t>(MaxLongMessage + 1, 0x01)},
         {},
         0,
         nullptr},
        {"11-byte message",
         2,
         false,
         {Bytes({0xF0, 0x00, 0x11, 0x22, 0x11, 0x07, 0x2D, 0x4B, 0x00, 0x37, 0xF7})},
         {{MIM_LONGDATA, 11}},
         0,
         nullptr},
        {"note on", 2, false, {Bytes({0x90, 0x40, 0x7F})}, {{MIM_DATA, 0}}, 0, nullptr},
        {"clock", 2, false, {Bytes({0xF8})}, {{MIM_DATA, 0}}, 0, nullptr},
        {"truncated note", 2, false, {Bytes({0x90, 0x40})}, {{MIM_ERROR, 0}}, 0, nullptr},
        {"data byte first", 2, false, {Bytes({0x40, 0x7F})}, {{MIM_ERROR, 0}}, 0, nullptr},
        {"undefined status", 2, false, {Bytes({0xF4})}, {{MIM_ERROR, 0}}, 0, nullptr},
    };
    // The over-bound row: a real message, F0 .. F7.
    rows[7].events[0].front() = 0xF0;
    rows[7].events[0].back() = 0xF7;
    rows[7].dropped = MaxLongMessage + 1;
    rows[7].warning = "of 65537 bytes dropped: longer than the bound of 65536 bytes";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        korvotest::WarningLog warnings;
        Recorder rec;  // outlives the services, which close their ports last
        BufferSet set;
        SimServices sim(Synchronous(SimLayoutForUnits({})));
        unsigned port = sim.AddInputPort(L"raw");
        MidiHandle in = 0;
        ASSERT_EQ(sim.InOpen(&in, port, Recorder::Callback, rec.Instance()), MMSYSERR_NOERROR);
        set.Queue(sim, in, row.buffers, 1024, row.growable);
        sim.InStart(in);
        for (const auto& event : row.events) sim.InjectInput(port, event);
        std::vector<std::pair<unsigned, size_t>> got;
        for (auto& n : rec.Take())
            if (n.code != MIM_OPEN) got.emplace_back(n.code, n.bytes.size());
        EXPECT_EQ(got, row.notices);
        EXPECT_EQ(sim.DroppedBytes(), row.dropped);
        if (row.warning) {
            ASSERT_EQ(warnings.All().size(), 1u);
            EXPECT_NE(warnings.All()[0].find(row.warning), std::string::npos) << warnings.All()[0];
            EXPECT_NE(warnings.All()[0].find("MIDI input \"raw\""), std::string::npos)
                << warnings.All()[0];
        } else {
            EXPECT_EQ(warnings.All(), std::vector<std::string>{});
        }
        // The rest of the queue is still there.
        size_t filled = 0;
        for (auto& n : got) filled += n.first == MIM_LONGDATA;
        EXPECT_EQ(sim.QueuedBuffers(in), size_t(row.buffers) - filled);
    }
}

TEST(SimServices, AMessageOpenWhenItsPortStopsIsDroppedWithAWarning) {
    korvotest::WarningLog warnings;
    Recorder rec;
    BufferSet set;
    SimServices sim(Synchronous(SimLayoutForUnits({})));
    unsigned port = sim.AddInputPort(L"raw");
    MidiHandle in = 0;
    ASSERT_EQ(sim.InOpen(&in, port, Recorder::Callback, rec.Instance()), MMSYSERR_NOERROR);
    set.Queue(sim, in, 4, 1024, true);
    sim.InStart(in);
    sim.InjectInput(port, Bytes({0xF0, 0x00, 0x11, 0x22, 0x11}));
    ASSERT_EQ(sim.InReset(in), MMSYSERR_NOERROR);
    ASSERT_EQ(warnings.All().size(), 1u);
    EXPECT_NE(warnings.All()[0].find("of 5 bytes dropped: its port was stopped before its F7"),
              std::string::npos);
    // The buffers came back empty; none of the bytes reached one.
    for (auto& n : rec.Of(MIM_LONGDATA)) EXPECT_TRUE(n.bytes.empty());
    EXPECT_EQ(sim.InClose(in), MMSYSERR_NOERROR);
}

TEST(SimServices, ShortMessagesArrivePacked) {
    Recorder rec;
    SimServices sim(Synchronous(SimLayoutForUnits({})));
    unsigned port = sim.AddInputPort(L"raw");
    MidiHandle in = 0;
    ASSERT_EQ(sim.InOpen(&in, port, Recorder::Callback, rec.Instance()), MMSYSERR_NOERROR);
    sim.InStart(in);
    sim.InjectInput(port, Bytes({0x90, 0x40, 0x7F}));
    auto data = rec.Of(MIM_DATA);
    ASSERT_EQ(data.size(), 1u);
    EXPECT_EQ(data[0].param1, 0x7F4090u);
}

TEST(SimServices, InputIsIgnoredUntilStartedAndAfterStop) {
    SimServices sim(OneUnit());
    Rig rig(sim);
    sim.InStop(rig.in);
    rig.Send(Probe);
    sim.InjectInput(0, Probe);
    EXPECT_TRUE(rig.inputs.Of(MIM_LONGDATA).empty());
    sim.InStart(rig.in);
    sim.InjectInput(0, Probe);
    EXPECT_EQ(rig.inputs.Of(MIM_LONGDATA).size(), 1u);
}

TEST(SimServices, ResetReturnsEveryQueuedBufferEmpty) {
    SimServices sim(OneUnit());
    Rig rig(sim, 0, 0, 32);
    ASSERT_EQ(rig.queued.size(), 32u);
    EXPECT_EQ(sim.InClose(rig.in), MIDIERR_STILLPLAYING);  // buffers still queued
    EXPECT_EQ(sim.InUnprepareHeader(rig.in, rig.queued[0]), MIDIERR_STILLPLAYING);
    ASSERT_EQ(sim.InStop(rig.in), MMSYSERR_NOERROR);
    ASSERT_EQ(sim.InReset(rig.in), MMSYSERR_NOERROR);

    auto returned = rig.inputs.Of(MIM_LONGDATA);
    ASSERT_EQ(returned.size(), 32u);
    for (size_t i = 0; i < returned.size(); ++i) {
        auto* h = reinterpret_cast<MidiHeader*>(returned[i].param1);
        EXPECT_EQ(h, rig.queued[i]);
        EXPECT_EQ(h->bytesRecorded, 0u);
        EXPECT_TRUE(h->flags & MHDR_DONE);
        EXPECT_FALSE(h->flags & MHDR_INQUEUE);
    }
    EXPECT_EQ(sim.InUnprepareHeader(rig.in, rig.queued[0]), MMSYSERR_NOERROR);
    EXPECT_EQ(sim.InClose(rig.in), MMSYSERR_NOERROR);
    // A buffer handed back after its port closed is recognised by the failing unprepare.
    EXPECT_EQ(sim.InUnprepareHeader(rig.in, rig.queued[1]), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(rig.inputs.Of(MIM_CLOSE).size(), 1u);
}

TEST(SimServices, HandlesAreNeverReused) {
    SimServices sim(OneUnit());
    std::vector<MidiHandle> seen;
    for (int round = 0; round < 5; ++round) {
        MidiHandle in = 0, out = 0;
        ASSERT_EQ(sim.InOpen(&in, 0, nullptr, 0), MMSYSERR_NOERROR);
        ASSERT_EQ(sim.OutOpen(&out, 0, nullptr, 0), MMSYSERR_NOERROR);
        for (MidiHandle h : {in, out}) {
            EXPECT_NE(h, 0u);
            EXPECT_EQ(std::count(seen.begin(), seen.end(), h), 0);
            seen.push_back(h);
        }
        EXPECT_EQ(sim.InClose(in), MMSYSERR_NOERROR);
        EXPECT_EQ(sim.OutClose(out), MMSYSERR_NOERROR);
    }
}

TEST(SimServices, ClosedAndWrongHandlesFail) {
    SimServices sim(OneUnit());
    BufferSet set;
    MidiHandle in = 0, out = 0;
    ASSERT_EQ(sim.InOpen(&in, 0, nullptr, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(sim.OutOpen(&out, 0, nullptr, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(sim.InClose(in), MMSYSERR_NOERROR);
    ASSERT_EQ(sim.OutClose(out), MMSYSERR_NOERROR);
    MidiHeader* h = set.Make(1024);
    struct Row {
        const char* what;
        unsigned result;
    } rows[] = {
        {"InPrepareHeader", sim.InPrepareHeader(in, h)},
        {"InUnprepareHeader", sim.InUnprepareHeader(in, h)},
        {"InAddBuffer", sim.InAddBuffer(in, h)},
        {"InStart", sim.InStart(in)},
        {"InStop", sim.InStop(in)},
        {"InReset", sim.InReset(in)},
        {"InClose", sim.InClose(in)},
        {"OutPrepareHeader", sim.OutPrepareHeader(out, h)},
        {"OutUnprepareHeader", sim.OutUnprepareHeader(out, h)},
        {"OutLongMsg", sim.OutLongMsg(out, h)},
        {"OutClose", sim.OutClose(out)},
        {"never opened", sim.InStart(999)},
        {"no handle", sim.OutClose(0)},
    };
    for (const Row& row : rows) EXPECT_EQ(row.result, MMSYSERR_INVALHANDLE) << row.what;
    // A handle of the other direction is no handle either.
    MidiHandle in2 = 0, out2 = 0;
    ASSERT_EQ(sim.InOpen(&in2, 0, nullptr, 0), MMSYSERR_NOERROR);
    ASSERT_EQ(sim.OutOpen(&out2, 0, nullptr, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(sim.OutClose(in2), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(sim.InStart(out2), MMSYSERR_INVALHANDLE);
}

TEST(SimServices, HeadersAreCheckedBeforeUse) {
    SimServices sim(OneUnit());
    Rig rig(sim, 0, 0, 0);
    MidiHeader* unprepared = rig.set.Make(1024);
    MidiHeader empty;
    EXPECT_EQ(sim.InAddBuffer(rig.in, unprepared), MIDIERR_UNPREPARED);
    EXPECT_EQ(sim.OutLongMsg(rig.out, unprepared), MIDIERR_UNPREPARED);
    EXPECT_EQ(sim.InPrepareHeader(rig.in, nullptr), MMSYSERR_INVALPARAM);
    EXPECT_EQ(sim.InPrepareHeader(rig.in, &empty), MMSYSERR_INVALPARAM);
    EXPECT_EQ(sim.OutPrepareHeader(rig.out, &empty), MMSYSERR_INVALPARAM);
    EXPECT_EQ(sim.OutLongMsg(rig.out, nullptr), MMSYSERR_INVALPARAM);
    // Prepared for the input, the header is not prepared for the output.
    ASSERT_EQ(sim.InPrepareHeader(rig.in, unprepared), MMSYSERR_NOERROR);
    EXPECT_EQ(sim.OutLongMsg(rig.out, unprepared), MIDIERR_UNPREPARED);
    ASSERT_EQ(sim.InAddBuffer(rig.in, unprepared), MMSYSERR_NOERROR);
    EXPECT_EQ(sim.InAddBuffer(rig.in, unprepared), MIDIERR_STILLPLAYING);  // not twice in the queue
    MidiHandle none = 0;
    EXPECT_EQ(sim.InOpen(&none, 5, nullptr, 0), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(none, 0u);
    EXPECT_EQ(sim.OutOpen(nullptr, 0, nullptr, 0), MMSYSERR_INVALPARAM);
    sim.InReset(rig.in);
}

TEST(SimServices, UnitsAnswerWhereTheLayoutRoutesThem) {
    // Outputs 0..2, inputs 0..2. Unit A listens on outputs 0 and 1 and answers on
    // inputs 0 and 2; unit B listens on output 1 and answers on input 1; output 2
    // and the inputs' other traffic stay silent.
    SimLayout layout;
    layout.synchronous = true;
    layout.inputs = {L"in 0", L"in 1", L"in 2"};
    layout.outputs = {L"out 0", L"out 1", L"out 2"};
    SimUnit a, b;
    a.type = 0x11, a.id = 100, a.listensOn = {0, 1}, a.answersOn = {0, 2};
    b.type = 0x0A, b.id = 200, b.listensOn = {1}, b.answersOn = {1};
    layout.units = {a, b};
    Recorder rec;
    BufferSet set;
    SimServices sim(layout);

    std::wstring name;
    EXPECT_EQ(sim.InGetDevCaps(2, &name), MMSYSERR_NOERROR);
    EXPECT_EQ(name, L"in 2");
    EXPECT_EQ(sim.OutGetDevCaps(3, &name), MMSYSERR_BADDEVICEID);

    MidiHandle in[3], out[3];
    for (unsigned i = 0; i < 3; ++i) {
        ASSERT_EQ(sim.InOpen(&in[i], i, Recorder::Callback, rec.Instance()), MMSYSERR_NOERROR);
        ASSERT_EQ(sim.OutOpen(&out[i], i, nullptr, 0), MMSYSERR_NOERROR);
        set.Queue(sim, in[i], 8);
        sim.InStart(in[i]);
    }
    auto answersPerInput = [&](unsigned output) {
        rec.Take();
        MidiHeader* h = set.Message(Probe);
        sim.OutPrepareHeader(out[output], h);
        sim.OutLongMsg(out[output], h);
        std::vector<std::vector<int32_t>> ids(3);
        for (auto& n : rec.Take()) {
            if (n.code != MIM_LONGDATA) continue;
            for (unsigned i = 0; i < 3; ++i)
                if (n.handle == in[i]) ids[i].push_back(n.bytes[5] | n.bytes[6] << 7);
        }
        return ids;
    };
    using Ids = std::vector<std::vector<int32_t>>;
    EXPECT_EQ(answersPerInput(0), (Ids{{100}, {}, {100}}));
    EXPECT_EQ(answersPerInput(1), (Ids{{100}, {200}, {100}}));
    EXPECT_EQ(answersPerInput(2), (Ids{{}, {}, {}}));
    for (unsigned i = 0; i < 3; ++i) sim.InReset(in[i]);
}

TEST(SimServices, LateAnswerWaitsForTheClock) {
    SimUnit unit;
    unit.type = 0x12, unit.id = 77, unit.replyDelayMs = 250;
    SimServices sim(Synchronous(SimLayoutForUnits({unit})));
    uint64_t now = 1000;
    sim.SetClock([&] { return now; });
    Rig rig(sim);
    rig.Send(Probe);
    EXPECT_EQ(rig.outputs.Of(MOM_DONE).size(), 1u);  // the send itself is done at once
    EXPECT_TRUE(rig.inputs.Of(MIM_LONGDATA).empty());
    now += 249;
    EXPECT_EQ(sim.Pump(), 0);
    now += 1;
    EXPECT_EQ(sim.Pump(), 1);
    ASSERT_EQ(rig.inputs.Of(MIM_LONGDATA).size(), 1u);
    EXPECT_EQ(rig.inputs.Of(MIM_LONGDATA)[0].bytes, UnitSimulator::Message(0x12, 77, 0x03, 0x00));
}

TEST(SimServices, HotPlugChangesTheCountsAndSilencesRemovedPorts) {
    SimServices sim(OneUnit());
    Rig rig(sim);
    EXPECT_EQ(sim.InGetNumDevs(), 1u);
    EXPECT_EQ(sim.AddInputPort(L"new in"), 1u);
    EXPECT_EQ(sim.AddOutputPort(L"new out"), 1u);
    EXPECT_EQ(sim.InGetNumDevs(), 2u);
    EXPECT_EQ(sim.OutGetNumDevs(), 2u);
    ASSERT_TRUE(sim.RemoveInputPort(0));
    EXPECT_FALSE(sim.RemoveInputPort(5));
    EXPECT_EQ(sim.InGetNumDevs(), 1u);
    std::wstring name;
    ASSERT_EQ(sim.InGetDevCaps(0, &name), MMSYSERR_NOERROR);
    EXPECT_EQ(name, L"new in");
    // The open handle of the removed input stays valid but hears nothing more.
    rig.Send(Probe);
    EXPECT_TRUE(rig.inputs.Of(MIM_LONGDATA).empty());
    EXPECT_EQ(sim.InReset(rig.in), MMSYSERR_NOERROR);
    EXPECT_EQ(sim.InClose(rig.in), MMSYSERR_NOERROR);
}

TEST(SimServices, ThreadedModeDeliversOnItsOwnThread) {
    SimUnit unit;
    unit.type = 0x11, unit.id = 5;
    SimServices sim(SimLayoutForUnits({unit}));
    Rig rig(sim);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(rig.Send(Probe), MMSYSERR_NOERROR);
    sim.WaitIdle();
    auto data = rig.inputs.Of(MIM_LONGDATA);
    auto done = rig.outputs.Of(MOM_DONE);
    ASSERT_EQ(data.size(), 3u);
    ASSERT_EQ(done.size(), 3u);
    EXPECT_NE(data[0].thread, std::this_thread::get_id());
    EXPECT_NE(done[0].thread, std::this_thread::get_id());
    sim.InReset(rig.in);
}

// The threaded simulator hands a run of sends to its worker in batches; the
// callbacks must still come in the order of sending: each header back once,
// before the answer it caused, and injected input between the sends it was
// injected between.
TEST(SimServices, ThreadedBurstKeepsTheOrderOfSending) {
    SimUnit unit;
    unit.type = 0x11, unit.id = 5;
    SimServices sim(SimLayoutForUnits({unit}));
    Recorder rec;  // one recorder for both ports: it sees the order across them
    BufferSet set;
    MidiHandle in = 0, out = 0;
    ASSERT_EQ(sim.InOpen(&in, 0, Recorder::Callback, rec.Instance()), MMSYSERR_NOERROR);
    ASSERT_EQ(sim.OutOpen(&out, 0, Recorder::Callback, rec.Instance()), MMSYSERR_NOERROR);
    set.Queue(sim, in, 40);
    sim.InStart(in);
    const std::vector<uint8_t> Other = Bytes({0xF0, 0x7D, 0x01, 0xF7});

    // Reads of parameters 0..15: each answer (command 0x21) names its parameter.
    std::vector<MidiHeader*> sent;
    for (uint8_t index = 0; index < UnitSimulator::ParameterCount; ++index) {
        if (index == 8) sim.InjectInput(0, Other);
        MidiHeader* h = set.Message(UnitSimulator::Message(0x11, 5, 0x20, index));
        ASSERT_EQ(sim.OutPrepareHeader(out, h), MMSYSERR_NOERROR);
        ASSERT_EQ(sim.OutLongMsg(out, h), MMSYSERR_NOERROR);
        sent.push_back(h);
    }
    sim.WaitIdle();

    std::vector<miditest::Notice> seen;
    for (auto& n : rec.Take())
        if (n.code == MOM_DONE || n.code == MIM_LONGDATA) seen.push_back(n);
    ASSERT_EQ(seen.size(), 2 * sent.size() + 1);
    size_t at = 0;
    for (size_t index = 0; index < sent.size(); ++index) {
        if (index == 8) {
            EXPECT_EQ(seen[at].code, unsigned(MIM_LONGDATA));
            EXPECT_EQ(seen[at++].bytes, Other);
        }
        EXPECT_EQ(seen[at].code, unsigned(MOM_DONE)) << "message " << index;
        EXPECT_EQ(seen[at++].param1, reinterpret_cast<uintptr_t>(sent[index]));
        EXPECT_EQ(seen[at].code, unsigned(MIM_LONGDATA)) << "message " << index;
        ASSERT_GE(seen[at].bytes.size(), 12u);
        EXPECT_EQ(seen[at].bytes[9], 0x21);
        EXPECT_EQ(seen[at++].bytes[10], index);
    }
    sim.InReset(in);
    sim.InClose(in);
    sim.OutClose(out);
    sim.WaitIdle();
}

TEST(SimServices, ClosingAnOutputStillHandsBackItsMessages) {
    SimUnit unit;
    unit.type = 0x11, unit.id = 5, unit.replyDelayMs = 50;
    SimServices sim(SimLayoutForUnits({unit}));
    Rig rig(sim);
    ASSERT_EQ(rig.Send(Probe), MMSYSERR_NOERROR);
    ASSERT_EQ(sim.OutClose(rig.out), MMSYSERR_NOERROR);
    sim.WaitIdle();
    EXPECT_EQ(rig.outputs.Of(MOM_DONE).size(), 1u);
    EXPECT_EQ(rig.outputs.Of(MOM_CLOSE).size(), 1u);
    sim.InReset(rig.in);
}

TEST(SimServices, NoInputNoticeArrivesAfterCloseReturned) {
    Recorder rec;
    BufferSet set;
    SimServices sim(SimLayoutForUnits({}));
    unsigned port = sim.AddInputPort(L"busy");
    MidiHandle in = 0;
    ASSERT_EQ(sim.InOpen(&in, port, Recorder::Callback, rec.Instance()), MMSYSERR_NOERROR);
    set.Queue(sim, in, 500);
    sim.InStart(in);
    for (int i = 0; i < 500; ++i) sim.InjectInput(port, Probe);  // delivered by the sim's thread meanwhile
    ASSERT_EQ(sim.InReset(in), MMSYSERR_NOERROR);
    ASSERT_EQ(sim.InClose(in), MMSYSERR_NOERROR);
    size_t atClose = rec.Of(MIM_LONGDATA).size();
    sim.WaitIdle();
    EXPECT_EQ(rec.Of(MIM_LONGDATA).size(), atClose);
    EXPECT_EQ(atClose, 500u);  // every buffer came back once: filled or by the reset
}

TEST(SimServices, DefaultLayoutHasOneUnitOfEachType) {
    unsetenv("KORVO_SIM_UNITS");
    SimLayout layout = SimLayoutFromEnvironment();
    ASSERT_EQ(layout.units.size(), 4u);
    EXPECT_EQ(layout.inputs.size(), 4u);
    std::vector<int> types;
    for (auto& u : layout.units) types.push_back(u.type);
    EXPECT_EQ(types, (std::vector<int>{0x0A, 0x0B, 0x11, 0x12}));
    setenv("KORVO_SIM_UNITS", "11:1234567,0a:42", 1);
    layout = SimLayoutFromEnvironment();
    unsetenv("KORVO_SIM_UNITS");
    ASSERT_EQ(layout.units.size(), 2u);
    EXPECT_EQ(layout.inputs[0], L"Sim 11:1234567");
    EXPECT_EQ(layout.units[1].answersOn, std::vector<unsigned>{1});
    EXPECT_FALSE(layout.recordSent);  // a demo may run for days
}

}  // namespace
