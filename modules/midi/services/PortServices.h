// PortServices: what every backend shares — handles, the life of the buffers and
// how a received event becomes callbacks.
//
// A backend only enumerates devices, opens and closes them, sends one complete
// message, and reports what arrives (InputEvent) and what was sent (OutputDone)
// from whatever thread it runs. This class keeps the open ports by handle (a
// counter, never reused), checks every header and handle at the edge, keeps each
// input port's queue of buffers and fills them:
//   - every event of an input goes through the port's SysexAssembler, which joins
//     a message sent in parts and drops, with its reason, a message over the
//     bound or cut short; a port closing with a message open drops it too, and so
//     does input the backend reports lost in between (InputLost);
//   - each whole system-exclusive message (F0 .. F7) goes into the next queued
//     buffer, grown to the message's length when the caller allowed it
//     (MHDR_GROWABLE), and back with MIM_LONGDATA; with no queued buffer, or one
//     too short that may not grow, the message is dropped;
//   - a well-formed short message becomes MIM_DATA (status | d1 << 8 | d2 << 16),
//     anything else MIM_ERROR with its first bytes packed the same way.
// Every dropped message gives one warning with the port's name, its length and
// the reason, logged once the lock is released.
// Callbacks are never called while the lock is held. Closing waits until no
// delivery for that port is in flight, so no input callback for a handle runs
// after its close returned (unless the close is called from a callback itself).
// A closed output port stays known until its last MOM_DONE was delivered, so a
// done notice always reaches the callback it belongs to.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "MidiServices.h"
#include "SysexAssembler.h"

namespace midi {

class PortServices : public MidiServices {
public:
    PortServices();
    ~PortServices() override;

    // The calls whose In and Out forms differ only in the direction; the device
    // lists come from the backend's DeviceCount and DeviceName.
    unsigned InGetNumDevs() override;
    unsigned OutGetNumDevs() override;
    unsigned InGetDevCaps(unsigned id, std::wstring* name) override;
    unsigned OutGetDevCaps(unsigned id, std::wstring* name) override;
    unsigned InOpen(MidiHandle* out, unsigned id, MidiCallback callback, uintptr_t instance) override;
    unsigned OutOpen(MidiHandle* out, unsigned id, MidiCallback callback, uintptr_t instance) override;
    unsigned InPrepareHeader(MidiHandle handle, MidiHeader* header) override;
    unsigned OutPrepareHeader(MidiHandle handle, MidiHeader* header) override;
    unsigned InUnprepareHeader(MidiHandle handle, MidiHeader* header) override;
    unsigned OutUnprepareHeader(MidiHandle handle, MidiHeader* header) override;

    unsigned InAddBuffer(MidiHandle handle, MidiHeader* header) override;
    unsigned InStart(MidiHandle handle) override;
    unsigned InStop(MidiHandle handle) override;
    unsigned InReset(MidiHandle handle) override;
    unsigned InClose(MidiHandle handle) override;

    unsigned OutLongMsg(MidiHandle handle, MidiHeader* header) override;
    unsigned OutClose(MidiHandle handle) override;
    // Checks and marks the whole batch under one hold of the lock and gives it
    // to the backend in one SendBatch call.
    void OutLongMsgBatch(MidiOutMessage* messages, size_t count) override;

    // Number of buffers queued on an open input port (0 for any other handle).
    size_t QueuedBuffers(MidiHandle handle);
    // Bytes of system-exclusive input dropped, for whatever reason (each drop
    // is also logged).
    uint64_t DroppedBytes();

protected:
    struct Port {
        MidiHandle handle = 0;
        bool input = false;
        unsigned device = 0;  // the device number at open time
        MidiCallback callback = nullptr;
        uintptr_t instance = 0;
        uintptr_t backend = 0;  // the backend's own reference to the device
        std::string name;       // the device's name at open time (UTF-8), for warnings
        // Guarded by the lock:
        bool closed = false;
        bool started = false;
        uint64_t startMs = 0;
        std::deque<MidiHeader*> queue;
        SysexAssembler assembler;  // inputs: the message arriving in parts
        int deliveries = 0;    // callbacks in flight from InputEvent
        size_t pendingOut = 0;  // headers sent and not yet done
    };

    // Backend hooks; `input` and Port::input name the direction. DeviceCount and
    // DeviceName read the backend's current device list (DeviceName: nothing for
    // an id at or above the count). OpenDevice is called without the lock and
    // may fail (false); CloseDevice is called once per successfully opened port,
    // without the lock; for an output it must see to it that every header it
    // still holds reaches OutputDone. SendLong takes a header that is valid and
    // marked queued; it returns MMSYSERR_NOERROR and calls OutputDone (before it
    // returns or later), or it returns an error and keeps nothing.
    virtual unsigned DeviceCount(bool input) = 0;
    virtual std::optional<std::wstring> DeviceName(bool input, unsigned id) = 0;
    virtual bool OpenDevice(unsigned id, Port& port) = 0;
    virtual void CloseDevice(Port& port) = 0;
    virtual unsigned SendLong(Port& port, MidiHeader* header) = 0;
    // Several headers, each valid and marked queued, for their ports; sets each
    // result as SendLong would. By default SendLong for each in turn; backends
    // with a sending thread hand the batch over at once.
    struct Outgoing {
        Port* port;
        MidiHeader* header;
        unsigned result;
    };
    virtual void SendBatch(Outgoing* batch, size_t count);

    // One event received on an open input, as the backend got it: a whole
    // message or a part of one; any thread, one thread per input at a time.
    void InputEvent(MidiHandle handle, const uint8_t* bytes, size_t length);
    // The backend lost events of this input: a message still open there is
    // dropped, or its parts would be joined across the gap.
    void InputLost(MidiHandle handle);
    // The backend finished with a header given to SendLong; any thread.
    void OutputDone(MidiHandle handle, MidiHeader* header);
    // Closes every port still open (backends call it from their destructors
    // while the device side still works).
    void CloseAll();

    static uint64_t NowMs();

private:
    // A callback to make once the lock is released.
    struct Notice {
        unsigned code;
        uintptr_t param1;
        uintptr_t param2;
    };

    // The open port of that handle and direction, or null; under the lock.
    // Peek serves checks made under the lock; Find keeps the port alive for
    // work done after the lock is released.
    Port* Peek(MidiHandle handle, bool input);
    std::shared_ptr<Port> Find(MidiHandle handle, bool input);
    // What the In and Out forms of a call share; `input` names the direction.
    unsigned Open(MidiHandle* out, unsigned id, MidiCallback callback, uintptr_t instance, bool input);
    unsigned DevCaps(bool input, unsigned id, std::wstring* name);
    unsigned PrepareHeader(MidiHandle handle, MidiHeader* header, bool input);
    unsigned UnprepareHeader(MidiHandle handle, MidiHeader* header, bool input);
    void WaitForDeliveries(std::unique_lock<std::mutex>& guard, Port& port);
    // Under the lock: a whole message into the port's next queued buffer; a
    // warning for `warnings` when it cannot be.
    void Deliver(Port& port, const uint8_t* bytes, size_t length, uintptr_t stamp,
                 std::vector<Notice>& notices, std::vector<std::string>& warnings);
    // Under the lock: the warning for a dropped message, counted in droppedBytes.
    std::string DropWarning(const Port& port, size_t length, const std::string& reason);

    std::mutex lock;
    std::condition_variable idle;
    std::map<MidiHandle, std::shared_ptr<Port>> ports;
    MidiHandle lastHandle = 0;
    uint64_t droppedBytes = 0;
};

}  // namespace midi
