// Port scan and unit discovery.
//
// The scan opens every input and output port the services report. Each output
// port is then probed in turn (one tick per port, 200 ms apart), and every
// identity answer handled while probing registers its unit twice: on the
// output port probed last (outputs[state - 1] as state stands when the answer
// is handled, so a late answer is credited to the next port) and on the input
// port it came in on. Within each direction an id is held by at most one unit,
// so a unit heard on two inputs or answering two outputs stays on the first.
// Finishing closes every port where nothing answered and announces the units,
// each followed by the names of its ports on "Ports".

#include <glib.h>

#include <new>

#include "DeviceMessage.h"
#include "TannevaleMidi.h"

namespace {
const wchar_t* const StatusAvailable = L"Available";
const wchar_t* const StatusNoDevice = L"No device available";
}  // namespace

UnitSerial FormatSerial(int32_t id) {
    const auto value = static_cast<uint32_t>(id);
    auto digit = [value](int k) {
        uint32_t power = 1;
        for (int i = 0; i < k; ++i) power *= 10;
        return static_cast<int>(value / power % 10);
    };
    auto character = [](int d) { return static_cast<char>('0' + d % 10); };
    return UnitSerial{character(digit(4)),
                      character(digit(1)),
                      character(digit(4) + digit(8)),
                      '-',
                      character(digit(3)),
                      character(digit(6)),
                      character(digit(3) + digit(7)),
                      '-',
                      character(digit(2)),
                      character(digit(2) + digit(0)),
                      character(digit(5)),
                      '\0'};
}

void TannevaleMidi::QueueInputBuffer(midi::MidiHandle input) {
    midi::MidiServices& services = midi::Services();
    auto* header = new midi::MidiHeader{};
    header->data = new uint8_t[InputBufferSize]();
    header->bufferLength = InputBufferSize;
    header->flags = midi::MHDR_GROWABLE;  // a longer message comes back in a new[] block
    if (services.InPrepareHeader(input, header) != midi::MMSYSERR_NOERROR) {
        delete[] header->data;
        delete header;
        return;
    }
    if (services.InAddBuffer(input, header) != midi::MMSYSERR_NOERROR) {
        // Not queued, so it would never come back: release it here.
        services.InUnprepareHeader(input, header);
        delete[] header->data;
        delete header;
    }
}

void TannevaleMidi::Scan() {
    midi::MidiServices& services = midi::Services();

    inDeviceCount = services.InGetNumDevs();
    for (unsigned id = 0;; ++id) {
        std::wstring name;
        if (services.InGetDevCaps(id, &name) != midi::MMSYSERR_NOERROR) break;
        midi::MidiHandle handle = 0;
        if (services.InOpen(&handle, id, &TannevaleMidi::InputCallback, reinterpret_cast<uintptr_t>(this)) !=
                midi::MMSYSERR_NOERROR ||
            handle == 0)
            continue;
        inputs.Add(new MidiDevice(handle, 0, String(name.c_str())));
        for (int i = 0; i < InputBufferCount; ++i) QueueInputBuffer(handle);
        services.InStart(handle);
    }

    outDeviceCount = services.OutGetNumDevs();
    for (unsigned id = 0;; ++id) {
        std::wstring name;
        if (services.OutGetDevCaps(id, &name) != midi::MMSYSERR_NOERROR) break;
        midi::MidiHandle handle = 0;
        if (services.OutOpen(&handle, id, &TannevaleMidi::OutputCallback, 0) != midi::MMSYSERR_NOERROR ||
            handle == 0)
            continue;
        outputs.Add(new MidiDevice(0, handle, String(name.c_str())));
    }

    const uint32_t restartCount = restarts;
    status->SetText(StatusAvailable, false);
    if (RestartedSince(restartCount)) return;
    state = 0;
}

void TannevaleMidi::Probe(int index) {
    MidiDevice* port = outputs[index];
    if (port->outHandle != 0) SendLong(port, devicemessage::BuildProbe(), devicemessage::ProbeLength);
}

void TannevaleMidi::Register(const devicemessage::UnitMessage& message, midi::MidiHandle input) {
    const bool identity =
        message.command == devicemessage::CommandIdentity ||
        (message.command == devicemessage::CommandIdentityAlt &&
         (message.type == devicemessage::Type11 || message.type == devicemessage::Type12));
    if (!identity) return;
    // Nothing probed yet, or a state beyond the last port: no port to credit.
    if (state <= 0 || state > outputs.Count()) return;
    AddUnit(message.id, message.type, outputs, 0, outputs[state - 1]->outHandle);
    AddUnit(message.id, message.type, inputs, input, 0);
}

bool TannevaleMidi::AddUnit(int32_t id, uint8_t type, Array<MidiDevice*>& list, midi::MidiHandle input,
                            midi::MidiHandle output) {
    for (MidiDevice* port : list)
        for (MidiDevice::Unit* unit : port->units)
            if (unit->id == id) return false;
    for (MidiDevice* port : list) {
        if ((input != 0 && port->inHandle == input) || (output != 0 && port->outHandle == output)) {
            auto* unit = new MidiDevice::Unit{id, FormatSerial(id), type};
            try {
                port->units.Add(unit);
            } catch (...) {
                delete unit;
                throw;
            }
            return true;
        }
    }
    return false;
}

String TannevaleMidi::OutputNameOf(int32_t id) const {
    for (MidiDevice* port : outputs)
        for (MidiDevice::Unit* unit : port->units)
            if (unit->id == id) return port->name;
    return String();
}

void TannevaleMidi::FinishDiscovery() {
    const uint32_t restartCount = restarts;
    CloseDevices(false);

    receive->SetText(devicemessage::ListStart(), true);
    if (RestartedSince(restartCount)) return;
    if (inputs.IsEmpty()) {
        status->SetText(StatusNoDevice, false);
        return;
    }
    for (int i = 0; i < inputs.Count(); ++i) {
        MidiDevice* port = inputs[i];
        for (int j = 0; j < port->units.Count(); ++j) {
            const MidiDevice::Unit unit = *port->units[j];
            receive->SetText(devicemessage::Announcement(unit), true);
            // A peer that restarts the module from its handler has closed
            // these ports: stop announcing them.
            if (RestartedSince(restartCount)) return;
            ports->SetText(devicemessage::PortsText(unit.id, port->name, OutputNameOf(unit.id)),
                           true);
            if (RestartedSince(restartCount)) return;
        }
    }
}
