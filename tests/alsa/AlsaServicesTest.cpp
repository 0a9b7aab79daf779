// The ALSA backend on the guest's real sequencer: enumeration, the life of a
// port, buffers handed back filled, answers from the simulator program, long
// messages both ways, the kernel's chunks of a raw device, hot-plug, and the
// default choice of backend.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "AlsaPeers.h"
#include "GuestCheck.h"
#include "AlsaServices.h"
#include "MidiServices.h"
#include "MidiTestSupport.h"
#include "UnitSimulator.h"

using namespace midi;
using miditest::BufferSet;
using miditest::Recorder;
using std::chrono::milliseconds;

namespace {

std::vector<std::wstring> Names(MidiServices& s, bool input) {
    std::vector<std::wstring> names;
    std::wstring name;
    for (unsigned i = 0;
         (input ? s.InGetDevCaps(i, &name) : s.OutGetDevCaps(i, &name)) == MMSYSERR_NOERROR; ++i)
        names.push_back(name);
    return names;
}

// The index of the first name containing `part`, or -1.
int Find(const std::vector<std::wstring>& names, const std::wstring& part) {
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i].find(part) != std::wstring::npos) return int(i);
    return -1;
}

std::vector<uint8_t> LongSysex(size_t length) {
    std::vector<uint8_t> bytes(length);
    bytes.front() = 0xF0;
    for (size_t i = 1; i + 1 < length; ++i) bytes[i] = uint8_t((i * 7 + i / 128) & 0x7F);
    bytes.back() = 0xF7;
    return bytes;
}

// The concatenated bytes of the MIM_LONGDATA notices.
std::vector<uint8_t> Joined(Recorder& recorder) {
    std::vector<uint8_t> all;
    for (auto& n : recorder.Of(MIM_LONGDATA)) all.insert(all.end(), n.bytes.begin(), n.bytes.end());
    return all;
}

class AlsaServicesTest : public testing::Test {
  protected:
    void SetUp() override {
        alsa = AlsaServices::Create();
        ASSERT_NE(alsa, nullptr);
    }
    // Opens input `in` and output `out` (by name part) with the recorder.
    void OpenPair(const std::wstring& inPart, const std::wstring& outPart) {
        int inId = Find(Names(*alsa, true), inPart), outId = Find(Names(*alsa, false), outPart);
        ASSERT_GE(inId, 0);
        ASSERT_GE(outId, 0);
        ASSERT_EQ(alsa->InOpen(&in, unsigned(inId), Recorder::Callback, recorder.Instance()),
                  MMSYSERR_NOERROR);
        ASSERT_EQ(alsa->OutOpen(&out, unsigned(outId), Recorder::Callback, recorder.Instance()),
                  MMSYSERR_NOERROR);
        ASSERT_EQ(alsa->InStart(in), MMSYSERR_NOERROR);
    }
    unsigned Send(const std::vector<uint8_t>& bytes) {
        MidiHeader* h = buffers.Message(bytes);
        unsigned r = alsa->OutPrepareHeader(out, h);
        return r == MMSYSERR_NOERROR ? alsa->OutLongMsg(out, h) : r;
    }
    void TearDown() override {
        if (in) {
            alsa->InReset(in);
            EXPECT_EQ(alsa->InClose(in), MMSYSERR_NOERROR);
        }
        if (out) {
            EXPECT_EQ(alsa->OutClose(out), MMSYSERR_NOERROR);
        }
    }

    std::unique_ptr<AlsaServices> alsa;
    Recorder recorder;
    BufferSet buffers;
    MidiHandle in = 0, out = 0;
};

TEST_F(AlsaServicesTest, ListsOtherPortsByNameAndLeavesOwnOut) {
    alsatest::AlsaSimulator simulator("11:1234567");
    ASSERT_TRUE(simulator.Ready());
    auto ins = Names(*alsa, true), outs = Names(*alsa, false);
    EXPECT_GE(Find(ins, L"Midi Through"), 0);
    EXPECT_GE(Find(ins, L"VirMIDI"), 0);
    EXPECT_GE(Find(ins, L"korvo-unit-simulator:11-1234567-out"), 0);
    EXPECT_GE(Find(outs, L"korvo-unit-simulator:11-1234567-in"), 0);
    // The unit's input port is not readable and its output not writable.
    EXPECT_LT(Find(ins, L"11-1234567-in"), 0);
    EXPECT_LT(Find(outs, L"11-1234567-out"), 0);

    // Our own open ports never show up, so opening changes no count.
    OpenPair(L"Midi Through", L"Midi Through");
    EXPECT_EQ(Names(*alsa, true), ins);
    EXPECT_EQ(Names(*alsa, false), outs);
    EXPECT_LT(Find(Names(*alsa, true), L"Yonderpad"), 0);
}

