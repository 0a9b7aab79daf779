// The sequencer side of the simulator program. One worker thread reads every
// event addressed to the client, puts the system-exclusive parts that reach a
// unit's input port back together (the kernel splits long messages into
// chunks), runs the unit and sends its answers from the unit's output port to
// whoever subscribed to it.
#include "AlsaUnitPeer.h"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <atomic>
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

void Answer(snd_seq_t* seq, int port, const std::vector<uint8_t>& bytes) {
    snd_seq_event_t ev;
    snd_seq_ev_clear(&ev);
    snd_seq_ev_set_source(&ev, port);
    snd_seq_ev_set_subs(&ev);
    snd_seq_ev_set_direct(&ev);
    snd_seq_ev_set_sysex(&ev, bytes.size(), const_cast<uint8_t*>(bytes.data()));
    snd_seq_event_output_direct(seq, &ev);
}

void Work(snd_seq_t* seq, std::vector<AlsaUnit>& units, uint32_t delayMs,
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
            unit.assembler.Feed(static_cast<const uint8_t*>(ev->data.ext.ptr), ev->data.ext.len,
                                [&](const uint8_t* bytes, size_t length) {
                                    unit.simulator.Handle(bytes, length, answers);
                                });
            if (!answers.empty() && delayMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            for (const auto& answer : answers) Answer(seq, unit.out, answer);
        }
    }
}

}  // namespace

int RunAlsaPeer(const std::string& client, const std::vector<midi::UnitConfig>& configs,
                uint32_t delayMs, const sigset_t& signals) {
    snd_seq_t* seq = nullptr;
    if (snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK) < 0) {
        std::fprintf(stderr, "korvo-unit-simulator: the ALSA sequencer cannot be opened\n");
        return 1;
    }
    snd_seq_set_client_name(seq, client.c_str());
    std::vector<AlsaUnit> units;
    units.reserve(configs.size());
    for (const auto& c : configs) {
        AlsaUnit unit{midi::UnitSimulator(c.type, c.id), {}};
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
    std::thread worker([&] { Work(seq, units, delayMs, stop); });
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
