// The in-process backend: simulated units on simulated ports.
//
// A layout names the input and output ports (numbered from 0 in each direction)
// and the units. Each unit listens on some output ports (a message sent there
// reaches it) and answers on some input ports (its answers arrive there); a port
// without units stays silent. A unit may answer late (replyDelayMs).
//
// Delivery:
//   - threaded (default): OutLongMsg only queues the message; the units handle it,
//     and answers, done notices and injected input are passed to the callbacks on
//     the simulator's own thread; late answers after their delay in real time.
//     WaitIdle() returns once everything pending has been passed on.
//   - synchronous: on the calling thread. OutLongMsg sends MOM_DONE and then the
//     immediate answers before it returns; late answers are held until Pump()
//     finds them due by the clock given to SetClock (a test's manual clock).
// Either way a callback is never called while the simulator holds its lock, so a
// callback may call back into the services.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "PortServices.h"

namespace midi {

class UnitSimulator;

struct SimUnit {
    uint8_t type = 0x11;
    int32_t id = 1;
    std::vector<unsigned> listensOn;  // output port numbers
    std::vector<unsigned> answersOn;  // input port numbers
    uint32_t replyDelayMs = 0;
};

struct SimLayout {
    std::vector<std::wstring> inputs;   // input port names
    std::vector<std::wstring> outputs;  // output port names
    std::vector<SimUnit> units;
    bool synchronous = false;
    // Keep every sent message for SentMessages(). Tests want it; a long demo run
    // must not grow without bound, so the layout from the environment turns it off.
    bool recordSent = true;
};

// One input/output port pair per unit, both named after the unit ("Sim 11:0012d687").
SimLayout SimLayoutForUnits(const std::vector<SimUnit>& units);
// The layout from KORVO_SIM_UNITS ("11:1234567,0a:42"); unset or empty gives one
// unit of each type 0x0A, 0x0B, 0x11, 0x12. Entries that do not parse are skipped
// with a warning.
SimLayout SimLayoutFromEnvironment();

class SimServices : public PortServices {
public:
    explicit SimServices(SimLayout layout);
    ~SimServices() override;

    // --- test controls ---
    // Time source for late answers in synchronous mode (milliseconds).
    void SetClock(std::function<uint64_t()> nowMs);
    // Synchronous mode: passes on every held answer that is due; returns how many.
    int Pump();
    // Threaded mode: returns once every pending answer (late ones included), done
    // notice and injected input has been passed to the callbacks.
    void WaitIdle();

    // Raw bytes arriving on input port `port` as one event, handled as a device's
    // bytes would be (PortServices): a whole message F0..F7 fills a queued buffer
    // (MIM_LONGDATA), F0 without F7 waits for the rest in later events, a short
    // message gives MIM_DATA, anything else MIM_ERROR.
    void InjectInput(unsigned port, std::vector<uint8_t> bytes);

    // Hot-plug: ports appear at the end of their direction; removing a port
    // renumbers the ports behind it. Open handles on a removed port stay valid
    // but go silent.
    unsigned AddInputPort(const std::wstring& name);
    unsigned AddOutputPort(const std::wstring& name);
    bool RemoveInputPort(unsigned port);
    void AddUnit(const SimUnit& unit);

    // Every complete message sent so far (when the layout records them), with its
    // output port number at the time.
    struct Sent {
        unsigned port;
        std::vector<uint8_t> bytes;
    };
    std::vector<Sent> SentMessages();
    // The simulated unit with this id, or null (its parameter table can be read;
    // in threaded mode the units handle messages on the worker: WaitIdle() first).
    UnitSimulator* Unit(int32_t id);

protected:
    unsigned DeviceCount(bool input) override;
    std::optional<std::wstring> DeviceName(bool input, unsigned id) override;
    bool OpenDevice(unsigned id, Port& port) override;
    void CloseDevice(Port& port) override;
    unsigned SendLong(Port& port, MidiHeader* header) override;
    void SendBatch(Outgoing* batch, size_t count) override;

private:
    // Threaded mode: passes sent messages, answers and injected input on.
    void RunWorker();

    struct State;
    std::unique_ptr<State> state;
};

}  // namespace midi
