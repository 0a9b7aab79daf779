#include "PortServices.h"

#include <glib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "framework/Utf8.h"

namespace midi {

namespace {

// Set while this thread runs a callback from InputEvent; a close called from
// such a callback must not wait for its own delivery to end.
thread_local int callbackDepth = 0;

void Call(MidiCallback callback, MidiHandle handle, uintptr_t instance, unsigned code,
          uintptr_t param1 = 0, uintptr_t param2 = 0) {
    if (callback == nullptr) return;
    ++callbackDepth;
    callback(handle, code, instance, param1, param2);
    --callbackDepth;
}

void LogWarnings(const std::vector<std::string>& warnings) {
    for (const std::string& warning : warnings) g_warning("%s", warning.c_str());
}

// Length of a short message by its status byte; 0 for a byte that starts none.
size_t ShortLength(uint8_t status) {
    if (status < 0x80) return 0;
    if (status < 0xC0) return 3;
    if (status < 0xE0) return 2;
    if (status < 0xF0) return 3;
    switch (status) {
        case 0xF1: case 0xF3: return 2;
        case 0xF2: return 3;
        case 0xF6: case 0xF8: case 0xFA: case 0xFB: case 0xFC: case 0xFE: case 0xFF: return 1;
        default: return 0;
    }
}

// Why `header` cannot be queued (InAddBuffer) or sent (OutLongMsg) on the port
// of `handle`, or MMSYSERR_NOERROR.
unsigned QueueCheck(MidiHandle handle, const MidiHeader* header) {
    if (header == nullptr || header->data == nullptr || header->bufferLength == 0) return MMSYSERR_INVALPARAM;
    if (!(header->flags & MHDR_PREPARED) || header->preparedFor != handle) return MIDIERR_UNPREPARED;
    if (header->flags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    return MMSYSERR_NOERROR;
}

uintptr_t Pack(const uint8_t* bytes, size_t length) {
    uintptr_t packed = 0;
    for (size_t i = 0; i < length && i < 3; ++i) packed |= uintptr_t(bytes[i]) << (8 * i);
    return packed;
}

}  // namespace

PortServices::PortServices() = default;
PortServices::~PortServices() = default;

uint64_t PortServices::NowMs() { return uint64_t(g_get_monotonic_time() / 1000); }

PortServices::Port* PortServices::Peek(MidiHandle handle, bool input) {
    auto it = ports.find(handle);
    if (it == ports.end() || it->second->closed || it->second->input != input) return nullptr;
    return it->second.get();
}

std::shared_ptr<PortServices::Port> PortServices::Find(MidiHandle handle, bool input) {
    auto it = ports.find(handle);
    if (it == ports.end() || it->second->closed || it->second->input != input) return nullptr;
    return it->second;
}

unsigned PortServices::DevCaps(bool input, unsigned id, std::wstring* name) {
    std::optional<std::wstring> found = DeviceName(input, id);
    if (!found) return MMSYSERR_BADDEVICEID;
    if (name) *name = std::move(*found);
    return MMSYSERR_NOERROR;
}

unsigned PortServices::Open(MidiHandle* out, unsigned id, MidiCallback callback, uintptr_t instance,
                            bool input) {
    if (out == nullptr) return MMSYSERR_INVALPARAM;
    *out = 0;
    if (id >= DeviceCount(input)) return MMSYSERR_BADDEVICEID;
    auto port = std::make_shared<Port>();
    {
        std::lock_guard<std::mutex> guard(lock);
        port->handle = ++lastHandle;
    }
    port->input = input;
    port->device = id;
    if (std::optional<std::wstring> name = DeviceName(input, id)) port->name = EncodeUtf8(*name);
    port->callback = callback;
    port->instance = instance;
    if (!OpenDevice(id, *port)) return MMSYSERR_ERROR;
    {
        std::lock_guard<std::mutex> guard(lock);
        ports[port->handle] = port;
    }
    *out = port->handle;
    Call(callback, port->handle, instance, input ? MIM_OPEN : MOM_OPEN);
    return MMSYSERR_NOERROR;
}

unsigned PortServices::PrepareHeader(MidiHandle handle, MidiHeader* header, bool input) {
    std::lock_guard<std::mutex> guard(lock);
    if (!Peek(handle, input)) return MMSYSERR_INVALHANDLE;
    if (header == nullptr || header->data == nullptr || header->bufferLength == 0) return MMSYSERR_INVALPARAM;
    if (header->flags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    header->flags |= MHDR_PREPARED;
    header->preparedFor = handle;
    return MMSYSERR_NOERROR;
}

unsigned PortServices::UnprepareHeader(MidiHandle handle, MidiHeader* header, bool input) {
    std::lock_guard<std::mutex> guard(lock);
    if (!Peek(handle, input)) return MMSYSERR_INVALHANDLE;
    if (header == nullptr) return MMSYSERR_INVALPARAM;
    if (header->flags & MHDR_INQUEUE) return MIDIERR_STILLPLAYING;
    header->flags &= ~MHDR_PREPARED;
    header->preparedFor = 0;
    return MMSYSERR_NOERROR;
}

// The calls whose In and Out forms differ only in the direction.

unsigned PortServices::InGetNumDevs() { return DeviceCount(true); }

unsigned PortServices::OutGetNumDevs() { return DeviceCount(false); }

unsigned PortServices::InGetDevCaps(unsigned id, std::wstring* name) {
    return DevCaps(true, id, name);
}

unsigned PortServices::OutGetDevCaps(unsigned id, std::wstring* name) {
    return DevCaps(false, id, name);
}

unsigned PortServices::InOpen(MidiHandle* out, unsigned id, MidiCallback callback, uintptr_t instance) {
    return Open(out, id, callback, instance, true);
}

unsigned PortServices::OutOpen(MidiHandle* out, unsigned id, MidiCallback callback, uintptr_t instance) {
    return Open(out, id, callback, instance, false);
}

unsigned PortServices::InPrepareHeader(MidiHandle handle, MidiHeader* header) {
    return PrepareHeader(handle, header, true);
}

unsigned PortServices::OutPrepareHeader(MidiHandle handle, MidiHeader* header) {
    return PrepareHeader(handle, header, false);
}

unsigned PortServices::InUnprepareHeader(MidiHandle handle, MidiHeader* header) {
    return UnprepareHeader(handle, header, true);
}

unsigned PortServices::OutUnprepareHeader(MidiHandle handle, MidiHeader* header) {
    return UnprepareHeader(handle, header, false);
}

unsigned PortServices::InAddBuffer(MidiHandle handle, MidiHeader* header) {
    std::lock_guard<std::mutex> guard(lock);
    Port* port = Peek(handle, true);
    if (!port) return MMSYSERR_INVALHANDLE;
    if (unsigned result = QueueCheck(handle, header); result != MMSYSERR_NOERROR) return result;
    header->flags = (header->flags | MHDR_INQUEUE) & ~MHDR_DONE;
    header->bytesRecorded = 0;
    port->queue.push_back(header);
    return MMSYSERR_NOERROR;
}

unsigned PortServices::InStart(MidiHandle handle) {
    std::lock_guard<std::mutex> guard(lock);
    Port* port = Peek(handle, true);
    if (!port) return MMSYSERR_INVALHANDLE;
    if (!port->started) port->startMs = NowMs();
    port->started = true;
    return MMSYSERR_NOERROR;
}

unsigned PortServices::InStop(MidiHandle handle) {
    std::string warning;
    {
        std::lock_guard<std::mutex> guard(lock);
        Port* port = Peek(handle, true);
        if (!port) return MMSYSERR_INVALHANDLE;
        port->started = false;
        // Input is ignored until the port starts again: its parts would be
        // joined across the gap.
        if (size_t open = port->assembler.Abandon(); open > 0)
            warning = DropWarning(*port, open, "its port was stopped before its F7");
    }
    if (!warning.empty()) g_warning("%s", warning.c_str());
    return MMSYSERR_NOERROR;
}

void PortServices::WaitForDeliveries(std::unique_lock<std::mutex>& guard, Port& port) {
    if (callbackDepth > 0) return;
    idle.wait(guard, [&] { return port.deliveries == 0; });
}

unsigned PortServices::InReset(MidiHandle handle) {
    std::vector<MidiHeader*> returned;
    std::vector<std::string> warnings;
    std::shared_ptr<Port> port;
    {
        std::unique_lock<std::mutex> guard(lock);
        port = Find(handle, true);
        if (!port) return MMSYSERR_INVALHANDLE;
        port->started = false;
        WaitForDeliveries(guard, *port);
        if (size_t open = port->assembler.Abandon(); open > 0)
            warnings.push_back(DropWarning(*port, open, "its port was stopped before its F7"));
        returned.assign(port->queue.begin(), port->queue.end());
        port->queue.clear();
        for (MidiHeader* h : returned) {
            h->bytesRecorded = 0;
            h->flags = (h->flags | MHDR_DONE) & ~MHDR_INQUEUE;
        }
    }
    LogWarnings(warnings);
    for (MidiHeader* h : returned)
        Call(port->callback, handle, port->instance, MIM_LONGDATA, uintptr_t(h));
    return MMSYSERR_NOERROR;
}

unsigned PortServices::InClose(MidiHandle handle) {
    std::shared_ptr<Port> port;
    std::vector<std::string> warnings;
    {
        std::unique_lock<std::mutex> guard(lock);
        port = Find(handle, true);
        if (!port) return MMSYSERR_INVALHANDLE;
        if (!port->queue.empty()) return MIDIERR_STILLPLAYING;
        port->closed = true;
        port->started = false;
        WaitForDeliveries(guard, *port);
        if (size_t open = port->assembler.Abandon(); open > 0)
            warnings.push_back(DropWarning(*port, open, "its port was stopped before its F7"));
        ports.erase(handle);
    }
    LogWarnings(warnings);
    CloseDevice(*port);
    Call(port->callback, handle, port->instance, MIM_CLOSE);
    return MMSYSERR_NOERROR;
}

unsigned PortServices::OutLongMsg(MidiHandle handle, MidiHeader* header) {
    std::shared_ptr<Port> port;
    {
        std::lock_guard<std::mutex> guard(lock);
        port = Find(handle, false);
        if (!port) return MMSYSERR_INVALHANDLE;
        if (unsigned result = QueueCheck(handle, header); result != MMSYSERR_NOERROR) return result;
        if (header->bufferLength > MaxLongMessage) return MMSYSERR_INVALPARAM;
        header->flags = (header->flags | MHDR_INQUEUE) & ~MHDR_DONE;
        ++port->pendingOut;
    }
    unsigned result = SendLong(*port, header);
    if (result != MMSYSERR_NOERROR) {
        std::lock_guard<std::mutex> guard(lock);
        header->flags &= ~MHDR_INQUEUE;
        if (--port->pendingOut == 0 && port->closed) ports.erase(handle);
    }
    return result;
}

void PortServices::SendBatch(Outgoing* batch, size_t count) {
    for (size_t i = 0; i < count; ++i) batch[i].result = SendLong(*batch[i].port, batch[i].header);
}

void PortServices::OutLongMsgBatch(MidiOutMessage* messages, size_t count) {
    // The ports stay alive through the shared pointers until the batch is handed over.
    std::vector<std::shared_ptr<Port>> held;
    std::vector<Outgoing> batch;
    std::vector<size_t> index;  // message of each batch entry
    held.reserve(count);
    batch.reserve(count);
    index.reserve(count);
    {
        std::lock_guard<std::mutex> guard(lock);
        for (size_t i = 0; i < count; ++i) {
            MidiOutMessage& m = messages[i];
            MidiHeader* header = m.header;
            std::shared_ptr<Port> port = Find(m.handle, false);
            if (!port) {
                m.result = MMSYSERR_INVALHANDLE;
            } else if (header == nullptr || header->data == nullptr || header->bufferLength == 0 ||
                       header->bufferLength > MaxLongMessage) {
                m.result = MMSYSERR_INVALPARAM;
            } else if (header->flags & MHDR_INQUEUE) {
                m.result = MIDIERR_STILLPLAYING;
            } else {
                header->flags = (header->flags | MHDR_PREPARED | MHDR_INQUEUE) & ~MHDR_DONE;
                header->preparedFor = m.handle;
                ++port->pendingOut;
                batch.push_back({port.get(), header, MMSYSERR_NOERROR});
                index.push_back(i);
                held.push_back(std::move(port));
            }
        }
    }
    if (batch.empty()) return;
    SendBatch(batch.data(), batch.size());
    bool failed = false;
    for (size_t k = 0; k < batch.size(); ++k) {
        messages[index[k]].result = batch[k].result;
        failed = failed || batch[k].result != MMSYSERR_NOERROR;
    }
    if (!failed) return;
    std::lock_guard<std::mutex> guard(lock);
    for (size_t k = 0; k < batch.size(); ++k) {
        if (batch[k].result == MMSYSERR_NOERROR) continue;
        MidiHeader* header = batch[k].header;
        header->flags &= ~(MHDR_INQUEUE | MHDR_PREPARED);
        header->preparedFor = 0;
        Port& port = *batch[k].port;
        if (--port.pendingOut == 0 && port.closed) ports.erase(port.handle);
    }
}

unsigned PortServices::OutClose(MidiHandle handle) {
    std::shared_ptr<Port> port;
    {
        std::lock_guard<std::mutex> guard(lock);
        port = Find(handle, false);
        if (!port) return MMSYSERR_INVALHANDLE;
        port->closed = true;
    }
    CloseDevice(*port);
    {
        std::lock_guard<std::mutex> guard(lock);
        if (port->pendingOut == 0) ports.erase(handle);
    }
    Call(port->callback, handle, port->instance, MOM_CLOSE);
    return MMSYSERR_NOERROR;
}

void PortServices::OutputDone(MidiHandle handle, MidiHeader* header) {
    std::shared_ptr<Port> port;
    {
        std::lock_guard<std::mutex> guard(lock);
        auto it = ports.find(handle);
        if (it == ports.end() || it->second->input || header == nullptr) {
            g_warning("MIDI output notice for unknown port %llu dropped", (unsigned long long)handle);
            return;
        }
        port = it->second;
        header->flags = (header->flags | MHDR_DONE) & ~MHDR_INQUEUE;
        if (port->pendingOut > 0) --port->pendingOut;
        if (port->closed && port->pendingOut == 0) ports.erase(it);
    }
    Call(port->callback, handle, port->instance, MOM_DONE, uintptr_t(header));
}

std::string PortServices::DropWarning(const Port& port, size_t length, const std::string& reason) {
    droppedBytes += length;
    char head[64];
    std::snprintf(head, sizeof head,
                  "\": a system-exclusive message of %zu bytes dropped: ", length);
    return "MIDI input \"" + port.name + head + reason;
}

void PortServices::Deliver(Port& port, const uint8_t* bytes, size_t length, uintptr_t stamp,
                           std::vector<Notice>& notices, std::vector<std::string>& warnings) {
    if (port.queue.empty()) {
        warnings.push_back(DropWarning(port, length, "no input buffer was queued"));
        return;
    }
    MidiHeader* h = port.queue.front();
    if (length > h->bufferLength) {
        if (!(h->flags & MHDR_GROWABLE)) {
            warnings.push_back(DropWarning(
                port, length,
                "longer than the queued buffer of " + std::to_string(h->bufferLength) + " bytes"));
            return;
        }
        auto* grown = new (std::nothrow) uint8_t[length];
        if (grown == nullptr) {
            warnings.push_back(DropWarning(port, length, "no memory to hand it over"));
            return;
        }
        delete[] h->data;
        h->data = grown;
        h->bufferLength = uint32_t(length);
    }
    port.queue.pop_front();
    std::memcpy(h->data, bytes, length);
    h->bytesRecorded = uint32_t(length);
    h->flags = (h->flags | MHDR_DONE) & ~MHDR_INQUEUE;
    notices.push_back({MIM_LONGDATA, uintptr_t(h), stamp});
}

void PortServices::InputEvent(MidiHandle handle, const uint8_t* bytes, size_t length) {
    if (bytes == nullptr || length == 0) return;
    std::vector<Notice> notices;
    std::vector<std::string> warnings;
    std::shared_ptr<Port> port;
    {
        std::lock_guard<std::mutex> guard(lock);
        port = Find(handle, true);
        if (!port || !port->started) return;
        const uintptr_t stamp = uintptr_t(NowMs() - port->startMs);
        port->assembler.Feed(
            bytes, length,
            [&](const uint8_t* message, size_t count) {
                if (message[0] == 0xF0) {
                    Deliver(*port, message, count, stamp, notices, warnings);
                    return;
                }
                const size_t expected = ShortLength(message[0]);
                bool valid = expected == count;
                for (size_t i = 1; valid && i < count; ++i) valid = message[i] < 0x80;
                notices.push_back({valid ? MIM_DATA : MIM_ERROR, Pack(message, count), stamp});
            },
            [&](const SysexAssembler::Dropped& dropped) {
                warnings.push_back(
                    DropWarning(*port, dropped.length, port->assembler.Describe(dropped)));
            });
        ++port->deliveries;
    }
    LogWarnings(warnings);
    for (const Notice& n : notices)
        Call(port->callback, handle, port->instance, n.code, n.param1, n.param2);
    {
        std::lock_guard<std::mutex> guard(lock);
        --port->deliveries;
    }
    idle.notify_all();
}

void PortServices::InputLost(MidiHandle handle) {
    std::string warning;
    {
        std::lock_guard<std::mutex> guard(lock);
        Port* port = Peek(handle, true);
        if (port == nullptr) return;
        if (size_t open = port->assembler.Abandon(); open > 0)
            warning = DropWarning(*port, open, "input was lost before its F7");
    }
    if (!warning.empty()) g_warning("%s", warning.c_str());
}

void PortServices::CloseAll() {
    std::vector<std::pair<MidiHandle, bool>> open;
    {
        std::lock_guard<std::mutex> guard(lock);
        for (auto& [handle, port] : ports)
            if (!port->closed) open.emplace_back(handle, port->input);
    }
    for (auto [handle, input] : open) {
        if (input) {
            InReset(handle);
            InClose(handle);
        } else {
            OutClose(handle);
        }
    }
}

size_t PortServices::QueuedBuffers(MidiHandle handle) {
    std::lock_guard<std::mutex> guard(lock);
    Port* port = Peek(handle, true);
    return port ? port->queue.size() : 0;
}

uint64_t PortServices::DroppedBytes() {
    std::lock_guard<std::mutex> guard(lock);
    return droppedBytes;
}

}  // namespace midi
