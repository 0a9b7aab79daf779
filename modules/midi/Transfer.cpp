// Message transfer between the connectors and the units, and the life of the
// MIDI buffers.
//
// Output: "Send" text becomes one device message of at most MaxLongMessage bytes
// (a longer one is refused with a warning and nothing is sent); SendLong wraps
// it in a header that belongs to the services from a successful OutLongMsg on,
// until the output callback (on a services thread) unprepares and frees it.
//
// Input: every input port keeps 32 buffers queued, each of 1024 bytes and
// growable (MHDR_GROWABLE): the services hand every message back whole in one
// buffer, grown to the message's length when it is longer, so a port costs
// 32 KiB at rest and a long message no more than its own length while it is
// handed over. The services hand a filled buffer back through the input
// callback on their own thread; the callback only wraps {port handle, parameter}
// in a record and posts it to the module window by handle. Should the window be
// gone, the post fails and the callback frees record and buffer itself; messages
// still queued when the window is destroyed are freed by DiscardInput. On the
// user-interface thread OnMidiInput examines the bytes: a unit message is
// reported (or registers its unit while probing); anything else is dropped with
// a warning naming port, unit when known, length and reason, and so is a buffer
// that comes back incomplete (MIM_LONGERROR). Then it unprepares the buffer:
// success means the port is still open and a fresh buffer takes its place;
// failure means the port was closed meanwhile, and nothing is queued. The
// handled buffer is freed either way, so a port never loses buffers and no
// buffer outlives its use.

#include <glib.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "DeviceMessage.h"
#include "TannevaleMidi.h"
#include "platform/Window.h"

namespace {

// The "Send" text: the unit id in 8 hexadecimal digits, the command in 2, the
// value in 2 (or 1 when the text ends there), then 2 per payload byte.
constexpr std::size_t SendCommandAt = 8;
constexpr std::size_t SendValueAt = 10;
constexpr std::size_t SendPayloadAt = 12;
constexpr std::size_t ByteDigits = 2;

// What the input callback hands to the user-interface thread.
struct InputRecord {
    midi::MidiHandle input;
    uintptr_t param1;
};

// Input codes whose parameter is one of our buffers.
bool CarriesBuffer(unsigned code) { return code == midi::MIM_LONGDATA || code == midi::MIM_LONGERROR; }

void FreeHeader(midi::MidiHeader* header) {
    delete[] header->data;
    delete header;
}

// Frees the payload of a WM_MIDI_INPUT that is discarded with the window.
void DiscardInput(uintptr_t code, uintptr_t lparam) {
    auto* record = reinterpret_cast<InputRecord*>(lparam);
    if (record == nullptr) return;
    if (CarriesBuffer(static_cast<unsigned>(code)) && record->param1 != 0)
        FreeHeader(reinterpret_cast<midi::MidiHeader*>(record->param1));
    delete record;
}

// A whole message in its own header to an open output; takes ownership of
// bytes.
bool HandOver(midi::MidiServices& services, midi::MidiHandle output, uint8_t* bytes, std::size_t length) {
    auto* header = new midi::MidiHeader{};
    header->data = bytes;
    header->bufferLength = static_cast<uint32_t>(length);
    header->bytesRecorded = static_cast<uint32_t>(length);
    header->user = static_cast<uintptr_t>(output);

    if (services.OutPrepareHeader(output, header) != midi::MMSYSERR_NOERROR) {
        FreeHeader(header);
        return false;
    }
    // From a successful OutLongMsg on, the header is the services' until the
    // output callback frees it (possibly before OutLongMsg returns).
    if (services.OutLongMsg(output, header) != midi::MMSYSERR_NOERROR) {
        services.OutUnprepareHeader(output, header);
        FreeHeader(header);
        return false;
    }
    return true;
}

// The value of one hexadecimal digit, or -1.
int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// One field of the "Send" text converted as wcstol with base 16 does it on a
// 32-bit long: leading blanks and a sign are accepted, no digit gives 0, and
// values beyond the range stop at its ends.
int32_t ParseHexField(const wchar_t* text, std::size_t length) {
    // The widest field is the id; one more place ends the field's text.
    wchar_t field[SendCommandAt + 1] = {};
    std::wmemcpy(field, text, std::min<std::size_t>(length, SendCommandAt));
    long long value = std::wcstoll(field, nullptr, 16);
    value = std::clamp<long long>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max());
    return static_cast<int32_t>(value);
}

