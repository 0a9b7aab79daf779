// The MIDI services interface that the device module is written against.
//
// It is shaped like the numbered-port services the device module was designed on:
// ports are numbered from 0 per direction, each reports a name, a port is opened
// with a callback, system-exclusive input arrives in buffers that the caller queues
// and gets back filled, and a long message is sent whole with a completion notice.
//
// Life of a buffer:
//   caller allocates a MidiHeader + data -> {In,Out}PrepareHeader (flag MHDR_PREPARED)
//   -> InAddBuffer (MHDR_INQUEUE) or OutLongMsg -> the layer owns it
//   -> the callback gets it back (MIM_LONGDATA / MIM_LONGERROR / MOM_DONE, param1 =
//      the header, MHDR_DONE set, MHDR_INQUEUE cleared) -> the caller owns it again
//   -> {In,Out}UnprepareHeader -> the caller frees it.
// Input comes whole or not at all: one returned buffer holds one complete
// system-exclusive message, F0 to F7, of at most MaxLongMessage bytes. A message
// over that bound, one cut short (by a status byte, a new F0 or its port
// closing before its F7), or one for which no buffer is queued is dropped with a
// warning naming the port, its length and the reason; none of its bytes reach a
// buffer. A buffer is as long as its caller made it, which suits short messages;
// a caller that queues it with MHDR_GROWABLE lets the layer hand back a longer
// message in it (below), so that a few small buffers per port carry a message
// of any length up to the bound. Without the flag, a message longer than the
// buffer is dropped with a warning.
// Callbacks run on the layer's own threads, or on the calling thread: every
// callback of the simulator in synchronous mode, and MOM_DONE of a backend that
// sends at once (ALSA), before OutLongMsg returns. A callback must only hand
// its data over, and a caller must not hold a lock around OutLongMsg that its
// output callback takes.
//
// Handles are never reused. Every operation on a handle that was closed (or never
// existed) fails with MMSYSERR_INVALHANDLE; that is how a buffer returned after its
// port was closed is recognised.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace midi {

// 0 means "no handle"; every open gives a new, never reused value.
using MidiHandle = uint64_t;

// The longest system-exclusive message the layer carries either way, F0 to F7.
// A unit's longest messages, its dumps, stay far below it; it bounds what one
// message may hold of a receiver's memory and how long it takes one port.
constexpr uint32_t MaxLongMessage = 64 * 1024;

// Header flags.
constexpr uint32_t MHDR_DONE = 0x01;      // the layer has handed the buffer back
constexpr uint32_t MHDR_PREPARED = 0x02;  // prepared for a port
constexpr uint32_t MHDR_INQUEUE = 0x04;   // queued, owned by the layer
// Set by the caller on an input buffer whose data came from new[]: to hand
// back a message longer than bufferLength, the layer replaces data by a new[]
// block of the message's length (bufferLength becomes that length) and frees
// the old block with delete[]. The caller frees whatever block the header
// holds when it comes back.
constexpr uint32_t MHDR_GROWABLE = 0x08;

struct MidiHeader {
    uint8_t* data = nullptr;
    uint32_t bufferLength = 0;
    uint32_t bytesRecorded = 0;
    uintptr_t user = 0;
    uint32_t flags = 0;
    // Owned by the layer: the handle the header was prepared for.
    MidiHandle preparedFor = 0;
};

// Callback messages.
constexpr unsigned MIM_OPEN = 0x3C1;
constexpr unsigned MIM_CLOSE = 0x3C2;
constexpr unsigned MIM_DATA = 0x3C3;       // param1: status | data1 << 8 | data2 << 16
constexpr unsigned MIM_LONGDATA = 0x3C4;   // param1: the filled MidiHeader*
constexpr unsigned MIM_ERROR = 0x3C5;      // param1: as MIM_DATA, an invalid short message
// param1: MidiHeader* with an incomplete sysex. This layer drops such messages
// itself and never returns the code; a caller still releases and replaces
// the buffer should one come.
constexpr unsigned MIM_LONGERROR = 0x3C6;
constexpr unsigned MOM_OPEN = 0x3C7;
constexpr unsigned MOM_CLOSE = 0x3C8;
constexpr unsigned MOM_DONE = 0x3C9;  // param1: the finished MidiHeader*

