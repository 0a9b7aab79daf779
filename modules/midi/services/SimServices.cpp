#include "SimServices.h"

#include <glib.h>

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "UnitSimulator.h"

namespace midi {

namespace {

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

}  // namespace

SimLayout SimLayoutForUnits(const std::vector<SimUnit>& units) {
    SimLayout layout;
    for (size_t i = 0; i < units.size(); ++i) {
        std::wstring name = Widen(UnitPortName({units[i].type, units[i].id}));
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

    bool synchronous = false;
    bool recordSent = true;
    std::mutex lock;
    std::condition_variable wake;
    std::condition_variable idle;
    std::vector<SimPort> inputs;
    std::vector<SimPort> outputs;
    uint64_t nextSerial = 1;
    std::vector<Unit> units;
    std::vector<Sent> sent;
    std::map<MidiHandle, uint64_t> openInputs;  // handle -> input serial
    // Pending deliveries by (due time, order of scheduling).
    std::map<std::pair<uint64_t, uint64_t>, std::function<void()>> pending;
    uint64_t order = 0;
    bool busy = false;
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
    }
    void Schedule(uint64_t due, std::function<void()> action) {
        pending.emplace(std::make_pair(due, order++), std::move(action));
        wake.notify_all();
    }
};

SimServices::SimServices(SimLayout layout) : state(std::make_unique<State>()) {
    State& s = *state;
    s.synchronous = layout.synchronous;
    s.recordSent = layout.recordSent;
    for (const std::wstring& name : layout.inputs) s.inputs.push_back({s.nextSerial++, name});
    for (const std::wstring& name : layout.outputs) s.outputs.push_back({s.nextSerial++, name});
    for (const SimUnit& u : layout.units) s.AddUnit(u);
    if (s.synchronous) return;
    s.worker = std::thread([&s] {
        std::unique_lock<std::mutex> guard(s.lock);
        while (!s.stop) {
            if (s.pending.empty()) {
                s.wake.wait(guard);
                continue;
            }
            auto first = s.pending.begin();
            uint64_t now = PortServices::NowMs();
            if (first->first.first > now) {
                s.wake.wait_for(guard, std::chrono::milliseconds(first->first.first - now));
                continue;
            }
            std::function<void()> action = std::move(first->second);
            s.pending.erase(first);
            s.busy = true;
            guard.unlock();
            action();
            guard.lock();
            s.busy = false;
            s.idle.notify_all();
        }
    });
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
    // Done notices still pending give their headers back; answers find no port.
    while (!s.pending.empty()) {
        auto action = std::move(s.pending.begin()->second);
        s.pending.erase(s.pending.begin());
        action();
    }
}

unsigned SimServices::InGetNumDevs() {
    std::lock_guard<std::mutex> guard(state->lock);
    return unsigned(state->inputs.size());
}

unsigned SimServices::OutGetNumDevs() {
    std::lock_guard<std::mutex> guard(state->lock);
    return unsigned(state->outputs.size());
}

unsigned SimServices::InGetDevCaps(unsigned id, std::wstring* name) {
    std::lock_guard<std::mutex> guard(state->lock);
    if (id >= state->inputs.size()) return MMSYSERR_BADDEVICEID;
    if (name) *name = state->inputs[id].name;
    return MMSYSERR_NOERROR;
}

unsigned SimServices::OutGetDevCaps(unsigned id, std::wstring* name) {
    std::lock_guard<std::mutex> guard(state->lock);
    if (id >= state->outputs.size()) return MMSYSERR_BADDEVICEID;
    if (name) *name = state->outputs[id].name;
    return MMSYSERR_NOERROR;
}

bool SimServices::OpenInputDevice(unsigned id, Port& port) {
    std::lock_guard<std::mutex> guard(state->lock);
    if (id >= state->inputs.size()) return false;
    port.backend = uintptr_t(state->inputs[id].serial);
    state->openInputs[port.handle] = state->inputs[id].serial;
    return true;
}

bool SimServices::OpenOutputDevice(unsigned id, Port& port) {
    std::lock_guard<std::mutex> guard(state->lock);
    if (id >= state->outputs.size()) return false;
    port.backend = uintptr_t(state->outputs[id].serial);
    return true;
}

void SimServices::CloseDevice(Port& port) {
    // Done notices already scheduled for an output still come; nothing else is held.
    std::lock_guard<std::mutex> guard(state->lock);
    if (port.input) state->openInputs.erase(port.handle);
}

unsigned SimServices::SendLong(Port& port, MidiHeader* header) {
    State& s = *state;
    MidiHandle handle = port.handle;
    std::vector<std::pair<uint32_t, std::function<void()>>> deliveries;  // (delay, action)
    {
        std::lock_guard<std::mutex> guard(s.lock);
        uint64_t serial = uint64_t(port.backend);
        int index = State::Index(s.outputs, serial);
        std::vector<uint8_t> bytes(header->data, header->data + header->bufferLength);
        deliveries.emplace_back(0, [this, handle, header] { OutputDone(handle, header); });
        if (index >= 0) {
            if (s.recordSent) s.sent.push_back({unsigned(index), bytes});
            for (State::Unit& unit : s.units) {
                if (std::find(unit.listens.begin(), unit.listens.end(), serial) == unit.listens.end()) continue;
                std::vector<std::vector<uint8_t>> answers;
                unit.simulator->Handle(bytes.data(), bytes.size(), answers);
                for (auto& answer : answers)
                    for (uint64_t input : unit.answers)
                        deliveries.emplace_back(unit.delayMs, [this, input, answer] {
                            std::vector<MidiHandle> handles;
                            {
                                std::lock_guard<std::mutex> g(state->lock);
                                if (State::Index(state->inputs, input) < 0) return;  // unplugged
                                for (auto& [h, sInput] : state->openInputs)
                                    if (sInput == input) handles.push_back(h);
                            }
                            for (MidiHandle h : handles) InputEvent(h, answer.data(), answer.size());
                        });
            }
        }
        if (!s.synchronous) {
            uint64_t now = NowMs();
            for (auto& [delay, action] : deliveries) s.Schedule(now + delay, std::move(action));
            return MMSYSERR_NOERROR;
        }
        uint64_t now = s.clock();
        for (auto& [delay, action] : deliveries)
            if (delay > 0) s.Schedule(now + delay, std::move(action));
    }
    for (auto& [delay, action] : deliveries)
        if (delay == 0) action();
    return MMSYSERR_NOERROR;
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
            if (!s.synchronous || s.pending.empty() || s.pending.begin()->first.first > s.clock()) break;
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
    s.idle.wait(guard, [&] { return s.pending.empty() && !s.busy; });
}

void SimServices::InjectInput(unsigned port, std::vector<uint8_t> bytes) {
    State& s = *state;
    std::vector<MidiHandle> handles;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (port >= s.inputs.size()) return;
        uint64_t serial = s.inputs[port].serial;
        if (!s.synchronous) {
            s.Schedule(NowMs(), [this, serial, bytes = std::move(bytes)] {
                std::vector<MidiHandle> targets;
                {
                    std::lock_guard<std::mutex> g(state->lock);
                    if (State::Index(state->inputs, serial) < 0) return;  // unplugged
                    for (auto& [h, sInput] : state->openInputs)
                        if (sInput == serial) targets.push_back(h);
                }
                for (MidiHandle h : targets) InputEvent(h, bytes.data(), bytes.size());
            });
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

bool SimServices::RemoveOutputPort(unsigned port) {
    std::lock_guard<std::mutex> guard(state->lock);
    if (port >= state->outputs.size()) return false;
    state->outputs.erase(state->outputs.begin() + port);
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