// One payload byte of the "Send" text: two hexadecimal digits, read directly
// (a 64 KiB message has 65524 of them), or whatever ParseHexField makes of the
// two characters otherwise.
uint8_t ParsePayloadByte(const wchar_t* text) {
    const int high = HexDigit(text[0]);
    const int low = HexDigit(text[1]);
    if (high >= 0 && low >= 0) return static_cast<uint8_t>(high << 4 | low);
    return static_cast<uint8_t>(ParseHexField(text, ByteDigits));
}

// Which command and value poll a unit of a type.
bool PollCommand(uint8_t type, uint8_t* command, uint8_t* value) {
    switch (type) {
    case devicemessage::Type11:
    case devicemessage::Type12:
        *command = 0x10, *value = 0x01;
        return true;
    case devicemessage::TypeA:
    case devicemessage::TypeB:
        *command = 0x02, *value = 0x04;
        return true;
    default:
        return false;
    }
}

// A state report from a unit: it postpones the next poll of every unit.
bool DefersPoll(uint8_t type, uint8_t command) {
    if (type == devicemessage::TypeA || type == devicemessage::TypeB) return command == 0x04 || command == 0x05;
    if (type == devicemessage::Type11 || type == devicemessage::Type12) return command == 0x37;
    return false;
}

// False, with the warning, when a message with `count` payload bytes to the unit
// would be longer than the services carry.
bool FitsTheBound(int32_t id, std::size_t count) {
    if (count <= midi::MaxLongMessage - devicemessage::Overhead) return true;
    g_warning("MIDI: message to unit %08x not sent: %zu bytes, longer than the bound of %u bytes",
              static_cast<unsigned>(id), count + devicemessage::Overhead,
              unsigned(midi::MaxLongMessage));
    return false;
}

}  // namespace

void TannevaleMidi::OnSend(KorvoConnector*) {
    const wchar_t* text = send->Text();
    const std::size_t length = std::wcslen(text);
    if (length < SendValueAt + 1) return;  // no value digit

    const int32_t id = ParseHexField(text, SendCommandAt);
    const auto command = static_cast<uint8_t>(ParseHexField(text + SendCommandAt, ByteDigits));
    const auto value =
        static_cast<uint8_t>(ParseHexField(text + SendValueAt, length == SendValueAt + 1 ? 1 : ByteDigits));
    // Two characters per payload byte; a last odd character is ignored.
    const std::size_t count = length > SendPayloadAt ? (length - SendPayloadAt) / ByteDigits : 0;
    if (!FitsTheBound(id, count)) return;
    std::vector<uint8_t> payload(count);
    for (std::size_t i = 0; i < count; ++i)
        payload[i] = ParsePayloadByte(text + SendPayloadAt + ByteDigits * i);

    SendToUnit(id, command, value, payload.data(), count);
}

bool TannevaleMidi::SendToUnit(int32_t id, uint8_t command, uint8_t value, const uint8_t* payload,
                               std::size_t count) {
    if (state == Closing) return true;
    if (!FitsTheBound(id, count)) return false;
    // A byte above 0x7F would end the message early on the wire and leave the
    // rest to be read as something else: such a message is not sent at all.
    if (const std::size_t at = devicemessage::FirstNonDataByte(command, value, payload, count); at != 0) {
        const uint8_t byte = at == devicemessage::CommandAt ? command
                             : at == devicemessage::ValueAt ? value
                                                            : payload[at - devicemessage::PayloadAt];
        g_warning("MIDI: message to unit %08x not sent: byte %zu is 0x%02X, above the data range 0x00-0x7F",
                  static_cast<unsigned>(id), at, byte);
        return false;
    }
    for (MidiDevice* port : outputs)
        for (MidiDevice::Unit* unit : port->units)
            if (unit->id == id) return SendToPortUnit(port, *unit, command, value, payload, count);
    return false;
}

