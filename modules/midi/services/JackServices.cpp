#include "JackServices.h"

#include <dlfcn.h>
#include <glib.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>
#include <semaphore.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "JackParts.h"
#include "JackRing.h"
#include "framework/Utf8.h"

namespace midi {

namespace {

// Ports this program can have open at once; a unit rack of a few dozen ports
// fits many times.
constexpr size_t MaxSlots = 256;
// The program's two JACK clients: one carries every input port, the other
// every output port.
constexpr const char* ClientNames[2] = {"Yonderpad-in", "Yonderpad-out"};
// Input bytes in flight from the realtime thread to the worker: room for a
// dozen messages of the longest kind arriving at once. One per backend, not per port.
constexpr size_t InRingBytes = 1 << 20;
constexpr size_t OutRecords = 1024;
// The longest the worker sleeps when nothing wakes it: it then looks for
// retired ports and for the end even if no post reached it.
constexpr std::chrono::milliseconds WorkerWakeLimit{100};

struct InRecord {
    uint64_t handle;
    uint32_t length;   // the event's bytes follow
    uint32_t gap = 0;  // 1: events of this input were lost just before this one
};
struct OutRecord {
    uint64_t handle;
    uint64_t slot;
    MidiHeader* header;
    uint64_t serial;  // tells a message apart from one that reuses its header's address
};
struct DoneRecord {
    uint64_t handle;
    MidiHeader* header;
};

void Quiet(const char* text) { g_debug("JACK: %s", text); }

// Says how many input events the realtime thread dropped since the last
// report, because the ring to the worker was full.
void ReportLostEvents(uint64_t lost, uint64_t& reported) {
    if (lost == reported) return;
    g_warning("JACK MIDI: %llu input events lost: the worker fell behind the server",
              static_cast<unsigned long long>(lost - reported));
    reported = lost;
}

// libjack makes process-wide locks as it is loaded and never frees them. It
// stays loaded for the life of the process instead of going with the device
// library: unloading would lose them, and a sanitized build's leak check
// would report them from a library it can no longer name.
[[maybe_unused]] const bool libjackKept =
    dlopen("libjack.so.0", RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;

// libjack's message functions are process-wide and outlive this library:
// they point here only while services exist (a process may hold more than
// one, as tests and benchmarks do), and go back to libjack's own (null) when
// the last ones end or could not be made.
std::mutex quietLock;
int quietHolders = 0;

void QuietJack(bool quiet) {
    std::lock_guard<std::mutex> guard(quietLock);
    quietHolders += quiet ? 1 : -1;
    if (quiet && quietHolders == 1) {
        jack_set_error_function(Quiet);
        jack_set_info_function(Quiet);
    } else if (!quiet && quietHolders == 0) {
        jack_set_error_function(nullptr);
        jack_set_info_function(nullptr);
    }
}

}  // namespace

struct JackServices::State {
    // One client carries every input port, the other every output port.
    enum { Inputs = 0, Outputs = 1 };
    jack_client_t* clients[2] = {nullptr, nullptr};
    std::string ownPrefixes[2];  // "<our client name>:"

    struct Slot {
        std::atomic<jack_port_t*> port{nullptr};  // read by the realtime thread
        std::atomic<uint64_t> handle{0};
        // Written before port is published; read after port, so a slot that
        // changed direction is never taken for the old one.
        std::atomic<bool> input{false};
        bool used = false;   // guarded by slotLock
    };
    Slot slots[MaxSlots];
    std::mutex slotLock;

    // libjack serves one request to the server at a time per client: two
    // threads asking at once (the worker unregistering a retired port while the
    // user-interface thread opens a port or deactivates) both wait for an
    // answer that only one gets. Every server request outside the process
    // callbacks is made under this lock.
    std::mutex serverLock;

    jack_ringbuffer_t* inRing = nullptr;    // realtime -> worker: input events
    jack_ringbuffer_t* outRing = nullptr;   // OutLongMsg -> realtime: headers to send
    jack_ringbuffer_t* doneRing = nullptr;  // realtime -> worker: headers sent
    std::mutex outLock;                     // one writer at a time on outRing
    sem_t wake;

    std::atomic<uint64_t> cycleEnter[2] = {0, 0};  // per client
    std::atomic<uint64_t> cycleLeave[2] = {0, 0};
    std::atomic<bool> dead{false};     // the server went away
    std::atomic<bool> stopped{false};  // deactivated: nobody reads outRing in realtime
    std::atomic<bool> stale{true};
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> lost{0};
    // Counted by the server's xrun notices: a period the server could not
    // run in time may have lost events.
    std::atomic<uint64_t> xruns{0};
    // Realtime thread only: the inputs that lost an event (or went through an
    // xrun) since their last record, the xruns seen so far, and how far the
    // long message at the head of outRing has gone out.
    bool inputGap[MaxSlots] = {};
    uint64_t xrunsSeen = 0;
    uint64_t partSerial = 0;
    size_t partOffset = 0;
    uint64_t nextSerial = 0;  // under outLock

