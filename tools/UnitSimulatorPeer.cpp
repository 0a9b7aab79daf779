// korvo-unit-simulator: one or more units on a JACK server (or, with --alsa, on
// the ALSA sequencer), each on its own pair of MIDI ports ("<type>-<id>-in"
// receives from the program, "<type>-<id>-out" carries the unit's answers),
// until SIGTERM or SIGINT. With --pairs N the units share N pairs instead
// ("units-<k>-in", "units-<k>-out"; unit i on pair i mod N; JACK only), as many
// units hang on one cable: every unit of a pair sees what arrives there and
// answers on the pair's output.
//
//   yonderpad-unit-simulator [--alsa] [--client NAME] [--delay-ms N] [--pairs N] [--log] [UNITS]
//
// With --log every message that reaches a unit is printed on standard output
// as "<type>:<id> < F0 00 ...", so that a user sees the exact bytes sent.
// With --replay FILE.syx the units are those of a capture and answer as they
// did there (CaptureReplay.h), FILE.txt beside it telling the directions.
// UNITS is a list such as 11:1234567,0a:42 (type in hexadecimal, id in decimal);
// without it KORVO_SIM_UNITS is used, and without that one unit of each type.
// The server is never started: it must run (JACK_DEFAULT_SERVER chooses it).
// "ready" is printed on standard output once every port is registered. The
// units answer what UnitSimulator.h lists, dump requests included.
//
// The process callback does no allocation and takes no lock: it copies the
// events that reach each pair into a ring buffer for the worker thread, which
// joins the parts of long messages (SysexAssembler), runs the UnitSimulator on
// each whole message and queues the answers in a second ring buffer; the next
// period writes them to the pair's output port, a long answer in parts across
// periods (JackParts.h). An answer thus leaves one or two periods after the
// request arrived, as from a real unit. An event lost because the ring was full
// makes the worker give up the message then open on that pair.
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <semaphore.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "AlsaUnitPeer.h"
#include "CaptureReplay.h"
#include "JackParts.h"
#include "JackRing.h"
#include "SysexAssembler.h"
#include "UnitSimulator.h"

namespace {

// Bytes in flight each way: room for a few of the longest dumps.
constexpr size_t RingBytes = 1 << 20;
// The longest the worker sleeps without a request, so that it sees the end.
constexpr std::chrono::milliseconds WorkerWakeLimit{100};
// --delay-ms: a unit that answers later than this is taken for lost anyway.
constexpr unsigned long MaxDelayMs = 10000;
// --pairs: far more than a rack of units needs; it bounds the ports made.
constexpr unsigned long MaxPairs = 256;

struct Record {
    uint32_t pair;
    uint32_t length;   // bytes follow
    uint32_t gap = 0;  // requests: 1 when events of this pair were lost just before
};

struct PeerPair {
    std::vector<midi::UnitSimulator> units;
    std::vector<tools::ReplayUnit> replayUnits;  // --replay: the units of a capture
    midi::SysexAssembler assembler;  // worker only
    jack_port_t* in = nullptr;
    jack_port_t* out = nullptr;
    bool gap = false;  // realtime only: a request event was lost since the last record
};

struct Peer {
    std::vector<PeerPair> pairs;
    jack_ringbuffer_t* requests = nullptr;
    jack_ringbuffer_t* answers = nullptr;
    sem_t wake;
    std::atomic<bool> stop{false};
    std::atomic<bool> dead{false};
    uint32_t delayMs = 0;
    bool log = false;
    // Realtime only: the answer going out in parts, and how much of it went.
    bool answering = false;
    Record answer{};
    size_t answered = 0;
};

int Process(jack_nframes_t frames, void* arg) {
    Peer& peer = *static_cast<Peer*>(arg);
    bool any = false;
    size_t emptyRoom = 0;
    for (PeerPair& pair : peer.pairs) {
        void* in = jack_port_get_buffer(pair.in, frames);
        uint32_t count = jack_midi_get_event_count(in);
        for (uint32_t e = 0; e < count; ++e) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, in, e) != 0 || event.size == 0) continue;
            const Record record{uint32_t(&pair - peer.pairs.data()), uint32_t(event.size),
                                pair.gap ? 1u : 0u};
            pair.gap = !midi::PutRecord(peer.requests, record, event.buffer);
            any = any || !pair.gap;
        }
        void* out = jack_port_get_buffer(pair.out, frames);
        jack_midi_clear_buffer(out);
        if (emptyRoom == 0) emptyRoom = midi::UsableRoom(jack_midi_max_event_size(out));
    }
    midi::PeriodRoom room{0, emptyRoom, midi::PeriodBudgetBytes, midi::PeriodBudgetBytes};
    for (;;) {
        if (!peer.answering) {
            if (!midi::TakeHeader(peer.answers, peer.answer)) break;
            peer.answering = true;
            peer.answered = 0;
        }
        void* out = jack_port_get_buffer(peer.pairs[peer.answer.pair].out, frames);
        room.portRoom = midi::UsableRoom(jack_midi_max_event_size(out));
        const size_t part = jack_midi_get_event_count(out) < midi::MaxEventsPerPortPeriod
                                ? midi::NextPartLength(peer.answer.length, peer.answered, room)
                                : 0;
        jack_midi_data_t* place = part > 0 ? jack_midi_event_reserve(out, 0, part) : nullptr;
        if (place == nullptr) break;  // the rest in the next period
        jack_ringbuffer_read(peer.answers, reinterpret_cast<char*>(place), part);
        peer.answered += part;
        room.budget -= part;
        if (peer.answered < peer.answer.length) break;
        peer.answering = false;
    }
    if (any) sem_post(&peer.wake);
    return 0;
}

