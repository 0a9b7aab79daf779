#pragma once
// The open MIDI ports of the device module and the units found on them.

#include <array>
#include <cstdint>

#include "framework/Array.h"
#include "framework/String.h"
#include "modules/midi/services/MidiServices.h"

// The 12-byte serial text of a unit: 11 ASCII characters and a zero byte.
using UnitSerial = std::array<char, 12>;

// The serial text shown for a unit id (digits of the id shuffled and summed).
UnitSerial FormatSerial(int32_t id);

// One open port: an input (inHandle set) or an output (outHandle set).
struct MidiDevice {
    // One device that answered the probe on the port.
    struct Unit {
        int32_t id = 0;  // 28 bits, never 0
        UnitSerial serial{};
        uint8_t type = 0;  // 0x0A, 0x0B, 0x11 or 0x12
    };

    MidiDevice(midi::MidiHandle inHandle, midi::MidiHandle outHandle, const String& name)
        : inHandle(inHandle), outHandle(outHandle), name(name) {}
    ~MidiDevice() {
        for (Unit* unit : units) delete unit;
    }
    MidiDevice(const MidiDevice&) = delete;
    MidiDevice& operator=(const MidiDevice&) = delete;

    midi::MidiHandle inHandle = 0;
    midi::MidiHandle outHandle = 0;
    // The port's name as the services report it; kept for diagnostics.
    String name;
    Array<Unit*> units;  // in the order of discovery; owned
};
