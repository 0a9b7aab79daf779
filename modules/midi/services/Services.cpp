// The process-wide MIDI services and the one place where the backend is chosen.
#include <glib.h>

#include <cstdlib>
#include <memory>
#include <mutex>
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
    unsigned InGetNumDevs() override { return 0; }
    unsigned InGetDevCaps(unsigned, std::wstring*) override { return MMSYSERR_BADDEVICEID; }
    unsigned OutGetNumDevs() override { return 0; }
    unsigned OutGetDevCaps(unsigned, std::wstring*) override { return MMSYSERR_BADDEVICEID; }

protected:
    bool OpenInputDevice(unsigned, Port&) override { return false; }
    bool OpenOutputDevice(unsigned, Port&) override { return false; }
    void CloseDevice(Port&) override {}
    unsigned SendLong(Port&, MidiHeader*) override { return MMSYSERR_ERROR; }
};

std::mutex servicesLock;
MidiServices* installed = nullptr;
// Made once and kept for the life of the process: ports may be open until the
// very end, and the device library may be unloaded before static destruction.
MidiServices* chosen = nullptr;

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

}  // namespace

MidiServices& Services() {
    std::lock_guard<std::mutex> guard(servicesLock);
    if (installed) return *installed;
    if (!chosen) chosen = Choose();
    return *chosen;
}

void InstallServices(MidiServices* services) {
    std::lock_guard<std::mutex> guard(servicesLock);
    installed = services;
}

}  // namespace midi