template <typename Unit>
void LogMessage(const Unit& unit, const uint8_t* bytes, size_t length) {
    std::string line;
    char part[16];
    std::snprintf(part, sizeof part, "%02x:%d <", unsigned(unit.Type()), int(unit.Id()));
    line = part;
    line.reserve(line.size() + 3 * length + 1);
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(part, sizeof part, " %02X", unsigned(bytes[i]));
        line += part;
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

void Work(Peer& peer) {
    std::vector<uint8_t> bytes;
    std::vector<std::vector<uint8_t>> answers;
    while (!peer.stop) {
        midi::WaitForRecords(peer.wake, WorkerWakeLimit);
        Record r;
        while (midi::TakeHeader(peer.requests, r)) {
            bytes.resize(r.length);
            jack_ringbuffer_read(peer.requests, reinterpret_cast<char*>(bytes.data()), r.length);
            PeerPair& pair = peer.pairs[r.pair];
            if (r.gap) pair.assembler.Abandon();
            answers.clear();
            pair.assembler.Feed(
                bytes.data(), bytes.size(),
                [&](const uint8_t* message, size_t length) {
                    if (message[0] != 0xF0) return;  // short messages mean nothing to a unit
                    for (midi::UnitSimulator& unit : pair.units) {
                        if (peer.log) LogMessage(unit, message, length);
                        unit.Handle(message, length, answers);
                    }
                    for (tools::ReplayUnit& unit : pair.replayUnits) {
                        if (peer.log) LogMessage(unit, message, length);
                        unit.Handle(message, length, answers);
                    }
                },
                [&](const midi::SysexAssembler::Dropped& dropped) {
                    std::fprintf(stderr,
                                 "korvo-unit-simulator: a message of %zu bytes dropped: %s\n",
                                 dropped.length, pair.assembler.Describe(dropped).c_str());
                });
            if (!answers.empty() && peer.delayMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(peer.delayMs));
            for (const auto& answer : answers)
                if (!midi::PutRecord(peer.answers, Record{r.pair, uint32_t(answer.size())}, answer.data())) break;
        }
    }
}

void Quiet(const char*) {}

const char* const Synopsis =
    "usage: yonderpad-unit-simulator [--alsa] [--client NAME] [--delay-ms N] [--pairs N] [--log] [type:id,...]\n"
    "       yonderpad-unit-simulator --replay FILE.syx [--client NAME] [--delay-ms N] [--pairs N] [--log]\n";

int Usage() {
    std::fputs(Synopsis, stderr);
    return 2;
}

int Help() {
    std::fputs(Synopsis, stdout);
    std::printf(
        "\n"
        "Plays units of the device protocol on a running JACK server, each on its own pair\n"
        "of MIDI ports (<type>-<id>-in, <type>-<id>-out), until Ctrl+C. Start Yonderpad\n"
        "with KORVO_MIDI=jack beside it and it finds the units.\n"
        "\n"
        "  type:id,...    units to play: type 0a, 0b, 11 or 12 (hex), id 1 to 268435455\n"
        "                 (decimal); default $KORVO_SIM_UNITS, else 0a:10,0b:11,11:1234567,12:18\n"
        "  --alsa         play the units on the ALSA sequencer instead (KORVO_MIDI=alsa)\n"
        "  --client NAME  JACK or sequencer client name (default korvo-unit-simulator)\n"
        "  --delay-ms N   wait N ms before each answer\n"
        "  --pairs N      put the units on N shared port pairs (JACK only)\n"
        "  --log          print every message a unit receives, in hex\n"
        "  --replay FILE.syx\n"
        "                 play the units of a capture instead, answering as they did\n"
        "                 there (JACK only). FILE.txt beside it, the traffic log saved\n"
        "                 with it, tells which messages went to a unit and which came\n"
        "                 from it; its wire lines must match the .syx message for\n"
        "                 message. Without it, probe, polls, 20 and 30 count as sent to\n"
        "                 a unit, the rest as its answers. A poll gets the recorded\n"
        "                 state reports in turn, a recorded request what followed it,\n"
        "                 20 and 30 the recorded 21 and 31 of the same value; the last\n"
        "                 answer repeats once used up\n"
        "  --help         this text\n"
        "\n"
        "The units answer the probe, their poll (with a state report), parameter reads\n"
        "(command 20, value = index) and writes (command 30, value = index, payload = the\n"
        "value), and dump requests: command 40, value 00 and three 7-bit payload bytes\n"
        "L0 L1 L2 ask for a dump of L = L0 + 128 * L1 + 16384 * L2 bytes on the wire (F0\n"
        "to F7), answered with command 41, value 00 and L - 12 payload bytes counting\n"
        "00, 01, ... 7F, 00, ...; L from 12 to %zu is answered, beyond Yonderpad's bound\n"
        "of %u bytes too. Command 42 with the same payload answers that dump cut short\n"
        "by a note-off in place of its F7. For example Yonderpad's \"Send\" text\n"
        "0012d6874000007d00 asks unit 11:1234567 for 16000 bytes.\n"
        "\n"
        "JACK_DEFAULT_SERVER chooses the server; it is never started by this program.\n"
        "Under PipeWire, run it as: pw-jack yonderpad-unit-simulator ...\n",
        midi::UnitSimulator::MaxDumpLength, unsigned(midi::MaxLongMessage));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string client = "korvo-unit-simulator";
    std::string list;
    uint32_t delayMs = 0;
    bool alsa = false;
    bool log = false;
    uint32_t pairCount = 0;  // 0: one pair per unit
    std::string replay;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            return Help();
        } else if (arg == "--alsa") {
            alsa = true;
        } else if (arg == "--log") {
            log = true;
        } else if (arg == "--replay" && i + 1 < argc) {
            replay = argv[++i];
        } else if (arg == "--client" && i + 1 < argc) {
            client = argv[++i];
        } else if (arg == "--delay-ms" && i + 1 < argc) {
            char* end = nullptr;
            unsigned long v = std::strtoul(argv[++i], &end, 10);
            if (*end != '\0' || v > MaxDelayMs) return Usage();
            delayMs = uint32_t(v);
        } else if (arg == "--pairs" && i + 1 < argc) {
            char* end = nullptr;
            unsigned long v = std::strtoul(argv[++i], &end, 10);
            if (*end != '\0' || v == 0 || v > MaxPairs) return Usage();
            pairCount = uint32_t(v);
        } else if (!arg.empty() && arg[0] != '-' && list.empty()) {
            list = arg;
        } else {
            return Usage();
        }
    }
    std::vector<capture::CapturedMessage> capture;
    if (!replay.empty()) {
        std::string error;
        if (alsa || !list.empty()) return Usage();
        if (!capture::LoadCapture(replay, capture, error)) {
            std::fprintf(stderr, "yonderpad-unit-simulator: %s\n", error.c_str());
            return 2;
        }
    }
    if (list.empty() && std::getenv("KORVO_SIM_UNITS")) list = std::getenv("KORVO_SIM_UNITS");
    std::vector<midi::UnitConfig> configs = !replay.empty() ? tools::UnitsOf(capture)
                                            : list.empty()  ? midi::DefaultUnits()
                                                            : midi::ParseUnitList(list);
    if (configs.empty()) {
        std::fprintf(stderr, "korvo-unit-simulator: no unit to simulate\n");
        return 2;
    }

    // Signals are taken by sigwait below; every thread made from here on has them blocked.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    if (alsa)
        return tools::RunAlsaPeer(client, configs, delayMs, log ? LogMessage<midi::UnitSimulator> : nullptr, signals);

    jack_set_error_function(Quiet);
    jack_set_info_function(Quiet);
    jack_status_t status;
    jack_client_t* jack = jack_client_open(client.c_str(), JackNoStartServer, &status);
    if (!jack) {
        std::fprintf(stderr, "korvo-unit-simulator: no JACK server running (status 0x%x)\n", unsigned(status));
        return 1;
    }

    Peer peer;
    peer.delayMs = delayMs;
    peer.log = log;
    sem_init(&peer.wake, 0, 0);
    peer.requests = jack_ringbuffer_create(RingBytes);
    peer.answers = jack_ringbuffer_create(RingBytes);
    const size_t pairs = pairCount == 0 ? configs.size() : std::min<size_t>(pairCount, configs.size());
    peer.pairs.resize(pairs);
    for (size_t i = 0; i < configs.size(); ++i) {
        if (replay.empty())
            peer.pairs[i % pairs].units.emplace_back(configs[i].type, configs[i].id);
        else
            peer.pairs[i % pairs].replayUnits.emplace_back(configs[i].type, configs[i].id, capture);
    }
    for (size_t k = 0; k < pairs; ++k) {
        PeerPair& pair = peer.pairs[k];
        char base[40];
        if (pairCount == 0)
            std::snprintf(base, sizeof base, "%02x-%d", unsigned(configs[k].type), int(configs[k].id));
        else
            std::snprintf(base, sizeof base, "units-%zu", k);
        pair.in = jack_port_register(jack, (std::string(base) + "-in").c_str(), JACK_DEFAULT_MIDI_TYPE,
                                     JackPortIsInput, 0);
        pair.out = jack_port_register(jack, (std::string(base) + "-out").c_str(), JACK_DEFAULT_MIDI_TYPE,
                                      JackPortIsOutput, 0);
        if (!pair.in || !pair.out) {
            std::fprintf(stderr, "korvo-unit-simulator: ports for %s could not be registered\n", base);
            jack_client_close(jack);
            return 1;
        }
    }
    jack_set_process_callback(jack, Process, &peer);
    jack_on_shutdown(
        jack,
        [](void* arg) {
            auto* p = static_cast<Peer*>(arg);
            p->dead = true;
            p->stop = true;
            kill(getpid(), SIGTERM);
        },
        &peer);
    std::thread worker([&peer] { Work(peer); });
    if (jack_activate(jack) != 0) {
        std::fprintf(stderr, "korvo-unit-simulator: client could not be activated\n");
        peer.stop = true;
        worker.join();
        jack_client_close(jack);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    int received = 0;
    sigwait(&signals, &received);
    peer.stop = true;
    sem_post(&peer.wake);
    worker.join();
    if (!peer.dead) jack_deactivate(jack);
    jack_client_close(jack);
    jack_ringbuffer_free(peer.requests);
    jack_ringbuffer_free(peer.answers);
    sem_destroy(&peer.wake);
    return peer.dead ? 1 : 0;
}
