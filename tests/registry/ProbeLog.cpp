#include "ProbeLog.h"

namespace {
std::vector<std::string>& Events() {
    static std::vector<std::string> events;
    return events;
}
int serial = 0;
}  // namespace

void ProbeLogAdd(const std::string& event) { Events().push_back(event); }

std::vector<std::string> ProbeLogTake() {
    std::vector<std::string> taken;
    taken.swap(Events());
    return taken;
}

int ProbeLogNextSerial() { return ++serial; }

void ProbeLogReset() {
    Events().clear();
    serial = 0;
}
