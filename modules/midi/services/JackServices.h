// The JACK backend, on libjack directly: one client carries every input port,
// a second one every output port.
//
// Why so few clients: every JACK client open costs a round trip to every
// existing client, so a client per port (as RtMidi does) makes opening a few
// dozen ports take many seconds. Each opened device registers one port of the
// client of its direction and connects it to the peer's port. Why two and not
// one: a unit's answer comes back on the same client pair, and one client with
// both directions connected to a peer forms a loop in the JACK graph, which the
// server breaks by delaying one direction by a whole period (measured: one
// period more per round trip). With one client per direction the graph stays a
// chain: our outputs, the peer, our inputs, all within one period.
//
// Devices are the MIDI ports of other clients (their outputs are our inputs and
// the other way round), in the server's order; our own ports never count, or every
// open would look like a hot-plug. The port registration callback marks the list
// stale, so the device counts follow hot-plug; a dying server (jack_on_shutdown)
// leaves no devices, and once every port has been closed the backend connects
// again as soon as a server runs (tried at most once a second, when the device
// counts are asked for).
//
// The process callback runs in JACK's realtime thread and never allocates or
// waits: it copies each input event into a lock-free ring buffer for the worker
// thread, which hands the events to the port (PortServices assembles whole
// messages, joining the parts of a long one); an event lost because the ring was
// full makes the worker drop the message then open on that input, and an xrun
// (a period the server could not run in time, which may lose events) every
// input's, so that no message is joined across a gap. It takes long messages queued by OutLongMsg
// from a second ring buffer and writes each one (JackParts.h): whole as one event
// when it fits one period's buffer, otherwise as consecutive events across
// periods, as JACK bridges split long messages; at most PeriodBudgetBytes go
// out per period. A finished header goes back through a third ring buffer so
// that the worker delivers MOM_DONE. Messages up to MaxLongMessage are carried.
// Closing a port clears its slot and leaves the port to the worker, which
// unregisters it once the process cycle that may still see it has ended: the
// realtime thread never sees a freed port, and the closing thread (the user
// interface's) never waits for the realtime one. A message cut off by its port
// closing is not finished later.
//
// Memory: a port costs its slot; the rings are the backend's, 1 MiB for input
// and a few tens of KiB for the headers of output.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "PortServices.h"

namespace midi {

class JackServices : public PortServices {
public:

    // Null when no JACK server runs (it is never started for us).
    static std::unique_ptr<JackServices> Create();
    ~JackServices() override;

    struct State;

protected:
    unsigned DeviceCount(bool input) override;
    std::optional<std::wstring> DeviceName(bool input, unsigned id) override;
    // Both directions: a port of the direction's client, connected to the peer.
    bool OpenDevice(unsigned id, Port& port) override;
    void CloseDevice(Port& port) override;
    unsigned SendLong(Port& port, MidiHeader* header) override;
    void SendBatch(Outgoing* batch, size_t count) override;

private:
    explicit JackServices(std::unique_ptr<State> state);
    void Work();
    std::unique_ptr<State> state;
};

}  // namespace midi
