#pragma once
// TannevaleMidi: the device module. It finds the units that answer on the
// computer's MIDI ports and moves messages between them and its connectors
// "Send", "Receive", "Status" and "Reset"; a fifth, "Ports", names the ports
// each announced unit was found on. Everything runs on the
// user-interface thread, driven by timer 1 and by messages posted to a hidden
// child window; the MIDI callbacks only hand their data to that window.

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "framework/Array.h"
#include "framework/Connector.h"
#include "framework/Module.h"
#include "modules/midi/MidiDevice.h"
#include "modules/midi/services/MidiServices.h"
#include "platform/Window.h"

namespace devicemessage {
struct UnitMessage;
}

// The KorvoModule part of the device module, declaring its connector handlers.
// The framework calls a handler through the KorvoModule pointer; declared here,
// where KorvoModule sits at offset zero, the handler pointer needs no this
// adjustment, and the override in TannevaleMidi is reached by virtual dispatch.
// (A handler taken directly from TannevaleMidi, whose KorvoModule part follows
// the window, is correct C++ but trips UBSan's vptr check on the adjusted call.)
class TannevaleMidiHandlers : public KorvoModule {
public:
    virtual void OnSend(KorvoConnector* connector) = 0;
    virtual void OnReset(KorvoConnector* connector) = 0;
};

class TannevaleMidi : public platform::Window, public TannevaleMidiHandlers {
public:
    // Values of state other than these (0 and above) mean Probing: the index in
    // outputs of the next output port to probe.
    enum : int32_t { ScanPending = -1, Running = -2, Closing = -3 };

    static constexpr unsigned TimerId = 1;
    static constexpr unsigned WM_MIDI_INPUT = 0x0400;  // wparam: input code; lparam: InputRecord*
    static constexpr unsigned WM_RESCAN = 0x0401;

    // Timer delays. A scan follows 1.5 s after start or restart; every output
    // port gets 200 ms for the answers to its probe; the running tick (device
    // count check and poll) comes every 100 ms.
    static constexpr uint32_t ScanDelayMs = 1500;
    static constexpr uint32_t ProbeDelayMs = 200;
    static constexpr uint32_t RunningDelayMs = 100;
    static constexpr uint32_t ClosingDelayMs = 1500;
    // Polls come every this many milliseconds, and a state report from a
    // unit puts the next poll of every unit more than this far after it.
    static constexpr uint64_t PollIntervalMs = 100;

    // Every input port keeps this many system-exclusive buffers queued, each
    // replaced as soon as it has been handled: 32 absorb a burst of replies
    // between two deliveries on the user-interface thread. A buffer holds the
    // usual unit message; it is queued growable, and the services hand a longer
    // message (up to midi::MaxLongMessage) back in it grown to its length, so a
    // port costs 32 KiB at rest whatever the longest message it may carry.
    static constexpr int InputBufferCount = 32;
    static constexpr uint32_t InputBufferSize = 1024;

    TannevaleMidi();
    ~TannevaleMidi() override;
    void Start() override;

    // "Send" text -> one message to a unit; false when no unit has the id or
    // the message could not be handed to the services (true while Closing: the
    // message is dropped then).
    bool SendToUnit(int32_t id, uint8_t command, uint8_t value, const uint8_t* payload, std::size_t count);
    // Hands a whole message to port's output; takes ownership of bytes (new[]).
    bool SendLong(MidiDevice* port, uint8_t* bytes, std::size_t length);

    // Closes the ports without units, or all ports when all is set.
    void CloseDevices(bool all);

    // What the tests and diagnostics look at.
    int32_t State() const { return state; }
    const Array<MidiDevice*>& Inputs() const { return inputs; }
    const Array<MidiDevice*>& Outputs() const { return outputs; }
    uint64_t LastPollTime() const { return lastPollTime; }

    // The callbacks given to the MIDI services; they run on the services' threads.
    static void InputCallback(midi::MidiHandle handle, unsigned message, uintptr_t instance,
                              uintptr_t param1, uintptr_t param2);
    static void OutputCallback(midi::MidiHandle handle, unsigned message, uintptr_t instance,
                               uintptr_t param1, uintptr_t param2);

protected:
    void OnTimer(unsigned id) override;
    void OnMessage(unsigned message, uintptr_t wparam, uintptr_t lparam) override;
    void OnDestroy() override;

private:
    // Connector handlers.
    void OnSend(KorvoConnector* connector) override;
    void OnReset(KorvoConnector* connector) override;
    void OnRescan();

    // Discovery (Discovery.cpp).
    void Scan();
    void Probe(int index);
    void Register(const devicemessage::UnitMessage& message, midi::MidiHandle input);
    bool AddUnit(int32_t id, uint8_t type, Array<MidiDevice*>& list, midi::MidiHandle input,
                 midi::MidiHandle output);
    void FinishDiscovery();
    // The name of the output port holding the unit with this id ("" if none).
    String OutputNameOf(int32_t id) const;
    void QueueInputBuffer(midi::MidiHandle input);

    // Transfer (Transfer.cpp).
    intptr_t OnMidiInput(unsigned code, uintptr_t record);
    // A whole message from an input: reported, used for discovery, or dropped.
    void HandleUnitBytes(midi::MidiHandle input, const uint8_t* bytes, std::size_t recorded);
    // The one warning for bytes from an input that are dropped.
    void WarnDropped(midi::MidiHandle input, const uint8_t* bytes, std::size_t recorded,
                     const char* reason) const;
    void ReportMessage(uint8_t type, int32_t id, uint8_t command, uint8_t value, const uint8_t* payload,
                       std::size_t count);
    void Poll();
    bool SendToPortUnit(MidiDevice* port, const MidiDevice::Unit& unit, uint8_t command, uint8_t value,
                        const uint8_t* payload, std::size_t count);

    // True when the module was restarted or stopped since the given count was
    // read: a handler of a peer connector may reset the module from inside any
    // of our own connector writes, and the work in progress must then stop.
    bool RestartedSince(uint32_t count) const { return restarts != count; }

    KorvoTextConnector* send;
    KorvoTextConnector* receive;
    KorvoTextConnector* status;
    KorvoLongConnector* reset;
    KorvoTextConnector* ports;
    int32_t state = ScanPending;
    uint32_t inDeviceCount = 0;
    uint32_t outDeviceCount = 0;
    uint64_t lastPollTime = 0;
    // Set when lastPollTime holds the moment of a deferring reply rather than
    // of a poll (see Poll).
    bool deferredByReply = false;
    Array<MidiDevice*> inputs;
    Array<MidiDevice*> outputs;
    // Incremented by every CloseDevices(true).
    uint32_t restarts = 0;
    // The module window's handle as the input callback reads it from other
    // threads; 0 once the window is gone.
    std::atomic<platform::WindowHandle> windowHandle{0};
};
