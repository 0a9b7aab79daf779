#include "PortServices.h"

#include <glib.h>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace midi {

namespace {

// Set while this thread runs a callback from InputEvent; a close called from
// such a callback must not wait for its own delivery to end.
thread_local int callbackDepth = 0;

struct Notice {
    unsigned code;
    uintptr_t param1;
    uintptr_t param2;
};

void Call(MidiCallback callback, MidiHandle handle, uintptr_t instance, const Notice& n) {
    if (callback == nullptr) return;
    ++callbackDepth;
    callback(handle, n.code, instance, n.param1, n.param2);
    --callbackDepth;
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
    port->callback = callback;
    port->instance = instance;
    if (!OpenDevice(id, *port)) return MMSYSERR_ERROR;
    {
        std::lock_guard<std::mutex> guard(lock);
        ports[port->handle] = port;
    }
    *out = port->handle;
    Call(callback, port->handle, instance, {input ? MIM_OPEN : MOM_OPEN, 0, 0});
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
    std::lock_guard<std::mutex> guard(lock);
    Port* port = Peek(handle, true);
    if (!port) return MMSYSERR_INVALHANDLE;
    port->started = false;
    return MMSYSERR_NOERROR;
}

void PortServices::WaitForDeliveries(std::unique_lock<std::mutex>& guard, Port& port) {
    if (callbackDepth > 0) return;
    idle.wait(guard, [&] { return port.deliveries == 0; });
}

unsigned PortServices::InReset(MidiHandle handle) {
    std::vector<MidiHeader*> returned;
    std::shared_ptr<Port> port;
    {
        std::unique_lock<std::mutex> guard(lock);
        port = Find(handle, true);
        if (!port) return MMSYSERR_INVALHANDLE;
        port->started = false;
        WaitForDeliveries(guard, *port);
        returned.assign(port->queue.begin(), port->queue.end());
        port->queue.clear();
        for (MidiHeader* h : returned) {
            h->bytesRecorded = 0;
            h->flags = (h->flags | MHDR_DONE) & ~MHDR_INQUEUE;
        }
    }
    for (MidiHeader* h : returned) Call(port->callback, handle, port->instance, {MIM_LONGDATA, uintptr_t(h), 0});
    return MMSYSERR_NOERROR;
}

unsigned PortServices::InClose(MidiHandle handle) {
    std::shared_ptr<Port> port;
    {
        std::unique_lock<std::mutex> guard(lock);
        port = Find(handle, true);
        if (!port) return MMSYSERR_INVALHANDLE;
        if (!port->queue.empty()) return MIDIERR_STILLPLAYING;
        port->closed = true;
        port->started = false;
        WaitForDeliveries(guard, *port);
        ports.erase(handle);
    }
    CloseDevice(*port);
    Call(port->callback, handle, port->instance, {MIM_CLOSE, 0, 0});
    return MMSYSERR_NOERROR;
}

unsigned PortServices::OutLongMsg(MidiHandle handle, MidiHeader* header) {
    std::shared_ptr<Port> port;
    {
        std::lock_guard<std::mutex> guard(lock);
        port = Find(handle, false);
        if (!port) return MMSYSERR_INVALHANDLE;
        if (unsigned result = QueueCheck(handle, header); result != MMSYSERR_NOERROR) return result;
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
            } else if (header == nullptr || header->data == nullptr || header->bufferLength == 0) {
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
    Call(port->callback, handle, port->instance, {MOM_CLOSE, 0, 0});
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
    Call(port->callback, handle, port->instance, {MOM_DONE, uintptr_t(header), 0});
}

void PortServices::InputEvent(MidiHandle handle, const uint8_t* bytes, size_t length) {
    if (bytes == nullptr || length == 0) return;
    std::vector<Notice> notices;
    std::shared_ptr<Port> port;
    {
        std::lock_guard<std::mutex> guard(lock);
        port = Find(handle, true);
        if (!port || !port->started) return;
        uintptr_t stamp = uintptr_t(NowMs() - port->startMs);
        if (bytes[0] == 0xF0) {
            unsigned code = length >= 2 && bytes[length - 1] == 0xF7 ? MIM_LONGDATA : MIM_LONGERROR;
            size_t done = 0;
            while (done < length && !port->queue.empty()) {
                MidiHeader* h = port->queue.front();
                port->queue.pop_front();
                size_t n = std::min<size_t>(length - done, h->bufferLength);
                std::memcpy(h->data, bytes + done, n);
                done += n;
                h->bytesRecorded = uint32_t(n);
                h->flags = (h->flags | MHDR_DONE) & ~MHDR_INQUEUE;
                notices.push_back({code, uintptr_t(h), stamp});
            }
            droppedBytes += length - done;
        } else {
            size_t expected = ShortLength(bytes[0]);
            bool valid = expected == length;
            for (size_t i = 1; valid && i < length; ++i) valid = bytes[i] < 0x80;
            notices.push_back({valid ? MIM_DATA : MIM_ERROR, Pack(bytes, length), stamp});
        }
        ++port->deliveries;
    }
    for (const Notice& n : notices) Call(port->callback, handle, port->instance, n);
    {
        std::lock_guard<std::mutex> guard(lock);
        --port->deliveries;
    }
    idle.notify_all();
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
