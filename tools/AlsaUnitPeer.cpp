// The sequencer side of the simulator program. One worker thread reads every
// event addressed to the client, puts the system-exclusive parts that reach a
// unit's input port back together (senders split long messages into chunks),
// runs the unit and sends its answers from the unit's output port to whoever
// subscribed to it: a long answer in chunks of the same message, paced, as the
// program's own ALSA backend sends (the kernel refuses one event larger than the
// sender's pool, and a receiver loses what overflows its own), and what follows
// a message cut short as an event of its own.
#include "AlsaUnitPeer.h"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <map>
#include <thread>

#include "SysexAssembler.h"

namespace tools {

namespace {

struct AlsaUnit {
    midi::UnitSimulator simulator;
    midi::SysexAssembler assembler;
    int in = -1;
    int out = -1;
};

// Chunks of a long answer, and the pause after every PaceBytes of them: as
// AlsaServices sends.
constexpr size_t Chunk = 256;
constexpr size_t PaceBytes = 1024;
constexpr std::chrono::milliseconds PacePause{1};
// Events the client may hold before its reader takes them: a message of the
// program's bound in chunks, with room to spare.
constexpr int InputPoolEvents = 4000;

// Sends one event, waiting while the client's output pool is full.
void Output(snd_seq_t* seq, snd_seq_event_t& ev) {
    while (snd_seq_event_output_direct(seq, &ev) == -EAGAIN)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void Answer(snd_seq_t* seq, int port, const std::vector<uint8_t>& bytes) {
    snd_seq_event_t ev;
    snd_seq_ev_clear(&ev);
    snd_seq_ev_set_source(&ev, port);
    snd_seq_ev_set_subs(&ev);
    snd_seq_ev_set_direct(&ev);
    // The system-exclusive part runs through its F7, or up to the status byte
    // that cuts it short.
    size_t end = bytes.size();
    for (size_t i = 1; i < bytes.size(); ++i)
        if (bytes[i] >= 0x80) {
            end = bytes[i] == 0xF7 ? i + 1 : i;
            break;
        }
    for (size_t done = 0; done < end; done += Chunk) {
        snd_seq_ev_set_sysex(&ev, std::min(Chunk, end - done),
                             const_cast<uint8_t*>(bytes.data() + done));
        Output(seq, ev);
        if ((done + Chunk) % PaceBytes == 0) std::this_thread::sleep_for(PacePause);
    }
    if (end == bytes.size()) return;
    snd_midi_event_t* encoder = nullptr;
    if (snd_midi_event_new(bytes.size() - end, &encoder) < 0) return;
    snd_seq_event_t rest;
    for (size_t i = end; i < bytes.size(); ++i) {
        snd_seq_ev_clear(&rest);
        if (snd_midi_event_encode_byte(encoder, bytes[i], &rest) != 1) continue;
        snd_seq_ev_set_source(&rest, port);
        snd_seq_ev_set_subs(&rest);
        snd_seq_ev_set_direct(&rest);
        Output(seq, rest);
    }
    snd_midi_event_free(encoder);
}

void Work(snd_seq_t* seq, std::vector<AlsaUnit>& units, uint32_t delayMs, MessageLog log,
          const std::atomic<bool>& stop) {
    std::map<int, size_t> byInPort;
    for (size_t u = 0; u < units.size(); ++u) byInPort[units[u].in] = u;
    int count = snd_seq_poll_descriptors_count(seq, POLLIN);
    std::vector<pollfd> fds(size_t(count > 0 ? count : 1));
    snd_seq_poll_descriptors(seq, fds.data(), unsigned(fds.size()), POLLIN);
    std::vector<std::vector<uint8_t>> answers;
    while (!stop) {
        if (poll(fds.data(), fds.size(), 100) <= 0) continue;
        snd_seq_event_t* ev = nullptr;
        while (snd_seq_event_input(seq, &ev) >= 0 && ev) {
            auto it = byInPort.find(ev->dest.port);
            if (ev->type != SND_SEQ_EVENT_SYSEX || it == byInPort.end()) continue;
            AlsaUnit& unit = units[it->second];
            answers.clear();
            unit.assembler.Feed(
                static_cast<const uint8_t*>(ev->data.ext.ptr), ev->data.ext.len,
                [&](const uint8_t* bytes, size_t length) {
                    if (bytes[0] != 0xF0) return;
                    if (log) log(unit.simulator, bytes, length);
                    unit.simulator.Handle(bytes, length, answers);
                },
                [&](const midi::SysexAssembler::Dropped& dropped) {
                    std::fprintf(stderr,
                                 "korvo-unit-simulator: a message of %zu bytes dropped: %s\n",
                                 dropped.length, unit.assembler.Describe(dropped).c_str());
                });
            if (!answers.empty() && delayMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            for (const auto& answer : answers) Answer(seq, unit.out, answer);
        }
    }
}

}  // namespace

int RunAlsaPeer(const std::string& client, const std::vector<midi::UnitConfig>& configs,
                uint32_t delayMs, MessageLog log, const sigset_t& signals) {
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) {
        std::fprintf(stderr, "korvo-unit-simulator: the ALSA sequencer cannot be opened\n");
        return 1;
    }
    snd_seq_set_client_name(seq, client.c_str());
    snd_seq_set_client_pool_input(seq, InputPoolEvents);
    std::vector<AlsaUnit> units;
    units.reserve(configs.size());
    for (const auto& c : configs) {
        AlsaUnit unit{midi::UnitSimulator(c.type, c.id), midi::SysexAssembler()};
        char base[40];
        std::snprintf(base, sizeof base, "%02x-%d", unsigned(c.type), int(c.id));
        unit.in = snd_seq_create_simple_port(
            seq, (std::string(base) + "-in").c_str(),
            SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
            SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        unit.out = snd_seq_create_simple_port(
            seq, (std::string(base) + "-out").c_str(),
            SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
            SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
        if (unit.in < 0 || unit.out < 0) {
            std::fprintf(stderr, "korvo-unit-simulator: ports for %s could not be created\n", base);
            snd_seq_close(seq);
            return 1;
        }
        units.push_back(std::move(unit));
    }
    std::atomic<bool> stop{false};
    std::thread worker([&] { Work(seq, units, delayMs, log, stop); });
    std::printf("ready\n");
    std::fflush(stdout);
    int received = 0;
    sigwait(&signals, &received);
    stop = true;
    worker.join();
    snd_seq_close(seq);
    return 0;
}

}  // namespace tools
