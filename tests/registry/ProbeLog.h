#pragma once
// ProbeLog: one event list shared by the test programs and every copy of the
// probe plug-in libraries. It lives in its own shared library, so a plug-in
// loaded with RTLD_LOCAL (even the same file loaded twice under two names)
// still writes into the list that the test reads.

#include <string>
#include <vector>

#define PROBE_API __attribute__((visibility("default")))

PROBE_API void ProbeLogAdd(const std::string& event);
// The events recorded since the last call, oldest first.
PROBE_API std::vector<std::string> ProbeLogTake();
// The next module serial: 1, 2, ... since the last reset.
PROBE_API int ProbeLogNextSerial();
// Forgets the events and starts the serials again at 1 (each test starts here).
PROBE_API void ProbeLogReset();
