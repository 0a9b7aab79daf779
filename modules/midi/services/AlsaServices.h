// The ALSA sequencer backend, through RtMidi's LINUX_ALSA API.
//
// One RtMidi object per direction enumerates the sequencer's ports (constructing
// one costs about 20 ms, so they are kept); each opened device gets its own
// RtMidi object. The program's own ports show up in the enumeration and are left
// out, or every open would look like a hot-plug. RtMidi delivers whole messages on
// its own thread, which becomes the input callback's thread. Sending is
// immediate, so the done notice is given on the sending thread before
// OutLongMsg returns: another thread would only add a wake-up to every trip.
//
// The kernel refuses a system-exclusive event larger than the sending client's
// pool (about 14 KB) and a receiver silently loses what overflows its input
// pool, so a long message (up to MaxLongMessage) leaves in SendChunk-byte parts
// of one message (every sequencer reader, RtMidi included, joins them up to the
// F7), pausing after each PaceBytes. A failed send is reported as an error, never
// as done. RtMidi hands input on joined up to the F7; the port's assembler
// (PortServices) checks it is whole and within the bound.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "PortServices.h"

namespace midi {

class AlsaServices : public PortServices {
  public:
    // Null when the sequencer cannot be opened (no /dev/snd, no permission).
    static std::unique_ptr<AlsaServices> Create();
    ~AlsaServices() override;

    // Must stay at or above RtMidi's initial encoder buffer (32 bytes): every
    // part of a long message then exactly fills the grown buffer, which is what
    // makes the encoder emit a part that has no F7.
    static constexpr size_t SendChunk = 256;
    static constexpr size_t PaceBytes = 1024;
    static constexpr std::chrono::milliseconds PacePause{1};

  protected:
    unsigned DeviceCount(bool input) override;
    std::optional<std::wstring> DeviceName(bool input, unsigned id) override;
    bool OpenDevice(unsigned id, Port& port) override;
    void CloseDevice(Port& port) override;
    unsigned SendLong(Port& port, MidiHeader* header) override;

  private:
    struct State;
    explicit AlsaServices(std::unique_ptr<State> state);
    std::unique_ptr<State> state;
};

}  // namespace midi
