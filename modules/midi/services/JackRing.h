// Records on a JACK ring buffer between the realtime thread and a worker,
// and the worker's wait for them.
//
// A record is a fixed-size header, optionally followed by `header.length`
// bytes. A record is written whole or not at all, and read only once it is
// all there, so a reader never sees half of one while the writer is still at
// work. None of these allocate or lock: the realtime thread may use them.
#pragma once

#include <jack/ringbuffer.h>
#include <semaphore.h>

#include <chrono>
#include <cstddef>

namespace midi {

// Writes a fixed-size record; false (nothing written) when there is no room.
template <typename Record>
bool PutRecord(jack_ringbuffer_t* ring, const Record& record) {
    if (jack_ringbuffer_write_space(ring) < sizeof record) return false;
    jack_ringbuffer_write(ring, reinterpret_cast<const char*>(&record), sizeof record);
    return true;
}

// Writes a header and the header.length bytes that follow it; false (nothing
// written) when there is no room for both.
template <typename Header>
bool PutRecord(jack_ringbuffer_t* ring, const Header& header, const void* bytes) {
    if (jack_ringbuffer_write_space(ring) < sizeof header + header.length) return false;
    jack_ringbuffer_write(ring, reinterpret_cast<const char*>(&header), sizeof header);
    jack_ringbuffer_write(ring, static_cast<const char*>(bytes), header.length);
    return true;
}

// True when a fixed-size record can be read (or written).
template <typename Record>
bool CanTake(jack_ringbuffer_t* ring) {
    return jack_ringbuffer_read_space(ring) >= sizeof(Record);
}
template <typename Record>
bool CanPut(jack_ringbuffer_t* ring) {
    return jack_ringbuffer_write_space(ring) >= sizeof(Record);
}

// Copies the next fixed-size record without consuming it.
template <typename Record>
bool PeekRecord(jack_ringbuffer_t* ring, Record& record) {
    if (!CanTake<Record>(ring)) return false;
    jack_ringbuffer_peek(ring, reinterpret_cast<char*>(&record), sizeof record);
    return true;
}

// Reads the next fixed-size record.
template <typename Record>
bool TakeRecord(jack_ringbuffer_t* ring, Record& record) {
    if (!CanTake<Record>(ring)) return false;
    jack_ringbuffer_read(ring, reinterpret_cast<char*>(&record), sizeof record);
    return true;
}

// Reads the header of the next record once its header.length bytes are all
// there; the caller then reads them (jack_ringbuffer_read) or skips them
// (jack_ringbuffer_read_advance).
template <typename Header>
bool TakeHeader(jack_ringbuffer_t* ring, Header& header) {
    size_t available = jack_ringbuffer_read_space(ring);
    if (available < sizeof header) return false;
    jack_ringbuffer_peek(ring, reinterpret_cast<char*>(&header), sizeof header);
    if (available < sizeof header + header.length) return false;  // still being written
    jack_ringbuffer_read_advance(ring, sizeof header);
    return true;
}

// The worker's sleep: until the realtime thread (or anyone) posts `wake`, or
// at most `limit`.
void WaitForRecords(sem_t& wake, std::chrono::milliseconds limit);

}  // namespace midi