    std::mutex enumLock;
    std::vector<std::string> inNames;   // other clients' MIDI outputs
    std::vector<std::string> outNames;  // other clients' MIDI inputs

    // Ports taken out of their slot, waiting until no process cycle can still
    // see them; the worker unregisters them and frees their slots, so closing
    // never waits for the realtime thread. Guarded by slotLock.
    struct Retired {
        size_t slot;
        jack_port_t* port;
        int client;
        uint64_t entered;  // cycles of the client entered when the slot was cleared
    };
    std::vector<Retired> retired;

    std::thread worker;

    ~State() {
        if (inRing) jack_ringbuffer_free(inRing);
        if (outRing) jack_ringbuffer_free(outRing);
        if (doneRing) jack_ringbuffer_free(doneRing);
        sem_destroy(&wake);
    }

    // Opens and activates both clients; on failure none is left open.
    bool Connect(bool report);
    // After the server went away: once all ports are closed, tries (at most once
    // a second) to connect to a server that runs again.
    void Reconnect();
    std::chrono::steady_clock::time_point lastAttempt{};

    static int ProcessInputs(jack_nframes_t frames, void* arg);
    static int ProcessOutputs(jack_nframes_t frames, void* arg);

    bool IsOwn(const std::string& name) const {
        return name.rfind(ownPrefixes[0], 0) == 0 || name.rfind(ownPrefixes[1], 0) == 0;
    }

    // A port of another copy of the program (the window or yonderpad-units
    // beside it): JACK names its clients "Yonderpad-in-01" and so on. Such a
    // port is never a unit, and were it counted, each copy's opening and
    // closing of ports would look like a hot-plug to the other and the two
    // would restart each other's discovery without end.
    static bool IsOtherCopy(const std::string& name) {
        const std::string client = name.substr(0, name.find(':'));
        for (const char* own : ClientNames) {
            const std::string base = own;
            if (client == base || client.rfind(base + "-", 0) == 0) return true;
        }
        return false;
    }

    void Refresh() {
        if (dead) Reconnect();
        if (!stale.exchange(false)) return;
        inNames.clear();
        outNames.clear();
        if (dead) return;
        std::lock_guard<std::mutex> server(serverLock);
        for (int direction = 0; direction < 2; ++direction) {
            const char** names = jack_get_ports(clients[Inputs], nullptr, JACK_DEFAULT_MIDI_TYPE,
                                                direction == 0 ? JackPortIsOutput : JackPortIsInput);
            if (!names) continue;
            for (const char** n = names; *n; ++n) {
                std::string name = *n;
                if (IsOwn(name) || IsOtherCopy(name)) continue;
                (direction == 0 ? inNames : outNames).push_back(name);
            }
            jack_free(names);
        }
    }

    // Clears a slot and hands its port to the worker (ReleaseRetired); the
    // slot stays taken until then. Never waits.
    void Retire(size_t slot, int client) {
        jack_port_t* port = slots[slot].port.exchange(nullptr);
        slots[slot].handle.store(0);
        // Read after the port left the slot: a cycle entered later cannot see it.
        uint64_t entered = cycleEnter[client].load();
        {
            std::lock_guard<std::mutex> guard(slotLock);
            retired.push_back({slot, port, client, entered});
        }
        sem_post(&wake);
    }

    // Worker: unregisters each retired port once every cycle that could still
    // see it has ended (or no cycle will run any more), and frees its slot.
    void ReleaseRetired() {
        std::vector<Retired> ready;
        {
            std::lock_guard<std::mutex> guard(slotLock);
            for (size_t i = 0; i < retired.size();) {
                const Retired& r = retired[i];
                if (dead || stopped || cycleLeave[r.client].load() >= r.entered) {
                    ready.push_back(r);
                    retired.erase(retired.begin() + std::ptrdiff_t(i));
                } else {
                    ++i;
                }
            }
        }
        for (const Retired& r : ready) {
            if (r.port && !dead) {
                std::lock_guard<std::mutex> server(serverLock);
                jack_port_unregister(clients[r.client], r.port);
            }
            GiveSlot(r.slot);
        }
    }

