#include "SimServices.h"

#include <glib.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <unordered_map>
#include <mutex>
#include <thread>
#include <utility>

#include "UnitSimulator.h"
#include "framework/Utf8.h"

namespace midi {

SimLayout SimLayoutForUnits(const std::vector<SimUnit>& units) {
    SimLayout layout;
    for (size_t i = 0; i < units.size(); ++i) {
        std::wstring name = DecodeLatin1(UnitPortName({units[i].type, units[i].id}));
        layout.inputs.push_back(name);
        layout.outputs.push_back(name);
        SimUnit unit = units[i];
        unit.listensOn = {unsigned(i)};
        unit.answersOn = {unsigned(i)};
        layout.units.push_back(unit);
    }
    return layout;
}

SimLayout SimLayoutFromEnvironment() {
    const char* text = std::getenv("KORVO_SIM_UNITS");
    std::string list = text ? text : "";
    std::vector<UnitConfig> configs =
        list.find_first_not_of(" \t") == std::string::npos ? DefaultUnits() : ParseUnitList(list);
    std::vector<SimUnit> units;
    for (const UnitConfig& c : configs) {
        SimUnit u;
        u.type = c.type;
        u.id = c.id;
        units.push_back(u);
    }
    SimLayout layout = SimLayoutForUnits(units);
    layout.recordSent = false;
    return layout;
}

// Ports are known by a serial number that survives renumbering on hot-plug.
//
// Threaded delivery. The caller of OutLongMsg only appends {handle, header,
// order} to the outbox and, when the worker sleeps, wakes it; a run of sends
// (the device module's poll hands out one message per unit in one go) thus
// costs one wake-up instead of one per message, and the sender never waits
// for the units. The worker takes the whole outbox at once, lets the units
// handle every message under one hold of the lock (the message bytes still
// belong to the services until the done notice, so they are read in place),
// and then, without the lock, gives each header back (MOM_DONE) followed by
// the immediate answers it caused; late answers go into `pending` by due time.
// Injected input lives in `pending` too; every entry carries an order number,
// and the worker never passes an outbox entry ahead of an earlier due entry
// of `pending`, so callbacks keep the order in which things were sent.
struct SimServices::State {
    struct SimPort {
        uint64_t serial;
        std::wstring name;
    };
    struct Unit {
        std::unique_ptr<UnitSimulator> simulator;
        std::vector<uint64_t> listens;  // output serials
        std::vector<uint64_t> answers;  // input serials
        uint32_t delayMs;
    };
    struct Outgoing {
        MidiHandle handle;
        MidiHeader* header;
        uint64_t serial;  // output port serial
        uint64_t order;
    };
    // One answer to pass on at once: the bytes reach every listed input handle.
    struct Answer {
        size_t message;  // index of the outgoing message in its batch
        std::vector<MidiHandle> handles;
        std::vector<uint8_t> bytes;
    };

    SimServices* owner = nullptr;
    bool synchronous = false;
    bool recordSent = true;
    std::mutex lock;
    std::condition_variable wake;
    std::condition_variable idle;
    std::vector<SimPort> inputs;
    std::vector<SimPort> outputs;
    uint64_t nextSerial = 1;
    std::vector<Unit> units;
    // Output serial -> indexes in units of the units listening there.
    std::unordered_map<uint64_t, std::vector<size_t>> listeners;
    std::vector<Sent> sent;
    std::map<MidiHandle, uint64_t> openInputs;  // handle -> input serial
    // A pending delivery's place: when it falls due, then the order in which
    // it was scheduled, so that deliveries due at once keep their order.
    struct DueKey {
        uint64_t dueMs;
        uint64_t order;
        auto operator<=>(const DueKey&) const = default;
    };
    std::map<DueKey, std::function<void()>> pending;
    std::vector<Outgoing> outbox;  // threaded mode: sent, not yet taken by the worker
    uint64_t order = 0;
    bool busy = false;
    bool sleeping = false;  // the worker waits on `wake`
    bool stop = false;
    std::function<uint64_t()> clock = [] { return PortServices::NowMs(); };
    std::thread worker;

