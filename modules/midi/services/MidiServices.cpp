// The process-wide MIDI services and the one place where the backend is chosen.
#include <glib.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "AlsaServices.h"
#include "JackServices.h"
#include "MidiServices.h"
#include "SimServices.h"

namespace midi {

namespace {

// The backend of a machine without MIDI: no ports at all.
class NoServices : public PortServices {
public:
    ~NoServices() override { CloseAll(); }

protected:
    unsigned DeviceCount(bool) override { return 0; }
    std::optional<std::wstring> DeviceName(bool, unsigned) override { return std::nullopt; }
    bool OpenDevice(unsigned, Port&) override { return false; }
    void CloseDevice(Port&) override {}
    unsigned SendLong(Port&, MidiHeader*) override { return MMSYSERR_ERROR; }
};

std::mutex servicesLock;
MidiServices* installed = nullptr;
// Made on first use and kept until ShutdownServices: ports may be open until
// the very end.
MidiServices* chosen = nullptr;
// Set by ShutdownServices: later lookups get a backend without ports instead
// of connecting to a server again while the process ends.
bool shutDown = false;

MidiServices* Choose() {
    const char* env = std::getenv("KORVO_MIDI");
    std::string choice = env ? env : "";
    if (choice == "sim") {
        g_message("MIDI: simulated units");
        return new SimServices(SimLayoutFromEnvironment());
    }
    if (choice == "alsa" || choice.empty()) {
        if (auto alsa = AlsaServices::Create()) return alsa.release();
        if (choice == "alsa") g_warning("MIDI: the ALSA sequencer cannot be opened; no MIDI ports");
    }
    if (choice == "jack" || choice.empty()) {
        if (auto jack = JackServices::Create()) return jack.release();
        if (choice == "jack") g_warning("MIDI: no JACK server runs; no MIDI ports");
    }
    if (!choice.empty() && choice != "alsa" && choice != "jack")
        g_warning("MIDI: unknown backend \"%s\" in KORVO_MIDI (alsa, jack, sim); no MIDI ports", choice.c_str());
    else if (choice.empty())
        g_message("MIDI: neither the ALSA sequencer nor a JACK server is available; no MIDI ports");
    return new NoServices();
}

// A backend keeps threads of its own (the JACK worker, libjack's process and
// notification threads, RtMidi's input thread) that run code of the library
// holding it, and of libjack or libasound. Both are unmapped when the device
// library is unloaded, so the backend is shut down just before: this object's
// destructor runs when the library is unloaded, or at the end of a process
// that holds the code itself, before the libraries it depends on go. It does
// not depend on any module having been deleted or having had a window.
struct ServicesShutdownAtUnload {
    ~ServicesShutdownAtUnload() { ShutdownServices(); }
} shutdownAtUnload;

}  // namespace

void MidiServices::OutLongMsgBatch(MidiOutMessage* messages, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        MidiOutMessage& m = messages[i];
        m.result = OutPrepareHeader(m.handle, m.header);
        if (m.result != MMSYSERR_NOERROR) continue;
        m.result = OutLongMsg(m.handle, m.header);
        if (m.result != MMSYSERR_NOERROR) OutUnprepareHeader(m.handle, m.header);
    }
}

MidiServices& Services() {
    std::lock_guard<std::mutex> guard(servicesLock);
    if (installed) return *installed;
    if (!chosen) chosen = shutDown ? new NoServices() : Choose();
    return *chosen;
}

void ShutdownServices() {
    // Closing hands back what the backend still held (a message not yet
    // sent comes back with its done notice), and the callbacks that take it
    // look the services up again: that lookup makes the stand-in without
    // ports, which goes too.
    for (;;) {
        MidiServices* ending = nullptr;
        {
            std::lock_guard<std::mutex> guard(servicesLock);
            ending = chosen;
            chosen = nullptr;
            shutDown = true;
        }
        if (ending == nullptr) return;
        // Closes what is still open (handing every buffer back), stops the
        // backend's threads and leaves its server.
        delete ending;
    }
}

void InstallServices(MidiServices* services) {
    std::lock_guard<std::mutex> guard(servicesLock);
    installed = services;
}

}  // namespace midi