    int TakeSlot() {
        std::lock_guard<std::mutex> guard(slotLock);
        for (size_t i = 0; i < MaxSlots; ++i)
            if (!slots[i].used) {
                slots[i].used = true;
                return int(i);
            }
        return -1;
    }
    void GiveSlot(size_t i) {
        slots[i].handle.store(0);
        std::lock_guard<std::mutex> guard(slotLock);
        slots[i].used = false;
    }
};

// Realtime: no allocation, no locks, no waiting.
int JackServices::State::ProcessInputs(jack_nframes_t frames, void* arg) {
    State& s = *static_cast<State*>(arg);
    s.cycleEnter[Inputs].fetch_add(1);
    bool wakeWorker = false;
    // After an xrun a message in parts may miss one: every input gives up the
    // message it has open rather than join its parts across the gap.
    if (const uint64_t xruns = s.xruns.load(); xruns != s.xrunsSeen) {
        s.xrunsSeen = xruns;
        for (bool& gap : s.inputGap) gap = true;
    }
    for (size_t i = 0; i < MaxSlots; ++i) {
        jack_port_t* port = s.slots[i].port.load();
        if (!port || !s.slots[i].input.load()) continue;
        void* buffer = jack_port_get_buffer(port, frames);
        if (!buffer) continue;
        uint64_t handle = s.slots[i].handle.load();
        uint32_t count = jack_midi_get_event_count(buffer);
        for (uint32_t e = 0; e < count; ++e) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, e) != 0 || event.size == 0) continue;
            if (!PutRecord(s.inRing,
                           InRecord{handle, uint32_t(event.size), s.inputGap[i] ? 1u : 0u},
                           event.buffer)) {
                s.lost.fetch_add(1);
                s.inputGap[i] = true;
                continue;
            }
            s.inputGap[i] = false;
            wakeWorker = true;
        }
    }
    s.cycleLeave[Inputs].fetch_add(1);
    if (wakeWorker) sem_post(&s.wake);
    return 0;
}

int JackServices::State::ProcessOutputs(jack_nframes_t frames, void* arg) {
    State& s = *static_cast<State*>(arg);
    s.cycleEnter[Outputs].fetch_add(1);
    bool wakeWorker = false;
    void* buffers[MaxSlots];
    size_t emptyRoom = 0;  // what one event may hold in an empty port buffer
    for (size_t i = 0; i < MaxSlots; ++i) {
        jack_port_t* port = s.slots[i].port.load();
        buffers[i] = port && !s.slots[i].input.load() ? jack_port_get_buffer(port, frames) : nullptr;
        if (!buffers[i]) continue;
        jack_midi_clear_buffer(buffers[i]);
        if (emptyRoom == 0) emptyRoom = UsableRoom(jack_midi_max_event_size(buffers[i]));
    }
    PeriodRoom room{0, emptyRoom, PeriodBudgetBytes, PeriodBudgetBytes};
    OutRecord record;
    while (CanPut<DoneRecord>(s.doneRing) && PeekRecord(s.outRing, record)) {
        void* buffer = record.slot < MaxSlots ? buffers[record.slot] : nullptr;
        if (buffer && s.slots[record.slot].handle.load() == record.handle) {
            const size_t length = record.header->bufferLength;
            const size_t offset = record.serial == s.partSerial ? s.partOffset : 0;
            room.portRoom = UsableRoom(jack_midi_max_event_size(buffer));
            const size_t part = jack_midi_get_event_count(buffer) < MaxEventsPerPortPeriod
                                    ? NextPartLength(length, offset, room)
                                    : 0;
            // Nothing more this period: the message goes on in the next one.
            if (part == 0 ||
                jack_midi_event_write(buffer, 0, record.header->data + offset, part) != 0)
                break;
            room.budget -= part;
            if (offset + part < length) {
                s.partSerial = record.serial;
                s.partOffset = offset + part;
                break;
            }
        }
        // Done, or its port closed meanwhile: a message cut off there is not
        // finished later on a port that may belong to someone else.
        s.partSerial = 0;
        jack_ringbuffer_read_advance(s.outRing, sizeof record);
        PutRecord(s.doneRing, DoneRecord{record.handle, record.header});
        wakeWorker = true;
    }
    s.cycleLeave[Outputs].fetch_add(1);
    if (wakeWorker) sem_post(&s.wake);
    return 0;
}

