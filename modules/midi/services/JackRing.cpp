#include "JackRing.h"

#include <ctime>

namespace midi {

void WaitForRecords(sem_t& wake, std::chrono::milliseconds limit) {
    constexpr long NanosPerSecond = 1000 * 1000 * 1000;
    // sem_timedwait takes an absolute time on the realtime clock.
    timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    auto nanos = std::chrono::duration_cast<std::chrono::nanoseconds>(limit).count();
    until.tv_sec += time_t(nanos / NanosPerSecond);
    until.tv_nsec += long(nanos % NanosPerSecond);
    if (until.tv_nsec >= NanosPerSecond) {
        until.tv_sec += 1;
        until.tv_nsec -= NanosPerSecond;
    }
    sem_timedwait(&wake, &until);
}

}  // namespace midi
