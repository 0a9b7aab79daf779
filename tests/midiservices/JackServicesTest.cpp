// The JACK backend against a private server, with the unit simulator program as
// the peer. Messages can be lost now and then on an unprivileged dummy server,
// so a request that found no answer is sent once more before the test fails.
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <thread>

#include "JackServices.h"
#include "JackTestServer.h"
#include "MidiTestSupport.h"
#include "UnitSimulator.h"
#include "support/WarningLog.h"

using namespace midi;
using miditest::BufferSet;
using miditest::Recorder;
using std::chrono::milliseconds;

namespace {

const std::vector<uint8_t> Probe = miditest::Bytes({0xF0, 0x00, 0x11, 0x22, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0xF7});

int FindDevice(bool input, MidiServices& services, const std::wstring& suffix) {
    unsigned count = input ? services.InGetNumDevs() : services.OutGetNumDevs();
    for (unsigned i = 0; i < count; ++i) {
        std::wstring name;
        if ((input ? services.InGetDevCaps(i, &name) : services.OutGetDevCaps(i, &name)) != MMSYSERR_NOERROR) break;
        if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            return int(i);
    }
    return -1;
}

bool WaitUntil(const std::function<bool()>& condition, milliseconds timeout) {
    auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(milliseconds(10));
    }
    return true;
}

class JackServicesTest : public testing::Test {
protected:
    void SetUp() override {
        // Named after the test: each test's server has a name of its own.
        std::string name =
            std::string("korvo-") + testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace_if(
            name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '-');
        server = std::make_unique<miditest::JackTestServer>(name);
        ASSERT_TRUE(server->Ready()) << server->Why();
    }
    void TearDown() override {
        jack.reset();
        simulator.reset();
        server.reset();
    }
    void StartSimulator(const std::string& units) {
        simulator = std::make_unique<miditest::SimulatorProcess>(units);
        ASSERT_TRUE(simulator->Ready()) << "the simulator program did not start";
    }
    // Sends bytes on out and waits for `count` input buffers; sends once more if
    // nothing came (one lost event is tolerated).
    bool SendAndAwait(MidiHandle out, const std::vector<uint8_t>& bytes, Recorder& inputs, size_t count) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            MidiHeader* h = set.Message(bytes);
            if (jack->OutPrepareHeader(out, h) != MMSYSERR_NOERROR) return false;
            if (jack->OutLongMsg(out, h) != MMSYSERR_NOERROR) return false;
            if (inputs.WaitFor(MIM_LONGDATA, count, milliseconds(1500))) return true;
        }
        return false;
    }

    std::unique_ptr<miditest::JackTestServer> server;
    std::unique_ptr<miditest::SimulatorProcess> simulator;
    std::unique_ptr<JackServices> jack;
    BufferSet set;
};