bool JackServices::State::Connect(bool report) {
    auto closeAll = [this] {
        for (jack_client_t*& c : clients) {
            if (c) jack_client_close(c);
            c = nullptr;
        }
    };
    for (int c = 0; c < 2; ++c) {
        jack_status_t status;
        clients[c] = jack_client_open(ClientNames[c], JackNoStartServer, &status);
        if (!clients[c]) {
            if (report) g_debug("No JACK server running (status 0x%x)", unsigned(status));
            closeAll();
            return false;
        }
        ownPrefixes[c] = std::string(jack_get_client_name(clients[c])) + ":";
    }
    jack_set_process_callback(clients[Inputs], ProcessInputs, this);
    jack_set_process_callback(clients[Outputs], ProcessOutputs, this);
    jack_set_port_registration_callback(
        clients[Inputs], [](jack_port_id_t, int, void* arg) { static_cast<State*>(arg)->stale = true; }, this);
    jack_set_xrun_callback(
        clients[Inputs],
        [](void* arg) {
            static_cast<State*>(arg)->xruns.fetch_add(1);
            return 0;
        },
        this);
    for (jack_client_t* c : clients)
        jack_on_shutdown(
            c,
            [](void* arg) {
                auto* st = static_cast<State*>(arg);
                st->dead = true;
                st->stale = true;
                sem_post(&st->wake);
            },
            this);
    if (jack_activate(clients[Inputs]) != 0 || jack_activate(clients[Outputs]) != 0) {
        g_warning("JACK MIDI: clients could not be activated");
        closeAll();
        return false;
    }
    return true;
}

void JackServices::State::Reconnect() {
    auto now = std::chrono::steady_clock::now();
    if (now - lastAttempt < std::chrono::seconds(1)) return;
    lastAttempt = now;
    {
        std::lock_guard<std::mutex> guard(slotLock);
        for (const Slot& slot : slots)
            if (slot.used) return;  // ports of the old server are still open
    }
    // The worker gives queued sends back while the server is gone; it holds
    // outLock for that, so the new process callback takes over cleanly.
    std::lock_guard<std::mutex> guard(outLock);
    std::lock_guard<std::mutex> server(serverLock);
    for (jack_client_t*& c : clients) {
        if (c) jack_client_close(c);
        c = nullptr;
    }
    if (!Connect(false)) return;  // quiet: this is tried every second
    g_message("JACK MIDI: connected to the server again");
    dead = false;
    stale = true;
}

std::unique_ptr<JackServices> JackServices::Create() {
    QuietJack(true);
    struct Unquiet {
        bool made = false;
        ~Unquiet() {
            if (!made) QuietJack(false);
        }
    } unquiet;
    auto state = std::make_unique<State>();
    sem_init(&state->wake, 0, 0);
    state->inRing = jack_ringbuffer_create(InRingBytes);
    state->outRing = jack_ringbuffer_create(OutRecords * sizeof(OutRecord));
    state->doneRing = jack_ringbuffer_create(OutRecords * sizeof(DoneRecord));
    if (!state->inRing || !state->outRing || !state->doneRing) {
        g_warning("JACK MIDI: ring buffers could not be created");
        return nullptr;
    }
    if (!state->Connect(true)) return nullptr;
    unquiet.made = true;
    return std::unique_ptr<JackServices>(new JackServices(std::move(state)));
}

JackServices::JackServices(std::unique_ptr<State> s) : state(std::move(s)) {
    state->worker = std::thread([this] { Work(); });
}

JackServices::~JackServices() {
    CloseAll();
    State& s = *state;
    // No process callback runs after this; the worker then gives back what is
    // still queued, releases the retired ports and ends. Closing the clients
    // ends libjack's own threads, so nothing of ours or of libjack runs once
    // the destructor returned.
    if (!s.dead) {
        std::lock_guard<std::mutex> server(s.serverLock);
        for (jack_client_t* c : s.clients)
            if (c) jack_deactivate(c);
    }
    s.stopped = true;
    s.stop = true;
    sem_post(&s.wake);
    s.worker.join();
    for (jack_client_t*& c : s.clients) {
        if (c) jack_client_close(c);
        c = nullptr;
    }
    QuietJack(false);
}

