// Peers on the guest's ALSA sequencer for the tests that run inside the VM:
// the simulator program playing units, and an in-process client with one port
// that records what reaches it and sends what a test asks.
#pragma once

#include <alsa/asoundlib.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "JackTestServer.h"

namespace alsatest {

// The simulator program playing units on the sequencer (--alsa).
class AlsaSimulator : public miditest::SimulatorProcess {
  public:
    explicit AlsaSimulator(const std::string& units,
                           const std::string& client = "korvo-unit-simulator",
                           std::vector<std::string> options = {})
        : SimulatorProcess(units, client, WithAlsa(std::move(options))) {}

  private:
    static std::vector<std::string> WithAlsa(std::vector<std::string> options) {
        options.insert(options.begin(), "--alsa");
        return options;
    }
};

// A sequencer client "korvo-test-peer" with one port "echo" that others may
// write to and subscribe to.
class SeqPeer {
  public:
    SeqPeer();
    ~SeqPeer();
    bool Ready() const { return port >= 0; }
    // Sends a system-exclusive message to the port's subscribers; false when
    // the sequencer refused it.
    bool Send(const std::vector<uint8_t>& bytes);
    // Every sysex byte received so far, in order (the kernel's chunks joined).
    std::vector<uint8_t> Received();
    // Waits until at least `count` bytes arrived.
    bool WaitFor(size_t count, std::chrono::milliseconds timeout);

  private:
    snd_seq_t* seq = nullptr;
    int port = -1;
    std::atomic<bool> stop{false};
    std::mutex lock;
    std::vector<uint8_t> received;
    std::thread reader;
};

// True once running in the VM guest with a sequencer; says so in the output.
bool InGuest();

}  // namespace alsatest