bool TannevaleMidi::SendToPortUnit(MidiDevice* port, const MidiDevice::Unit& unit, uint8_t command, uint8_t value,
                                   const uint8_t* payload, std::size_t count) {
    if (port->outHandle == 0) return false;
    uint8_t* bytes = devicemessage::Build(unit.type, unit.id, command, value, payload, count);
    return SendLong(port, bytes, count + devicemessage::Overhead);
}

bool TannevaleMidi::SendLong(MidiDevice* port, uint8_t* bytes, std::size_t length) {
    if (port == nullptr || port->outHandle == 0 || length > std::numeric_limits<uint32_t>::max()) {
        delete[] bytes;
        return false;
    }
    return HandOver(midi::Services(), port->outHandle, bytes, length);
}

void TannevaleMidi::OutputCallback(midi::MidiHandle, unsigned message, uintptr_t, uintptr_t param1, uintptr_t) {
    if (message != midi::MOM_DONE || param1 == 0) return;
    auto* header = reinterpret_cast<midi::MidiHeader*>(param1);
    midi::Services().OutUnprepareHeader(static_cast<midi::MidiHandle>(header->user), header);
    FreeHeader(header);
}

void TannevaleMidi::InputCallback(midi::MidiHandle handle, unsigned message, uintptr_t instance, uintptr_t param1,
                                  uintptr_t) {
    auto* module = reinterpret_cast<TannevaleMidi*>(instance);
    const platform::WindowHandle window = module ? module->windowHandle.load(std::memory_order_acquire) : 0;
    if (window != 0) {
        auto* record = new (std::nothrow) InputRecord{handle, param1};
        if (record != nullptr &&
            platform::Window::Post(window, WM_MIDI_INPUT, message, reinterpret_cast<uintptr_t>(record), DiscardInput))
            return;
        delete record;
    }
    // Nobody will handle this buffer any more.
    if (CarriesBuffer(message) && param1 != 0) FreeHeader(reinterpret_cast<midi::MidiHeader*>(param1));
}

intptr_t TannevaleMidi::OnMidiInput(unsigned code, uintptr_t lparam) {
    auto* record = reinterpret_cast<InputRecord*>(lparam);
    if (record == nullptr) return 0;
    const midi::MidiHandle input = record->input;
    auto* header = reinterpret_cast<midi::MidiHeader*>(record->param1);
    delete record;

    // Short messages, open, close and short errors carry no buffer.
    if (!CarriesBuffer(code) || header == nullptr) return 0;
    if (input == 0) {
        FreeHeader(header);
        return 0;
    }

    // The recorded count comes from the services: never read beyond the buffer.
    // A buffer handed back unused (by a reset) records nothing.
    const std::size_t recorded =
        header->data != nullptr ? std::min(header->bytesRecorded, header->bufferLength) : 0;
    if (recorded > 0) {
        if (code == midi::MIM_LONGERROR)
            WarnDropped(input, header->data, recorded, "it came back incomplete");
        else
            HandleUnitBytes(input, header->data, recorded);
    }

    midi::MidiServices& services = midi::Services();
    // Fails once the port was closed: then no replacement is queued.
    if (services.InUnprepareHeader(input, header) == midi::MMSYSERR_NOERROR) QueueInputBuffer(input);
    FreeHeader(header);
    return 0;
}

