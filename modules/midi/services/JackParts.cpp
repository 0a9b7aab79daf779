#include "JackParts.h"

#include <algorithm>

namespace midi {

size_t NextPartLength(size_t length, size_t offset, const PeriodRoom& room) {
    if (offset >= length) return 0;
    const size_t limit = std::min(room.portRoom, room.budget);
    const size_t whole = std::min(room.emptyRoom, room.periodBudget);
    // Whole in one event, now or in a later period.
    if (offset == 0 && length <= whole) return length <= limit ? length : 0;
    const size_t remaining = length - offset;
    const size_t part = std::min(remaining, limit);
    const bool freshPeriod = room.portRoom >= room.emptyRoom && room.budget >= room.periodBudget;
    if (part < remaining && part < MinPartBytes && !freshPeriod) return 0;
    return part;
}

}  // namespace midi
