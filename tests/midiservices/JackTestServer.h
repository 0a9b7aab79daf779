// A private JACK server and the unit simulator program for tests and
// benchmarks: jackd (dummy driver, period 256), or with KORVO_TEST_JACK_SERVER=
// pipewire a private headless PipeWire daemon that serves JACK clients.
//
// Each test's jackd has a name of its own, fixed, so that what a killed test
// leaves behind never meets another test, and a lease on the name
// (JackServerLease.h) serialises its users: JACK keeps at most 8 server
// registrations per machine and an unclean exit leaks one, so a fixed name is
// freed again by the next clean start and stop, where names made unique per
// run would pile up. Before a server starts, the registrations that killed
// tests left under other names are freed that way. A server is stopped
// cleanly: queried once with jack_lsp, then SIGTERM; the server and the
// simulator get SIGTERM too when the process that started them dies. While it
// runs, this process's JACK clients choose it through JACK_DEFAULT_SERVER, and
// JACK_NO_START_SERVER=1 keeps them from starting one of their own.
//
// PipeWire needs no session manager and no D-Bus for this: the daemon runs with
// its own runtime folder (one per server name and process, so nothing is
// shared with a desktop's session or another test run), and clients find it
// through PIPEWIRE_RUNTIME_DIR and ask for period 256 (PIPEWIRE_LATENCY). JACK
// clients reach it only through PipeWire's JACK library, which pw-jack puts in
// front of JACK's: the test program itself must run under pw-jack, and the
// programs it starts inherit that.
#pragma once

#include <sys/types.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "JackServerLease.h"

namespace miditest {

class JackTestServer {
public:
    explicit JackTestServer(const std::string& name);
    ~JackTestServer();
    bool Ready() const { return ready; }
    // Why the server is not ready, for a test's failure message.
    const std::string& Why() const { return why; }
    const std::string& Name() const { return name; }

private:
    // A server started only to free the registration a killed test left.
    struct Cleanup {};
    JackTestServer(const std::string& name, Cleanup);
    void Start();
    void StartJackd();
    void StartPipeWire();
    // Waits until a JACK client can connect, or the server process has ended.
    bool WaitUntilServing();

    std::string name;
    bool pipewire = false;
    std::string runtime;  // PipeWire's runtime folder
    std::unique_ptr<JackServerLease> lease;  // jackd only
    pid_t pid = -1;
    bool ready = false;
    std::string why;
};

// korvo-unit-simulator with a unit list, waited for until it said "ready";
// what it prints afterwards (its --log lines) is kept.
class SimulatorProcess {
public:
    // options go before the unit list (for example {"--pairs", "8"}).
    explicit SimulatorProcess(const std::string& units, const std::string& client = "korvo-unit-simulator",
                              const std::vector<std::string>& options = {});
    ~SimulatorProcess() { Stop(); }
    bool Ready() const { return ready; }
    // SIGTERM and wait; true when it exited cleanly.
    bool Stop();
    // Everything it printed after "ready".
    std::string Log();

private:
    pid_t pid = -1;
    bool ready = false;
    int output = -1;
    std::thread reader;
    std::mutex lock;
    std::string log;
};

}  // namespace miditest