TEST_F(AlsaServicesTest, ClosedPortsAreGoneAndTheirHandlesFail) {
    OpenPair(L"Midi Through", L"Midi Through");
    MidiHeader* h = buffers.Make(1024);
    ASSERT_EQ(alsa->InPrepareHeader(in, h), MMSYSERR_NOERROR);
    ASSERT_EQ(alsa->InAddBuffer(in, h), MMSYSERR_NOERROR);
    EXPECT_EQ(alsa->InClose(in), MIDIERR_STILLPLAYING);
    ASSERT_EQ(alsa->InReset(in), MMSYSERR_NOERROR);
    EXPECT_EQ(recorder.Of(MIM_LONGDATA).size(), 1u);
    EXPECT_EQ(alsa->InClose(in), MMSYSERR_NOERROR);
    EXPECT_EQ(alsa->OutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(alsa->InUnprepareHeader(in, h), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(alsa->InStart(in), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(alsa->OutClose(out), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(recorder.Of(MIM_CLOSE).size(), 1u);
    EXPECT_EQ(recorder.Of(MOM_CLOSE).size(), 1u);
    in = out = 0;

    // The sequencer ports went with them: nothing of ours is left to connect to.
    snd_seq_t* seq = nullptr;
    ASSERT_GE(snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, 0), 0);
    snd_seq_client_info_t* client;
    snd_seq_client_info_alloca(&client);
    snd_seq_client_info_set_client(client, -1);
    int ourPorts = 0;
    while (snd_seq_query_next_client(seq, client) >= 0)
        if (std::string(snd_seq_client_info_get_name(client)) == "Yonderpad")
            ourPorts += snd_seq_client_info_get_num_ports(client);
    snd_seq_close(seq);
    EXPECT_EQ(ourPorts, 0);
}

TEST_F(AlsaServicesTest, SimulatorAnswersProbeAndPollIntoQueuedBuffers) {
    alsatest::AlsaSimulator simulator("11:1234567,0a:42");
    ASSERT_TRUE(simulator.Ready());
    struct Row {
        const char* what;
        std::wstring port;
        std::vector<uint8_t> request;
        uint8_t type;
        int32_t id;
        uint8_t answer;
    } rows[] = {
        {"probe of 11:1234567", L"11-1234567", UnitSimulator::Message(0, 0, 0x02, 0), 0x11, 1234567,
         0x03},
        {"poll of 11:1234567", L"11-1234567", UnitSimulator::Message(0x11, 1234567, 0x10, 0x01),
         0x11, 1234567, 0x37},
        {"poll of 0a:42", L"0a-42", UnitSimulator::Message(0x0A, 42, 0x02, 0x04), 0x0A, 42, 0x05},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        OpenPair(row.port + L"-out", row.port + L"-in");
        auto queued = buffers.Queue(*alsa, in, 2);
        ASSERT_EQ(Send(row.request), MMSYSERR_NOERROR);
        ASSERT_TRUE(recorder.WaitFor(MIM_LONGDATA, 1, milliseconds(3000)));
        ASSERT_TRUE(recorder.WaitFor(MOM_DONE, 1, milliseconds(1000)));
        auto got = recorder.Of(MIM_LONGDATA).front();
        EXPECT_EQ(got.param1, reinterpret_cast<uintptr_t>(queued.front()));
        EXPECT_TRUE(queued.front()->flags & MHDR_DONE);
        ASSERT_GE(got.bytes.size(), 10u);
        std::vector<uint8_t> head(got.bytes.begin(), got.bytes.begin() + 10);
        std::vector<uint8_t> expected = UnitSimulator::Message(row.type, row.id, row.answer, 0);
        expected.resize(10);
        expected[9] = got.bytes[9];  // the value: not compared
        EXPECT_EQ(head, expected);
        EXPECT_EQ(got.bytes.back(), 0xF7);
        TearDown();
        in = out = 0;
        recorder.Take();
    }
}

TEST_F(AlsaServicesTest, LongMessagesArriveWholeBothWays) {
    alsatest::SeqPeer peer;
    ASSERT_TRUE(peer.Ready());
    OpenPair(L"korvo-test-peer:echo", L"korvo-test-peer:echo");
    for (size_t length :
         {size_t(12), size_t(256), size_t(257), size_t(4000), size_t(16384), size_t(65536)}) {
        SCOPED_TRACE(length);
        recorder.Take();
        // To the peer: one OutLongMsg, one done notice, every byte in order.
        size_t before = peer.Received().size();
        std::vector<uint8_t> message = LongSysex(length);
        ASSERT_EQ(Send(message), MMSYSERR_NOERROR);
        ASSERT_TRUE(recorder.WaitFor(MOM_DONE, 1, milliseconds(5000)));
        ASSERT_TRUE(peer.WaitFor(before + length, milliseconds(5000)));
        auto received = peer.Received();
        EXPECT_EQ(std::vector<uint8_t>(received.begin() + long(before), received.end()), message);

        // From the peer: the message comes whole in one growable buffer.
        buffers.Queue(*alsa, in, 1, 1024, true);
        ASSERT_TRUE(peer.Send(message));
        ASSERT_TRUE(recorder.WaitFor(MIM_LONGDATA, 1, milliseconds(5000)));
        EXPECT_EQ(recorder.Of(MIM_LONGDATA).size(), 1u);
        EXPECT_EQ(Joined(recorder), message);
    }
    // Beyond the bound a message is refused, never reported sent.
    recorder.Take();
    EXPECT_EQ(Send(LongSysex(MaxLongMessage + 1)), MMSYSERR_INVALPARAM);
    EXPECT_TRUE(recorder.Of(MOM_DONE).empty());
}

TEST_F(AlsaServicesTest, LongMessagesPassTheKernelsThroughPort) {
    // "Midi Through" forwards with the kernel's own small pool: unpaced, 8 KB
    // and more vanish there.
    OpenPair(L"Midi Through", L"Midi Through");
    std::vector<uint8_t> message = LongSysex(16384);
    buffers.Queue(*alsa, in, 1, 1024, true);
    ASSERT_EQ(Send(message), MMSYSERR_NOERROR);
    ASSERT_TRUE(recorder.WaitFor(MIM_LONGDATA, 1, milliseconds(5000)));
    EXPECT_EQ(Joined(recorder), message);
}

TEST_F(AlsaServicesTest, RawDeviceSysexIsAssembledAcrossTheKernelsChunks) {
    // A raw virtual MIDI device feeds its sequencer port in small events.
    OpenPair(L"VirMIDI 0-0", L"Midi Through");
    int raw = open("/dev/snd/midiC0D0", O_RDWR | O_NONBLOCK);
    ASSERT_GE(raw, 0);
    std::vector<uint8_t> message = LongSysex(3000);
    buffers.Queue(*alsa, in, 1, 1024, true);
    size_t written = 0;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (written < message.size() && std::chrono::steady_clock::now() < end) {
        ssize_t n = write(raw, message.data() + written, message.size() - written);
        if (n > 0)
            written += size_t(n);
        else
            std::this_thread::sleep_for(milliseconds(1));
    }
    ASSERT_EQ(written, message.size());
    ASSERT_TRUE(recorder.WaitFor(MIM_LONGDATA, 1, milliseconds(5000)));
    EXPECT_EQ(Joined(recorder), message);
    EXPECT_TRUE(recorder.Of(MIM_LONGERROR).empty());
    close(raw);
}

TEST_F(AlsaServicesTest, ClientsComingAndGoingChangeTheCounts) {
    unsigned ins = alsa->InGetNumDevs(), outs = alsa->OutGetNumDevs();
    auto simulator = std::make_unique<alsatest::AlsaSimulator>("11:1234567,0a:42");
    ASSERT_TRUE(simulator->Ready());
    EXPECT_EQ(alsa->InGetNumDevs(), ins + 2);
    EXPECT_EQ(alsa->OutGetNumDevs(), outs + 2);
    ASSERT_TRUE(simulator->Stop());
    EXPECT_EQ(alsa->InGetNumDevs(), ins);
    EXPECT_EQ(alsa->OutGetNumDevs(), outs);
}

// Exit code: the number of input devices of the backend chosen for the environment.
[[noreturn]] void ChooseAndExit(const char* backend) {
    if (backend)
        setenv("KORVO_MIDI", backend, 1);
    else
        unsetenv("KORVO_MIDI");
    setenv("JACK_NO_START_SERVER", "1", 1);
    setenv("JACK_DEFAULT_SERVER", "korvo-no-such-server", 1);
    std::_Exit(int(Services().InGetNumDevs()));
}

TEST(AlsaChoice, SequencerIsChosenFirstWhenItOpens) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto alsa = AlsaServices::Create();
    ASSERT_NE(alsa, nullptr);
    int ports = int(alsa->InGetNumDevs());
    ASSERT_GT(ports, 0);
    alsa.reset();
    EXPECT_EXIT(ChooseAndExit(nullptr), testing::ExitedWithCode(ports), "") << "default";
    EXPECT_EXIT(ChooseAndExit("alsa"), testing::ExitedWithCode(ports), "") << "alsa";
    EXPECT_EXIT(ChooseAndExit("jack"), testing::ExitedWithCode(0), "") << "jack without a server";
}

}  // namespace
