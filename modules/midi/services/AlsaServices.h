// The ALSA sequencer backend, through RtMidi's LINUX_ALSA API.
//
// One RtMidi object per direction enumerates the sequencer's ports (constructing
// one costs about 20 ms, so they are kept); each opened device gets its own
// RtMidi object. The program's own ports show up in the enumeration and are left
// out, or every open would look like a hot-plug. RtMidi delivers whole messages on
// its own thread, which becomes the input callback's thread; sending is immediate
// and the done notice follows from this backend's notice thread.
#pragma once

#include <memory>

#include "PortServices.h"

namespace midi {

class AlsaServices : public PortServices {
public:
    // Null when the sequencer cannot be opened (no /dev/snd, no permission).
    static std::unique_ptr<AlsaServices> Create();
    ~AlsaServices() override;

    unsigned InGetNumDevs() override;
    unsigned InGetDevCaps(unsigned id, std::wstring* name) override;
    unsigned OutGetNumDevs() override;
    unsigned OutGetDevCaps(unsigned id, std::wstring* name) override;

protected:
    bool OpenInputDevice(unsigned id, Port& port) override;
    bool OpenOutputDevice(unsigned id, Port& port) override;
    void CloseDevice(Port& port) override;
    unsigned SendLong(Port& port, MidiHeader* header) override;

private:
    struct State;
    explicit AlsaServices(std::unique_ptr<State> state);
    std::unique_ptr<State> state;
};

}  // namespace midi