void TannevaleMidi::HandleUnitBytes(midi::MidiHandle input, const uint8_t* bytes,
                                    std::size_t recorded) {
    devicemessage::UnitMessage message;
    const char* fault = nullptr;
    if (!devicemessage::RecogniseUnitMessage(bytes, recorded, &message, &fault)) {
        // The probe echoed by a loopback port comes with every discovery.
        if (!devicemessage::IsToEveryUnit(bytes, recorded))
            WarnDropped(input, bytes, recorded, fault);
        return;
    }
    if (state == Running) {
        if (recorded == devicemessage::MinimumLength)
            WarnDropped(input, bytes, recorded, "it carries no value");
        else
            ReportMessage(message.type, message.id, message.command, message.value, message.payload,
                          message.count);
    } else if (state >= 0) {
        Register(message, input);
    }
}

void TannevaleMidi::WarnDropped(midi::MidiHandle input, const uint8_t* bytes, std::size_t recorded,
                                const char* reason) const {
    std::string port = "a closed input";
    for (const MidiDevice* device : inputs)
        if (device->inHandle == input) port = "input \"" + device->name.ToUtf8() + "\"";
    // The unit, when the bytes name one.
    char unit[32] = "";
    if (recorded > devicemessage::CommandAt && bytes[0] == devicemessage::SysexStart &&
        bytes[1] == 0x00 && bytes[2] == 0x11 && bytes[3] == 0x22 &&
        bytes[devicemessage::IdAt] != 0xFF)
        std::snprintf(unit, sizeof unit, " from unit %08x",
                      static_cast<unsigned>(devicemessage::DecodeId(bytes)));
    g_warning("MIDI: a message of %zu bytes%s on %s dropped: %s", recorded, unit, port.c_str(),
              reason);
}

void TannevaleMidi::ReportMessage(uint8_t type, int32_t id, uint8_t command, uint8_t value, const uint8_t* payload,
                                  std::size_t count) {
    if (DefersPoll(type, command)) {
        lastPollTime = platform::Clock::NowMs();
        deferredByReply = true;
    }
    receive->SetText(devicemessage::ReceiveText(type, id, command, value, payload, count), true);
}

void TannevaleMidi::Poll() {
    // The clock counts whole milliseconds and the tick that follows a poll
    // comes 100 ms and a fraction after it, which the clock may show as exactly
    // 100: such a tick is due, or polls would come only every other tick. A
    // deferring reply is a moment of its own, and the next poll waits until
    // the clock shows more than 100 ms since it.
    const uint64_t now = platform::Clock::NowMs();
    const uint64_t due = lastPollTime + PollIntervalMs + (deferredByReply ? 1 : 0);
    if (now < due) return;
    lastPollTime = now;
    deferredByReply = false;
    // Ids are unique within outputs, so each unit is polled on its own port
    // directly instead of being looked up again by id. The messages go to the
    // services in one batch: the thread that sends them and hands them back
    // then starts on them once, instead of taking turns with this one for
    // every message.
    std::vector<midi::MidiOutMessage> batch;
    for (int i = 0; i < outputs.Count(); ++i) {
        MidiDevice* port = outputs[i];
        if (port->outHandle == 0) continue;
        for (int j = 0; j < port->units.Count(); ++j) {
            const MidiDevice::Unit& unit = *port->units[j];
            uint8_t command, value;
            if (!PollCommand(unit.type, &command, &value)) continue;
            auto* header = new midi::MidiHeader{};
            header->data = devicemessage::Build(unit.type, unit.id, command, value, nullptr, 0);
            header->bufferLength = header->bytesRecorded = devicemessage::Overhead;
            header->user = static_cast<uintptr_t>(port->outHandle);
            batch.push_back({port->outHandle, header, midi::MMSYSERR_ERROR});
        }
    }
    if (batch.empty()) return;
    midi::Services().OutLongMsgBatch(batch.data(), batch.size());
    // What the services did not take is still ours (and unprepared).
    for (const midi::MidiOutMessage& message : batch)
        if (message.result != midi::MMSYSERR_NOERROR) FreeHeader(message.header);
}
