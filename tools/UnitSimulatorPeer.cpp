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
// "ready" is printed on standard output once every port is registered.
//
// The process callback does no allocation and takes no lock: it copies the
// events that reach each unit into a ring buffer for the worker thread, which
// runs the UnitSimulator and queues the answers in a second ring buffer; the next
// period writes them to the unit's output port. An answer thus leaves one or two
// periods after the request arrived, as from a real unit.
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
#include "JackRing.h"
#include "UnitSimulator.h"

namespace {

constexpr size_t RingBytes = 1 << 18;
constexpr size_t MaxEvent = 16384;  // larger events are not unit messages; dropped
// The longest the worker sleeps without a request, so that it sees the end.
constexpr std::chrono::milliseconds WorkerWakeLimit{100};
// --delay-ms: a unit that answers later than this is taken for lost anyway.
constexpr unsigned long MaxDelayMs = 10000;
// --pairs: far more than a rack of units needs; it bounds the ports made.
constexpr unsigned long MaxPairs = 256;

struct Record {
    uint32_t pair;
    uint32_t length;  // bytes follow
};

struct PeerPair {
    std::vector<midi::UnitSimulator> units;
    std::vector<tools::ReplayUnit> replayUnits;  // --replay: the units of a capture
    jack_port_t* in = nullptr;
    jack_port_t* out = nullptr;
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
};

int Process(jack_nframes_t frames, void* arg) {
    Peer& peer = *static_cast<Peer*>(arg);
    bool any = false;
    for (uint32_t u = 0; u < peer.pairs.size(); ++u) {
        void* in = jack_port_get_buffer(peer.pairs[u].in, frames);
        uint32_t count = jack_midi_get_event_count(in);
        for (uint32_t e = 0; e < count; ++e) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, in, e) != 0 || event.size > MaxEvent) continue;
            if (midi::PutRecord(peer.requests, Record{u, uint32_t(event.size)}, event.buffer)) any = true;
        }
        jack_midi_clear_buffer(jack_port_get_buffer(peer.pairs[u].out, frames));
    }
    Record r;
    while (midi::TakeHeader(peer.answers, r)) {
        void* out = jack_port_get_buffer(peer.pairs[r.pair].out, frames);
        jack_midi_data_t* place = jack_midi_event_reserve(out, 0, r.length);
        if (place) {
            jack_ringbuffer_read(peer.answers, reinterpret_cast<char*>(place), r.length);
        } else {
            jack_ringbuffer_read_advance(peer.answers, r.length);  // buffer full: lost, as on a wire
        }
    }
    if (any) sem_post(&peer.wake);
    return 0;
}

template <typename Unit>
void LogMessage(const Unit& unit, const std::vector<uint8_t>& bytes) {
    std::string line;
    char part[16];
    std::snprintf(part, sizeof part, "%02x:%d <", unsigned(unit.Type()), int(unit.Id()));
    line = part;
    for (uint8_t b : bytes) {
        std::snprintf(part, sizeof part, " %02X", unsigned(b));
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
            answers.clear();
            for (midi::UnitSimulator& unit : peer.pairs[r.pair].units) {
                if (peer.log) LogMessage(unit, bytes);
                unit.Handle(bytes.data(), bytes.size(), answers);
            }
            for (tools::ReplayUnit& unit : peer.pairs[r.pair].replayUnits) {
                if (peer.log) LogMessage(unit, bytes);
                unit.Handle(bytes.data(), bytes.size(), answers);
            }
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
    std::fputs("\n"
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
               "  --log          print every message a unit receives, in hex (JACK only)\n"
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
               "JACK_DEFAULT_SERVER chooses the server; it is never started by this program.\n",
               stdout);
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
    if (alsa) return tools::RunAlsaPeer(client, configs, delayMs, signals);

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
