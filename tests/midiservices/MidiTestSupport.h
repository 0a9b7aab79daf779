// Helpers shared by the MIDI services tests: a callback that records what the
// layer hands back, and input buffers owned by the test.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "MidiServices.h"

namespace miditest {

struct Notice {
    midi::MidiHandle handle;
    unsigned code;
    uintptr_t param1;
    std::vector<uint8_t> bytes;  // copy of the recorded bytes for buffer notices
    std::thread::id thread;
};

class Recorder {
public:
    static void Callback(midi::MidiHandle handle, unsigned code, uintptr_t instance, uintptr_t param1,
                         uintptr_t) {
        auto* self = reinterpret_cast<Recorder*>(instance);
        Notice n{handle, code, param1, {}, std::this_thread::get_id()};
        if (code == midi::MIM_LONGDATA || code == midi::MIM_LONGERROR) {
            auto* h = reinterpret_cast<midi::MidiHeader*>(param1);
            n.bytes.assign(h->data, h->data + h->bytesRecorded);
        }
        {
            std::lock_guard<std::mutex> guard(self->lock);
            self->notices.push_back(std::move(n));
        }
        self->changed.notify_all();
    }
    uintptr_t Instance() { return reinterpret_cast<uintptr_t>(this); }

    std::vector<Notice> Take() {
        std::lock_guard<std::mutex> guard(lock);
        std::vector<Notice> all = std::move(notices);
        notices.clear();
        return all;
    }
    std::vector<Notice> Of(unsigned code) {
        std::lock_guard<std::mutex> guard(lock);
        std::vector<Notice> some;
        for (auto& n : notices)
            if (n.code == code) some.push_back(n);
        return some;
    }
    // Waits until `count` notices with `code` have arrived.
    bool WaitFor(unsigned code, size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, timeout, [&] {
            size_t n = 0;
            for (auto& x : notices) n += x.code == code;
            return n >= count;
        });
    }

private:
    std::mutex lock;
    std::condition_variable changed;
    std::vector<Notice> notices;
};

// Headers and their data, freed with the set. The data comes from new[], and
// whatever block a header holds at the end is freed: a growable buffer may
// come back with a longer block than it was queued with.
class BufferSet {
public:
    BufferSet() = default;
    BufferSet(const BufferSet&) = delete;
    BufferSet& operator=(const BufferSet&) = delete;
    ~BufferSet() {
        for (auto& h : headers) delete[] h->data;
    }

    midi::MidiHeader* Make(uint32_t length) {
        headers.push_back(std::make_unique<midi::MidiHeader>());
        midi::MidiHeader* h = headers.back().get();
        h->data = new uint8_t[length]();
        h->bufferLength = length;
        return h;
    }
    midi::MidiHeader* Message(const std::vector<uint8_t>& bytes) {
        midi::MidiHeader* h = Make(uint32_t(bytes.size()));
        std::copy(bytes.begin(), bytes.end(), h->data);
        h->bytesRecorded = uint32_t(bytes.size());
        return h;
    }
    // Prepares and queues `count` buffers of `length` bytes on an input,
    // growable when asked.
    std::vector<midi::MidiHeader*> Queue(midi::MidiServices& services, midi::MidiHandle in, int count,
                                         uint32_t length = 1024, bool growable = false) {
        std::vector<midi::MidiHeader*> queued;
        for (int i = 0; i < count; ++i) {
            midi::MidiHeader* h = Make(length);
            if (growable) h->flags |= midi::MHDR_GROWABLE;
            if (services.InPrepareHeader(in, h) != midi::MMSYSERR_NOERROR) break;
            if (services.InAddBuffer(in, h) != midi::MMSYSERR_NOERROR) break;
            queued.push_back(h);
        }
        return queued;
    }

private:
    std::vector<std::unique_ptr<midi::MidiHeader>> headers;
};

inline std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> b;
    for (int v : values) b.push_back(uint8_t(v));
    return b;
}

}  // namespace miditest