TEST_F(JackServicesTest, EnumeratesOpensAndGetsTheProbeAnswered) {
    StartSimulator("11:1234567,0a:42");
    jack = JackServices::Create();
    ASSERT_TRUE(jack);
    // The simulator's two pairs; the server's audio ports and our own are no devices.
    EXPECT_EQ(jack->InGetNumDevs(), 2u);
    EXPECT_EQ(jack->OutGetNumDevs(), 2u);
    int inId = FindDevice(true, *jack, L":11-1234567-out");
    int outId = FindDevice(false, *jack, L":11-1234567-in");
    ASSERT_GE(inId, 0);
    ASSERT_GE(outId, 0);

    Recorder inputs, outputs;
    MidiHandle in = 0, out = 0;
    ASSERT_EQ(jack->InOpen(&in, unsigned(inId), Recorder::Callback, inputs.Instance()), MMSYSERR_NOERROR);
    ASSERT_EQ(jack->OutOpen(&out, unsigned(outId), Recorder::Callback, outputs.Instance()), MMSYSERR_NOERROR);
    EXPECT_EQ(jack->InGetNumDevs(), 2u);  // our own ports do not count
    EXPECT_EQ(jack->OutGetNumDevs(), 2u);
    set.Queue(*jack, in, 32);
    ASSERT_EQ(jack->InStart(in), MMSYSERR_NOERROR);

    ASSERT_TRUE(SendAndAwait(out, Probe, inputs, 1));
    auto data = inputs.Of(MIM_LONGDATA);
    EXPECT_EQ(data[0].bytes, UnitSimulator::Message(0x11, 1234567, 0x03, 0x00));
    EXPECT_NE(data[0].thread, std::this_thread::get_id());
    EXPECT_TRUE(outputs.WaitFor(MOM_DONE, 1, milliseconds(1000)));

    inputs.Take();
    ASSERT_TRUE(SendAndAwait(out, UnitSimulator::Message(0x11, 1234567, 0x10, 0x01), inputs, 1));
    data = inputs.Of(MIM_LONGDATA);
    ASSERT_GE(data[0].bytes.size(), 12u);
    EXPECT_EQ(data[0].bytes[9], 0x37);

    EXPECT_EQ(jack->InStop(in), MMSYSERR_NOERROR);
    EXPECT_EQ(jack->InReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(jack->QueuedBuffers(in), 0u);
    EXPECT_EQ(jack->InClose(in), MMSYSERR_NOERROR);
    EXPECT_EQ(jack->OutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(jack->InStart(in), MMSYSERR_INVALHANDLE);
}

TEST_F(JackServicesTest, DeviceCountsFollowThePeer) {
    jack = JackServices::Create();
    ASSERT_TRUE(jack);
    EXPECT_EQ(jack->InGetNumDevs(), 0u);
    StartSimulator("12:9");
    EXPECT_TRUE(WaitUntil([&] { return jack->InGetNumDevs() == 1 && jack->OutGetNumDevs() == 1; }, milliseconds(3000)));
    ASSERT_TRUE(simulator->Stop());
    EXPECT_TRUE(WaitUntil([&] { return jack->InGetNumDevs() == 0 && jack->OutGetNumDevs() == 0; }, milliseconds(3000)));
    StartSimulator("12:9,11:8");
    EXPECT_TRUE(WaitUntil([&] { return jack->InGetNumDevs() == 2 && jack->OutGetNumDevs() == 2; }, milliseconds(3000)));
}

TEST_F(JackServicesTest, LongSendsAreBoundedAndAlwaysHandedBack) {
    StartSimulator("11:1");
    jack = JackServices::Create();
    ASSERT_TRUE(jack);
    Recorder outputs;
    MidiHandle out = 0;
    ASSERT_EQ(jack->OutOpen(&out, 0, Recorder::Callback, outputs.Instance()), MMSYSERR_NOERROR);
    auto message = [](size_t length) {
        std::vector<uint8_t> m(length, 0x01);
        m.front() = 0xF0;
        m.back() = 0xF7;
        return m;
    };
    MidiHeader* tooLong = set.Message(message(MaxLongMessage + 1));
    ASSERT_EQ(jack->OutPrepareHeader(out, tooLong), MMSYSERR_NOERROR);
    EXPECT_EQ(jack->OutLongMsg(out, tooLong), MMSYSERR_INVALPARAM);
    EXPECT_FALSE(tooLong->flags & MHDR_INQUEUE);
    // Many of the largest messages at once: paced over several periods, each one done.
    for (int i = 0; i < 8; ++i) {
        MidiHeader* h = set.Message(message(MaxLongMessage));
        ASSERT_EQ(jack->OutPrepareHeader(out, h), MMSYSERR_NOERROR);
        ASSERT_EQ(jack->OutLongMsg(out, h), MMSYSERR_NOERROR);
    }
    EXPECT_TRUE(outputs.WaitFor(MOM_DONE, 8, milliseconds(3000)));
    // Messages still queued when the port closes come back as done too.
    for (int i = 0; i < 4; ++i) {
        MidiHeader* h = set.Message(message(MaxLongMessage));
        jack->OutPrepareHeader(out, h);
        ASSERT_EQ(jack->OutLongMsg(out, h), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(jack->OutClose(out), MMSYSERR_NOERROR);
    EXPECT_TRUE(outputs.WaitFor(MOM_DONE, 12, milliseconds(3000)));
}

TEST_F(JackServicesTest, ComesBackAfterTheServerRestarts) {
    StartSimulator("11:5");
    jack = JackServices::Create();
    ASSERT_TRUE(jack);
    EXPECT_EQ(jack->InGetNumDevs(), 1u);
    simulator.reset();
    const std::string name = server->Name();
    server.reset();
    EXPECT_TRUE(WaitUntil([&] { return jack->InGetNumDevs() == 0 && jack->OutGetNumDevs() == 0; }, milliseconds(3000)));

    server = std::make_unique<miditest::JackTestServer>(name);
    ASSERT_TRUE(server->Ready());
    StartSimulator("11:5,12:6");
    ASSERT_TRUE(WaitUntil([&] { return jack->InGetNumDevs() == 2 && jack->OutGetNumDevs() == 2; }, milliseconds(5000)));

    int inId = FindDevice(true, *jack, L":11-5-out"), outId = FindDevice(false, *jack, L":11-5-in");
    ASSERT_GE(inId, 0);
    ASSERT_GE(outId, 0);
    Recorder inputs;
    MidiHandle in = 0, out = 0;
    ASSERT_EQ(jack->InOpen(&in, unsigned(inId), Recorder::Callback, inputs.Instance()), MMSYSERR_NOERROR);
    ASSERT_EQ(jack->OutOpen(&out, unsigned(outId), nullptr, 0), MMSYSERR_NOERROR);
    set.Queue(*jack, in, 4);
    jack->InStart(in);
    EXPECT_TRUE(SendAndAwait(out, Probe, inputs, 1));
    jack->InReset(in);
    jack->InClose(in);
    jack->OutClose(out);
}

// A bare JACK client that sends one event from its output port.
struct RawSender {
    jack_client_t* client = nullptr;
    jack_port_t* port = nullptr;
    std::vector<std::vector<uint8_t>> events;  // all written in one period
    std::atomic<bool> pending{false};

    RawSender() {
        client = jack_client_open("korvo-raw-sender", JackNoStartServer, nullptr);
        if (!client) return;
        port = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(
            client,
            [](jack_nframes_t frames, void* arg) {
                auto* self = static_cast<RawSender*>(arg);
                void* buffer = jack_port_get_buffer(self->port, frames);
                jack_midi_clear_buffer(buffer);
                if (self->pending.exchange(false))
                    for (const auto& event : self->events) jack_midi_event_write(buffer, 0, event.data(), event.size());
                return 0;
            },
            this);
        jack_activate(client);
    }
    ~RawSender() {
        if (client) jack_client_close(client);
    }
    void Send(std::vector<uint8_t> bytes) { SendAll({std::move(bytes)}); }
    void SendAll(std::vector<std::vector<uint8_t>> all) {
        events = std::move(all);
        pending = true;
        WaitUntil([&] { return !pending; }, milliseconds(1000));
    }
};

// The backend with a bare sending client as its one peer, found among the inputs.
class JackRawInputTest : public JackServicesTest {
protected:
    void SetUp() override {
        JackServicesTest::SetUp();
        if (HasFatalFailure()) return;
        jack = JackServices::Create();
        ASSERT_TRUE(jack);
        sender = std::make_unique<RawSender>();
        ASSERT_TRUE(sender->client);
        inId = FindDevice(true, *jack, L"korvo-raw-sender:out");
        ASSERT_GE(inId, 0);
    }
    void TearDown() override {
        sender.reset();
        JackServicesTest::TearDown();
    }

    std::unique_ptr<RawSender> sender;
    int inId = -1;
};

TEST_F(JackRawInputTest, LongInputArrivesWholeOrIsDroppedWithAWarning) {
    auto sysex = [](size_t length) {
        std::vector<uint8_t> m(length, 0x22);
        m.front() = 0xF0;
        m.back() = 0xF7;
        return m;
    };
    const std::vector<uint8_t> split = sysex(30000);
    const std::vector<uint8_t> next = sysex(20);
    struct Row {
        const char* what;
        std::vector<std::vector<uint8_t>> events;  // all in one period
        size_t whole;                              // length of the message that arrives, or 0
        const char* warning;
    } rows[] = {
        {"one event", {sysex(2500)}, 2500, nullptr},
        {"three events, as a bridge splits a message",
         {{split.begin(), split.begin() + 10000},
          {split.begin() + 10000, split.begin() + 20000},
          {split.begin() + 20000, split.end()}},
         30000,
         nullptr},
        {"cut short by a note",
         {{split.begin(), split.begin() + 1000}, {0x90, 0x40, 0x7F}},
         0,
         "of 1000 bytes dropped: cut short by status byte 0x90 before its F7"},
    };
    Recorder inputs;
    MidiHandle in = 0;
    ASSERT_EQ(jack->InOpen(&in, unsigned(inId), Recorder::Callback, inputs.Instance()), MMSYSERR_NOERROR);
    set.Queue(*jack, in, 4, 1024, true);
    jack->InStart(in);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        korvotest::WarningLog warnings;
        inputs.Take();
        // The message, then a short one that must still arrive after it.
        std::vector<std::vector<uint8_t>> events = row.events;
        events.push_back(next);
        bool arrived = false;
        for (int attempt = 0; attempt < 2 && !arrived; ++attempt) {
            sender->SendAll(events);
            arrived = inputs.WaitFor(MIM_LONGDATA, row.whole ? 2 : 1, milliseconds(1500));
        }
        ASSERT_TRUE(arrived);
        auto data = inputs.Of(MIM_LONGDATA);
        if (row.whole) {
            std::vector<uint8_t> expected = row.whole == split.size() ? split : sysex(row.whole);
            EXPECT_EQ(data[0].bytes, expected);
        }
        EXPECT_EQ(data.back().bytes, next);
        if (row.warning) {
            ASSERT_EQ(warnings.All().size(), 1u);
            EXPECT_NE(warnings.All()[0].find(row.warning), std::string::npos) << warnings.All()[0];
        } else {
            EXPECT_EQ(warnings.All(), std::vector<std::string>{});
        }
        for (auto& n : data) jack->InAddBuffer(in, reinterpret_cast<MidiHeader*>(n.param1));
    }
    jack->InReset(in);
    jack->InClose(in);
}

TEST_F(JackRawInputTest, AnInputClosedWhileItsEventsAreInFlightDeliversNothingMore) {
    // The first message closes the port from inside its own callback, while
    // the other events of the same period still wait for the worker.
    struct Closer {
        JackServices* jack;
        std::atomic<int> closed{0};
        std::atomic<int> messages{0};
        static void Callback(MidiHandle handle, unsigned code, uintptr_t instance, uintptr_t param1,
                             uintptr_t) {
            auto* self = reinterpret_cast<Closer*>(instance);
            if (code != MIM_LONGDATA || reinterpret_cast<MidiHeader*>(param1)->bytesRecorded == 0)
                return;
            ++self->messages;
            if (self->closed.exchange(1) != 0) return;
            self->jack->InReset(handle);
            self->jack->InClose(handle);
        }
    } closer{jack.get()};
    bool closedInFlight = false;
    for (int attempt = 0; attempt < 2 && !closedInFlight; ++attempt) {
        MidiHandle in = 0;
        closer.closed = 0;
        closer.messages = 0;
        ASSERT_EQ(jack->InOpen(&in, unsigned(inId), Closer::Callback, uintptr_t(&closer)),
                  MMSYSERR_NOERROR);
        set.Queue(*jack, in, 8);
        jack->InStart(in);
        sender->SendAll({{0xF0, 0x01, 0xF7}, {0xF0, 0x02, 0xF7}, {0xF0, 0x03, 0xF7}, {0xF0, 0x04, 0xF7}});
        closedInFlight = WaitUntil([&] { return closer.closed == 1; }, milliseconds(1500));
        if (!closedInFlight) {
            jack->InReset(in);
            jack->InClose(in);
        }
    }
    ASSERT_TRUE(closedInFlight);
    // The worker has long passed the remaining events by now.
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_EQ(closer.messages, 1);
}

TEST(JackServicesWithoutServer, CreateSaysNo) {
    setenv("JACK_NO_START_SERVER", "1", 1);
    setenv("JACK_DEFAULT_SERVER", "korvo-no-such-server", 1);
    // PipeWire's JACK library takes the daemon's socket name instead.
    setenv("PIPEWIRE_REMOTE", "korvo-no-such-server", 1);
    EXPECT_EQ(JackServices::Create(), nullptr);
    unsetenv("JACK_DEFAULT_SERVER");
    unsetenv("PIPEWIRE_REMOTE");
}

}  // namespace