void JackServices::Work() {
    State& s = *state;
    std::vector<uint8_t> bytes;
    uint64_t reportedLost = 0;
    for (;;) {
        bool finishing = s.stop.load();
        if (!finishing) WaitForRecords(s.wake, WorkerWakeLimit);
        ReportLostEvents(s.lost.load(), reportedLost);

        // Input events, as they came; the port's assembler joins the parts of
        // a long message, and an input that lost events gives up its open one.
        InRecord record;
        while (TakeHeader(s.inRing, record)) {
            bytes.resize(record.length);
            jack_ringbuffer_read(s.inRing, reinterpret_cast<char*>(bytes.data()), record.length);
            if (record.gap) InputLost(record.handle);
            InputEvent(record.handle, bytes.data(), bytes.size());
        }

        // Without a realtime reader (server gone or client deactivated) queued
        // sends are given back here.
        {
            std::lock_guard<std::mutex> guard(s.outLock);
            OutRecord sent;
            bool orphaned = s.dead || s.stopped;
            while (orphaned && CanPut<DoneRecord>(s.doneRing) && TakeRecord(s.outRing, sent))
                PutRecord(s.doneRing, DoneRecord{sent.handle, sent.header});
        }
        DoneRecord done;
        while (TakeRecord(s.doneRing, done)) OutputDone(done.handle, done.header);
        s.ReleaseRetired();
        if (finishing && jack_ringbuffer_read_space(s.outRing) == 0) return;
    }
}

unsigned JackServices::DeviceCount(bool input) {
    std::lock_guard<std::mutex> guard(state->enumLock);
    state->Refresh();
    return unsigned((input ? state->inNames : state->outNames).size());
}

std::optional<std::wstring> JackServices::DeviceName(bool input, unsigned id) {
    std::lock_guard<std::mutex> guard(state->enumLock);
    state->Refresh();
    const std::vector<std::string>& names = input ? state->inNames : state->outNames;
    if (id >= names.size()) return std::nullopt;
    return DecodeUtf8(names[id], BadUtf8::Latin1Text);
}

bool JackServices::OpenDevice(unsigned id, Port& port) {
    State& s = *state;
    if (s.dead) return false;
    const bool input = port.input;
    std::string peer;
    {
        std::lock_guard<std::mutex> guard(s.enumLock);
        s.Refresh();
        const std::vector<std::string>& names = input ? s.inNames : s.outNames;
        if (id >= names.size()) return false;
        peer = names[id];
    }
    int slot = s.TakeSlot();
    if (slot < 0) {
        g_warning("JACK MIDI: no room for another port (%zu open)", MaxSlots);
        return false;
    }
    std::string name = (input ? "in-" : "out-") + std::to_string(port.handle);
    const int side = input ? State::Inputs : State::Outputs;
    jack_client_t* client = s.clients[side];
    std::lock_guard<std::mutex> server(s.serverLock);
    jack_port_t* own = jack_port_register(client, name.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                          input ? JackPortIsInput : JackPortIsOutput, 0);
    if (!own) {
        s.GiveSlot(size_t(slot));
        g_message("JACK MIDI: port %s could not be registered", name.c_str());
        return false;
    }
    State::Slot& entry = s.slots[slot];
    auto publish = [&] {
        entry.input = input;
        entry.handle.store(port.handle);
        entry.port.store(own);
    };
    // An output is published before it is connected, so the process callback
    // clears its buffer from the first period on; an input once it is connected.
    if (!input) publish();
    const char* from = input ? peer.c_str() : jack_port_name(own);
    const char* to = input ? jack_port_name(own) : peer.c_str();
    if (jack_connect(client, from, to) != 0) {
        if (input) {
            jack_port_unregister(client, own);
            s.GiveSlot(size_t(slot));
        } else {
            s.Retire(size_t(slot), side);
        }
        g_message("JACK MIDI: %s could not be connected", peer.c_str());
        return false;
    }
    if (input) publish();
    port.backend = uintptr_t(slot);
    return true;
}

void JackServices::CloseDevice(Port& port) {
    State& s = *state;
    size_t slot = size_t(port.backend);
    if (slot >= MaxSlots) return;
    // Sends still queued for this port find its slot empty and come back as
    // done; the port itself is unregistered by the worker.
    s.Retire(slot, port.input ? State::Inputs : State::Outputs);
}

unsigned JackServices::SendLong(Port& port, MidiHeader* header) {
    Outgoing one{&port, header, MMSYSERR_NOERROR};
    SendBatch(&one, 1);
    return one.result;
}

void JackServices::SendBatch(Outgoing* batch, size_t count) {
    State& s = *state;
    // Under one hold of outLock; the realtime thread reads the ring without
    // a lock and may start on the first records while later ones are written.
    std::lock_guard<std::mutex> guard(s.outLock);
    for (size_t i = 0; i < count; ++i) {
        Outgoing& o = batch[i];
        if (s.dead || s.stopped) {
            o.result = MMSYSERR_ERROR;
        } else {
            const OutRecord record{o.port->handle, uint64_t(o.port->backend), o.header,
                                   ++s.nextSerial};
            o.result = PutRecord(s.outRing, record) ? MMSYSERR_NOERROR : MMSYSERR_ERROR;
        }
    }
}

}  // namespace midi