// Results.
constexpr unsigned MMSYSERR_NOERROR = 0;
constexpr unsigned MMSYSERR_ERROR = 1;
constexpr unsigned MMSYSERR_BADDEVICEID = 2;
constexpr unsigned MMSYSERR_INVALHANDLE = 5;
constexpr unsigned MMSYSERR_INVALPARAM = 11;
constexpr unsigned MIDIERR_UNPREPARED = 64;
constexpr unsigned MIDIERR_STILLPLAYING = 65;

// One message of OutLongMsgBatch: the output, the header to send, and what
// became of it (the result OutLongMsg would give).
struct MidiOutMessage {
    MidiHandle handle = 0;
    MidiHeader* header = nullptr;
    unsigned result = MMSYSERR_ERROR;
};

// Called for inputs with MIM_*, for outputs with MOM_*. `instance` is the value given
// to the open call; param2 is a millisecond time stamp for input data, else 0.
using MidiCallback = void (*)(MidiHandle handle, unsigned message, uintptr_t instance,
                              uintptr_t param1, uintptr_t param2);

class MidiServices {
public:
    virtual ~MidiServices() = default;

    // Inputs. GetDevCaps fails with MMSYSERR_BADDEVICEID for an id at or above the count.
    virtual unsigned InGetNumDevs() = 0;
    virtual unsigned InGetDevCaps(unsigned id, std::wstring* name) = 0;
    virtual unsigned InOpen(MidiHandle* out, unsigned id, MidiCallback callback,
                            uintptr_t instance) = 0;
    virtual unsigned InPrepareHeader(MidiHandle handle, MidiHeader* header) = 0;
    // MIDIERR_STILLPLAYING while queued; MMSYSERR_INVALHANDLE once the port is closed.
    virtual unsigned InUnprepareHeader(MidiHandle handle, MidiHeader* header) = 0;
    // The buffer must be prepared for this handle (MIDIERR_UNPREPARED otherwise).
    virtual unsigned InAddBuffer(MidiHandle handle, MidiHeader* header) = 0;
    virtual unsigned InStart(MidiHandle handle) = 0;
    virtual unsigned InStop(MidiHandle handle) = 0;
    // Returns every queued buffer through the callback with MIM_LONGDATA and
    // bytesRecorded 0, before it returns.
    virtual unsigned InReset(MidiHandle handle) = 0;
    // Fails with MIDIERR_STILLPLAYING while buffers are queued (reset first).
    virtual unsigned InClose(MidiHandle handle) = 0;

    // Outputs.
    virtual unsigned OutGetNumDevs() = 0;
    virtual unsigned OutGetDevCaps(unsigned id, std::wstring* name) = 0;
    virtual unsigned OutOpen(MidiHandle* out, unsigned id, MidiCallback callback,
                             uintptr_t instance) = 0;
    virtual unsigned OutPrepareHeader(MidiHandle handle, MidiHeader* header) = 0;
    virtual unsigned OutUnprepareHeader(MidiHandle handle, MidiHeader* header) = 0;
    // Sends the first bufferLength bytes as one complete message; MOM_DONE
    // (param1 = the header) follows, possibly before this returns. A message
    // longer than MaxLongMessage is refused with MMSYSERR_INVALPARAM.
    virtual unsigned OutLongMsg(MidiHandle handle, MidiHeader* header) = 0;
    // Messages not yet sent are dropped; their MOM_DONE notices still come.
    virtual unsigned OutClose(MidiHandle handle) = 0;

    // Prepares and sends each message as OutPrepareHeader and OutLongMsg would,
    // in order, and sets its result. A header whose result is MMSYSERR_NOERROR
    // belongs to the layer until its MOM_DONE; any other is left unprepared
    // and stays the caller's. Backends hand the whole batch to their sending
    // thread at once, so a caller with many messages (a poll of every unit)
    // does not take turns with that thread for each of them.
    virtual void OutLongMsgBatch(MidiOutMessage* messages, size_t count);
};

// The process-wide services. The backend is chosen on first use from KORVO_MIDI
// ("alsa", "jack", "sim"); without it: the ALSA sequencer when it opens, else JACK
// when a server runs, else a backend without ports.
MidiServices& Services();

// Ends the backend chosen from the environment: closes every port still open,
// stops its threads and leaves its server; lookups after it get a backend
// without ports. Called by itself when the code holding the services is
// unloaded or the process ends; ports installed with InstallServices are the
// installer's own and are not touched.
void ShutdownServices();

// Replaces the process-wide backend (tests). The caller keeps ownership; pass
// nullptr to go back to the environment's choice on next use.
void InstallServices(MidiServices* services);

}  // namespace midi