    static std::vector<uint64_t> Serials(const std::vector<SimPort>& list, const std::vector<unsigned>& numbers) {
        std::vector<uint64_t> serials;
        for (unsigned n : numbers)
            if (n < list.size()) serials.push_back(list[n].serial);
        return serials;
    }
    static int Index(const std::vector<SimPort>& list, uint64_t serial) {
        for (size_t i = 0; i < list.size(); ++i)
            if (list[i].serial == serial) return int(i);
        return -1;
    }
    void AddUnit(const SimUnit& u) {
        units.push_back({std::make_unique<UnitSimulator>(u.type, u.id), Serials(outputs, u.listensOn),
                         Serials(inputs, u.answersOn), u.replyDelayMs});
        for (uint64_t serial : units.back().listens) {
            std::vector<size_t>& list = listeners[serial];
            if (list.empty() || list.back() != units.size() - 1) list.push_back(units.size() - 1);
        }
    }
    void Schedule(uint64_t due, std::function<void()> action) {
        pending.emplace(DueKey{due, order++}, std::move(action));
        sleeping = false;
        wake.notify_all();
    }
    std::vector<MidiHandle> OpenHandles(uint64_t inputSerial) const {
        std::vector<MidiHandle> handles;
        for (auto& [h, serial] : openInputs)
            if (serial == inputSerial) handles.push_back(h);
        return handles;
    }
    // An answer passed on later: it looks up the open handles of its input
    // when it is delivered, since ports may open or close in between.
    std::function<void()> DeliverLater(uint64_t input, std::vector<uint8_t> bytes) {
        return [this, input, bytes = std::move(bytes)] {
            std::vector<MidiHandle> handles;
            {
                std::lock_guard<std::mutex> g(lock);
                if (Index(inputs, input) < 0) return;  // unplugged
                handles = OpenHandles(input);
            }
            for (MidiHandle h : handles) owner->InputEvent(h, bytes.data(), bytes.size());
        };
    }
    // Under the lock: keeps a copy of a sent message when the layout asks for it.
    void Record(uint64_t serial, const MidiHeader* header) {
        if (!recordSent) return;
        int index = Index(outputs, serial);
        if (index >= 0)
            sent.push_back({unsigned(index), std::vector<uint8_t>(header->data, header->data + header->bufferLength)});
    }
    // Under the lock: every unit listening on a message's port handles it.
    // Immediate answers are collected in batch order with the input handles
    // open right now; late ones are scheduled (synchronous mode: by the
    // test's clock).
    void HandleBatch(const std::vector<Outgoing>& batch, std::vector<Answer>& answers) {
        const uint64_t now = synchronous ? clock() : PortServices::NowMs();
        std::vector<std::vector<uint8_t>> replies;
        for (size_t i = 0; i < batch.size(); ++i) {
            const Outgoing& out = batch[i];
            if (Index(outputs, out.serial) < 0) continue;  // unplugged: only the done notice
            auto listening = listeners.find(out.serial);
            if (listening == listeners.end()) continue;
            for (size_t u : listening->second) {
                Unit& unit = units[u];
                replies.clear();
                unit.simulator->Handle(out.header->data, out.header->bufferLength, replies);
                for (auto& reply : replies)
                    for (uint64_t input : unit.answers) {
                        if (unit.delayMs > 0)
                            Schedule(now + unit.delayMs, DeliverLater(input, reply));
                        else if (Index(inputs, input) >= 0)
                            answers.push_back({i, OpenHandles(input), reply});
                    }
            }
        }
    }
    // Without the lock: gives each header of a handled batch back (MOM_DONE),
    // followed by the immediate answers it caused.
    void PassOn(const std::vector<Outgoing>& batch, const std::vector<Answer>& answers) {
        size_t next = 0;
        for (size_t i = 0; i < batch.size(); ++i) {
            owner->OutputDone(batch[i].handle, batch[i].header);
            for (; next < answers.size() && answers[next].message == i; ++next)
                for (MidiHandle h : answers[next].handles)
                    owner->InputEvent(h, answers[next].bytes.data(), answers[next].bytes.size());
        }
    }
};

SimServices::SimServices(SimLayout layout) : state(std::make_unique<State>()) {
    State& s = *state;
    s.owner = this;
    s.synchronous = layout.synchronous;
    s.recordSent = layout.recordSent;
    for (const std::wstring& name : layout.inputs) s.inputs.push_back({s.nextSerial++, name});
    for (const std::wstring& name : layout.outputs) s.outputs.push_back({s.nextSerial++, name});
    for (const SimUnit& u : layout.units) s.AddUnit(u);
    if (s.synchronous) return;
    s.worker = std::thread([this] { RunWorker(); });
}

void SimServices::RunWorker() {
    State& s = *state;
    std::vector<State::Outgoing> batch;
    std::vector<State::Answer> answers;
    std::unique_lock<std::mutex> guard(s.lock);
    while (!s.stop) {
        const uint64_t now = NowMs();
        const bool pendingDue = !s.pending.empty() && s.pending.begin()->first.dueMs <= now;
        if (!s.outbox.empty() && (!pendingDue || s.outbox.front().order < s.pending.begin()->first.order)) {
            // Take the outbox up to the first due entry of pending that was scheduled before it.
            const uint64_t limit = pendingDue ? s.pending.begin()->first.order : UINT64_MAX;
            size_t take = 0;
            while (take < s.outbox.size() && s.outbox[take].order < limit) ++take;
            batch.assign(s.outbox.begin(), s.outbox.begin() + take);
            s.outbox.erase(s.outbox.begin(), s.outbox.begin() + take);
            s.busy = true;
            answers.clear();
            s.HandleBatch(batch, answers);
            guard.unlock();
            s.PassOn(batch, answers);
            guard.lock();
            s.busy = false;
            s.idle.notify_all();
            continue;
        }
        if (pendingDue) {
            std::function<void()> action = std::move(s.pending.begin()->second);
            s.pending.erase(s.pending.begin());
            s.busy = true;
            guard.unlock();
            action();
            guard.lock();
            s.busy = false;
            s.idle.notify_all();
            continue;
        }
        s.sleeping = true;
        if (s.pending.empty())
            s.wake.wait(guard);
        else
            s.wake.wait_for(guard, std::chrono::milliseconds(s.pending.begin()->first.dueMs - now));
        s.sleeping = false;
    }
}

SimServices::~SimServices() {
    CloseAll();
    State& s = *state;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        s.stop = true;
    }
    s.wake.notify_all();
    if (s.worker.joinable()) s.worker.join();
    // Headers still held go back with their done notices; answers find no port.
    for (const State::Outgoing& out : s.outbox) OutputDone(out.handle, out.header);
    s.outbox.clear();
    while (!s.pending.empty()) {
        auto action = std::move(s.pending.begin()->second);
        s.pending.erase(s.pending.begin());
        action();
    }
}

