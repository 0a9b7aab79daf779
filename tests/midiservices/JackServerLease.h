// Who holds the name of a private JACK test server, kept where every test
// process of the machine finds it, so that one killed test cannot sink the
// JACK tests after it.
//
// JACK keeps at most 8 server registrations per machine. A server that does
// not stop cleanly (ctest's time limit kills a test and its children with
// SIGKILL) keeps its registration until a server of the same name starts, and
// that start fails ("already active") for as long as the old process exists:
// a zombie until it is reaped, or an orphan that runs on when only the test
// died.
//
// Each name has a lock file, /tmp/<name>.jack.lock, held while a server of
// that name runs. It records the pid of the name's last server for as long as
// that server may be registered, and is emptied after a clean stop: a lock
// file that is free but not empty was left by a holder that died. Taking a
// lease waits until the name is free, then deals with what its last holder
// left: an orphan server is stopped as a test stops its own, a killed one is
// waited for until its process is gone. The server that starts under the name
// then takes over its registration. Stale() lists the names left that way that
// nobody holds, so that their registrations can be freed by a clean start and
// stop before a server of another name starts.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace miditest {

class JackServerLease {
public:
    // Waits for the name's lock, then clears what a killed holder left.
    explicit JackServerLease(const std::string& name);
    // Releases the lock; the record stays unless the server stopped cleanly.
    ~JackServerLease();
    JackServerLease(const JackServerLease&) = delete;
    JackServerLease& operator=(const JackServerLease&) = delete;

    // The name's server was started as process server.
    void Started(pid_t server);
    // The name's server stopped cleanly: nothing of it is registered.
    void Stopped();

    // The names whose last server may still be registered although its
    // holder died, and which nobody holds now.
    static std::vector<std::string> Stale();

private:
    std::string name;
    int lockFd = -1;
};

}  // namespace miditest
