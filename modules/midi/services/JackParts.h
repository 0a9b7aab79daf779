// A long message on a JACK MIDI port: whole in one event when it fits, else in
// consecutive events across periods.
//
// One period's MIDI buffer of a port holds a little less than 32 KiB (jackd2 and
// PipeWire alike, measured), and what one event may take shrinks as events are
// written into it. PipeWire's JACK library promises more than it can carry
// (measured with 0.3.65): it crashes the sending process on an event of the
// size jack_midi_max_event_size reports for an empty buffer, and silently loses
// a period's events when one port got more than about a thousand small ones.
// So a port is never filled to the brim: PortReserveBytes stay free, and a port
// takes at most MaxEventsPerPortPeriod events per period. A message that fits an empty buffer
// always goes out as one event, waiting for the next period when this one's buffer has too little
// room left; only receivers that join parts could read it otherwise. A longer message goes out the
// way JACK bridges split one: F0 and the first bytes in one event, data bytes in the following
// ones, F7 at the end of the last, one part per period, each filling the room the port's buffer has
// left. Receivers join the parts (SysexAssembler). A period also carries at most a budget of bytes
// over all ports, so that a burst of long messages does not flood a receiver. Realtime-safe: no
// allocation, no locks.
#pragma once

#include <cstddef>

namespace midi {

// What a port's buffer leaves unused (see above).
constexpr size_t PortReserveBytes = 1024;
constexpr size_t MaxEventsPerPortPeriod = 512;

// What one event may hold in a port's buffer that reports `maxEventSize`
// (jack_midi_max_event_size), with the reserve left free.
inline size_t UsableRoom(size_t maxEventSize) {
    return maxEventSize > PortReserveBytes ? maxEventSize - PortReserveBytes : 0;
}

struct PeriodRoom {
    size_t portRoom;      // what one event may hold in the port's buffer right now (UsableRoom)
    size_t emptyRoom;     // what one event may hold in an empty port buffer (UsableRoom)
    size_t budget;        // bytes this period may still carry over all ports
    size_t periodBudget;  // bytes a whole period may carry
};

// What one period carries over all ports of a client: about one port's buffer,
// so that a 16000-byte message leaves in one period and a 64 KiB one in three.
constexpr size_t PeriodBudgetBytes = 32 * 1024;

// Parts smaller than this wait for a fresh period, unless nothing better
// will come: a receiver reads a few large parts faster than many small ones.
constexpr size_t MinPartBytes = 256;

// How many bytes of a message of `length` bytes, `offset` of which went out in
// earlier parts, to write as the next event now; 0: nothing this period.
size_t NextPartLength(size_t length, size_t offset, const PeriodRoom& room);

}  // namespace midi
