#include "AlsaServices.h"

#include <glib.h>
#include <rtmidi/RtMidi.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "framework/Utf8.h"

namespace midi {

namespace {

// Every port this program opens belongs to a client of this name.
constexpr const char* ClientName = "Yonderpad";

// RtMidi reports a failed send only through this callback; `failed`, when
// given, remembers it for the sender.
void QuietError(RtMidiError::Type type, const std::string& text, void* failed) {
    if (failed && type != RtMidiError::DEBUG_WARNING)
        static_cast<std::atomic<bool>*>(failed)->store(true);
    if (type == RtMidiError::WARNING || type == RtMidiError::DEBUG_WARNING)
        g_message("ALSA MIDI: %s", text.c_str());
    else
        g_warning("ALSA MIDI: %s", text.c_str());
}

bool IsOwn(const std::string& name) {
    return name.rfind(std::string(ClientName) + ":", 0) == 0;
}

// The ports `rt` lists that belong to other programs, with their numbers.
template <typename RtMidiType>
std::vector<std::pair<unsigned, std::string>> OtherPorts(RtMidiType& rt) {
    std::vector<std::pair<unsigned, std::string>> ports;
    unsigned count = rt.getPortCount();
    for (unsigned i = 0; i < count; ++i) {
        std::string name = rt.getPortName(i);
        if (!name.empty() && !IsOwn(name)) ports.emplace_back(i, name);
    }
    return ports;
}

}  // namespace

struct AlsaServices::State {
    std::unique_ptr<RtMidiIn> inEnum;
    std::unique_ptr<RtMidiOut> outEnum;
    std::mutex lock;  // guards the enumerators and the open devices
    struct Device {
        AlsaServices* owner;
        MidiHandle handle;
        std::unique_ptr<RtMidiIn> in;
        std::unique_ptr<RtMidiOut> out;
        std::atomic<bool> failed{false};  // set by RtMidi's error callback
    };
    std::map<MidiHandle, std::unique_ptr<Device>> devices;

    // The other programs' ports of one direction: (sequencer port number,
    // name), in the sequencer's order. RtMidi may throw RtMidiError.
    std::vector<std::pair<unsigned, std::string>> Ports(bool input) {
        return input ? OtherPorts(*inEnum) : OtherPorts(*outEnum);
    }
};

std::unique_ptr<AlsaServices> AlsaServices::Create() {
    // Without the sequencer device both alsa-lib and RtMidi write to standard
    // error before RtMidi throws; asking first keeps a machine without sound quiet.
    if (access("/dev/snd/seq", R_OK | W_OK) != 0) {
        g_debug("ALSA sequencer not available: /dev/snd/seq cannot be opened");
        return nullptr;
    }
    auto state = std::make_unique<State>();
    try {
        state->inEnum = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, ClientName);
        state->outEnum = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, ClientName);
        state->inEnum->setErrorCallback(QuietError, nullptr);
        state->outEnum->setErrorCallback(QuietError, nullptr);
    } catch (const RtMidiError& e) {
        g_debug("ALSA sequencer not available: %s", e.getMessage().c_str());
        return nullptr;
    }
    return std::unique_ptr<AlsaServices>(new AlsaServices(std::move(state)));
}

AlsaServices::AlsaServices(std::unique_ptr<State> s) : state(std::move(s)) {}

AlsaServices::~AlsaServices() { CloseAll(); }

unsigned AlsaServices::DeviceCount(bool input) {
    std::lock_guard<std::mutex> guard(state->lock);
    try {
        return unsigned(state->Ports(input).size());
    } catch (const RtMidiError&) {
        return 0;
    }
}

std::optional<std::wstring> AlsaServices::DeviceName(bool input, unsigned id) {
    std::lock_guard<std::mutex> guard(state->lock);
    try {
        auto ports = state->Ports(input);
        if (id >= ports.size()) return std::nullopt;
        return DecodeUtf8(ports[id].second, BadUtf8::Latin1Text);
    } catch (const RtMidiError&) {
        return std::nullopt;
    }
}

bool AlsaServices::OpenDevice(unsigned id, Port& port) {
    std::lock_guard<std::mutex> guard(state->lock);
    try {
        auto ports = state->Ports(port.input);
        if (id >= ports.size()) return false;
        auto device = std::make_unique<State::Device>();
        device->owner = this;
        device->handle = port.handle;
        if (port.input) {
            device->in = std::make_unique<RtMidiIn>(RtMidi::LINUX_ALSA, ClientName);
            device->in->setErrorCallback(QuietError, nullptr);
            device->in->ignoreTypes(false, true, true);  // keep sysex, drop timing and sensing
            device->in->setCallback(
                [](double, std::vector<unsigned char>* message, void* data) {
                    auto* d = static_cast<State::Device*>(data);
                    if (message && !message->empty())
                        d->owner->InputEvent(d->handle, message->data(), message->size());
                },
                device.get());
            device->in->openPort(ports[id].first, "in");
        } else {
            device->out = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, ClientName);
            device->out->setErrorCallback(QuietError, &device->failed);
            device->out->openPort(ports[id].first, "out");
        }
        state->devices[port.handle] = std::move(device);
        return true;
    } catch (const RtMidiError& e) {
        g_message("ALSA MIDI %s %u not opened: %s", port.input ? "input" : "output", id,
                  e.getMessage().c_str());
        return false;
    }
}

void AlsaServices::CloseDevice(Port& port) {
    std::unique_ptr<State::Device> device;
    {
        std::lock_guard<std::mutex> guard(state->lock);
        auto it = state->devices.find(port.handle);
        if (it == state->devices.end()) return;
        device = std::move(it->second);
        state->devices.erase(it);
    }
    // Destroying the RtMidi object closes the port and joins its input thread.
    device.reset();
}

unsigned AlsaServices::SendLong(Port& port, MidiHeader* header) {
    {
        std::lock_guard<std::mutex> guard(state->lock);
        auto it = state->devices.find(port.handle);
        if (it == state->devices.end() || !it->second->out) return MMSYSERR_INVALHANDLE;
        State::Device& device = *it->second;
        device.failed = false;
        try {
            const uint8_t* bytes = header->data;
            size_t length = header->bufferLength;
            if (bytes[0] != 0xF0 || length <= SendChunk) {
                device.out->sendMessage(bytes, length);
            } else {
                // The sequencer refuses one event larger than the sender's pool
                // and a receiver drops what overflows its own: a long message
                // goes out as chunks of the same system-exclusive message, which
                // the receiving side joins again, with a pause now and then.
                for (size_t done = 0; done < length && !device.failed; done += SendChunk) {
                    device.out->sendMessage(bytes + done, std::min(SendChunk, length - done));
                    if ((done + SendChunk) % PaceBytes == 0) std::this_thread::sleep_for(PacePause);
                }
            }
        } catch (const RtMidiError& e) {
            g_message("ALSA MIDI message not sent: %s", e.getMessage().c_str());
            return MMSYSERR_ERROR;
        }
        if (device.failed) return MMSYSERR_ERROR;
    }
    // The message is in the sequencer now: nothing is left to wait for, and
    // handing the notice to another thread would only add a wake-up to every
    // round trip.
    OutputDone(port.handle, header);
    return MMSYSERR_NOERROR;
}

}  // namespace midi