unsigned SimServices::DeviceCount(bool input) {
    std::lock_guard<std::mutex> guard(state->lock);
    return unsigned((input ? state->inputs : state->outputs).size());
}

std::optional<std::wstring> SimServices::DeviceName(bool input, unsigned id) {
    std::lock_guard<std::mutex> guard(state->lock);
    const std::vector<State::SimPort>& ports = input ? state->inputs : state->outputs;
    if (id >= ports.size()) return std::nullopt;
    return ports[id].name;
}

bool SimServices::OpenDevice(unsigned id, Port& port) {
    std::lock_guard<std::mutex> guard(state->lock);
    const std::vector<State::SimPort>& ports = port.input ? state->inputs : state->outputs;
    if (id >= ports.size()) return false;
    port.backend = uintptr_t(ports[id].serial);
    if (port.input) state->openInputs[port.handle] = ports[id].serial;
    return true;
}

void SimServices::CloseDevice(Port& port) {
    // Done notices already scheduled for an output still come; nothing else is held.
    std::lock_guard<std::mutex> guard(state->lock);
    if (port.input) state->openInputs.erase(port.handle);
}

unsigned SimServices::SendLong(Port& port, MidiHeader* header) {
    Outgoing one{&port, header, MMSYSERR_NOERROR};
    SendBatch(&one, 1);
    return one.result;
}

