// A private JACK server (dummy driver, period 256) and the unit simulator
// program for tests and benchmarks.
//
// Each test's server has a name of its own, fixed, so that what a killed test
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
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "JackServerLease.h"

namespace miditest {

class JackTestServer {
public:
    explicit JackTestServer(const std::string& name);
    ~JackTestServer();
    bool Ready() const { return ready; }
    const std::string& Name() const { return name; }

private:
    // A server started only to free the registration a killed test left.
    struct Cleanup {};
    JackTestServer(const std::string& name, Cleanup);
    void Start();

    std::string name;
    std::unique_ptr<JackServerLease> lease;
    pid_t pid = -1;
    bool ready = false;
};

// korvo-unit-simulator with a unit list, waited for until it said "ready".
class SimulatorProcess {
public:
    // options go before the unit list (for example {"--pairs", "8"}).
    explicit SimulatorProcess(const std::string& units, const std::string& client = "korvo-unit-simulator",
                              const std::vector<std::string>& options = {});
    ~SimulatorProcess() { Stop(); }
    bool Ready() const { return ready; }
    // SIGTERM and wait; true when it exited cleanly.
    bool Stop();

private:
    pid_t pid = -1;
    bool ready = false;
};

}  // namespace miditest