void SimServices::SendBatch(Outgoing* batch, size_t count) {
    State& s = *state;
    if (s.synchronous) {
        // Each message with its done notice and immediate answers before the next.
        for (size_t i = 0; i < count; ++i) {
            std::vector<State::Outgoing> one{
                {batch[i].port->handle, batch[i].header, uint64_t(batch[i].port->backend), 0}};
            std::vector<State::Answer> answers;
            {
                std::lock_guard<std::mutex> guard(s.lock);
                s.Record(one[0].serial, one[0].header);
                s.HandleBatch(one, answers);
            }
            s.PassOn(one, answers);
            batch[i].result = MMSYSERR_NOERROR;
        }
        return;
    }
    // The whole batch joins the outbox under one hold of the lock, and the
    // worker is woken once, after it.
    bool wake = false;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        for (size_t i = 0; i < count; ++i) {
            const uint64_t serial = uint64_t(batch[i].port->backend);
            s.Record(serial, batch[i].header);
            s.outbox.push_back({batch[i].port->handle, batch[i].header, serial, s.order++});
            batch[i].result = MMSYSERR_NOERROR;
        }
        wake = s.sleeping;
        s.sleeping = false;
    }
    if (wake) s.wake.notify_one();
}

void SimServices::SetClock(std::function<uint64_t()> nowMs) {
    std::lock_guard<std::mutex> guard(state->lock);
    state->clock = nowMs ? std::move(nowMs) : [] { return PortServices::NowMs(); };
}

int SimServices::Pump() {
    State& s = *state;
    int count = 0;
    for (;;) {
        std::function<void()> action;
        {
            std::lock_guard<std::mutex> guard(s.lock);
            if (!s.synchronous || s.pending.empty() || s.pending.begin()->first.dueMs > s.clock()) break;
            action = std::move(s.pending.begin()->second);
            s.pending.erase(s.pending.begin());
        }
        action();
        ++count;
    }
    return count;
}

void SimServices::WaitIdle() {
    State& s = *state;
    std::unique_lock<std::mutex> guard(s.lock);
    if (s.synchronous) return;
    s.idle.wait(guard, [&] { return s.pending.empty() && s.outbox.empty() && !s.busy; });
}

void SimServices::InjectInput(unsigned port, std::vector<uint8_t> bytes) {
    State& s = *state;
    std::vector<MidiHandle> handles;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (port >= s.inputs.size()) return;
        uint64_t serial = s.inputs[port].serial;
        if (!s.synchronous) {
            s.Schedule(NowMs(), s.DeliverLater(serial, std::move(bytes)));
            return;
        }
        for (auto& [h, sInput] : s.openInputs)
            if (sInput == serial) handles.push_back(h);
    }
    for (MidiHandle h : handles) InputEvent(h, bytes.data(), bytes.size());
}

unsigned SimServices::AddInputPort(const std::wstring& name) {
    std::lock_guard<std::mutex> guard(state->lock);
    state->inputs.push_back({state->nextSerial++, name});
    return unsigned(state->inputs.size() - 1);
}

unsigned SimServices::AddOutputPort(const std::wstring& name) {
    std::lock_guard<std::mutex> guard(state->lock);
    state->outputs.push_back({state->nextSerial++, name});
    return unsigned(state->outputs.size() - 1);
}

bool SimServices::RemoveInputPort(unsigned port) {
    std::lock_guard<std::mutex> guard(state->lock);
    if (port >= state->inputs.size()) return false;
    state->inputs.erase(state->inputs.begin() + port);
    return true;
}

void SimServices::AddUnit(const SimUnit& unit) {
    std::lock_guard<std::mutex> guard(state->lock);
    state->AddUnit(unit);
}

std::vector<SimServices::Sent> SimServices::SentMessages() {
    std::lock_guard<std::mutex> guard(state->lock);
    return state->sent;
}

UnitSimulator* SimServices::Unit(int32_t id) {
    std::lock_guard<std::mutex> guard(state->lock);
    for (auto& unit : state->units)
        if (unit.simulator->Id() == id) return unit.simulator.get();
    return nullptr;
}

}  // namespace midi
