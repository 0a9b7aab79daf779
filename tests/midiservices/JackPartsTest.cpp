// How much of a long message goes out as the next event on a JACK port.
#include <gtest/gtest.h>

#include "JackParts.h"

namespace {

TEST(JackParts, NextPartByTable) {
    // An empty jackd port buffer reports room for one event of 32720 bytes, of
    // which the reserve stays free; a period carries 32768.
    const size_t Empty = midi::UsableRoom(32720), Period = 32768;
    EXPECT_EQ(Empty, 32720u - midi::PortReserveBytes);
    EXPECT_EQ(midi::UsableRoom(100), 0u);
    struct Row {
        const char* what;
        size_t length, offset, portRoom, budget;
        size_t part;
    } rows[] = {
        {"short, fresh period", 12, 0, Empty, Period, 12},
        {"16000 bytes leave whole", 16000, 0, Empty, Period, 16000},
        {"whole but too little room left: next period", 20000, 0, 15000, Period, 0},
        {"whole but the period's budget is spent: next period", 20000, 0, Empty, 10000, 0},
        {"the largest whole event", Empty, 0, Empty, Period, Empty},
        {"one byte more: the first part fills the buffer", Empty + 1, 0, Empty, Period, Empty},
        {"64 KiB: first part", 65536, 0, Empty, Period, Empty},
        {"64 KiB: second part", 65536, Empty, Empty, Period, Empty},
        {"64 KiB: the rest", 65536, 2 * Empty, Empty, Period, 65536 - 2 * Empty},
        {"a part after others this period uses what is left", 65536, 0, 5000, Period, 5000},
        {"a tiny part waits for a fresh period", 65536, 0, 100, Period, 0},
        {"a tiny rest goes now", 65536, 65500, 100, Period, 36},
        {"nothing left to send", 100, 100, Empty, Period, 0},
    };
    for (const Row& row : rows) {
        midi::PeriodRoom room{row.portRoom, Empty, row.budget, Period};
        EXPECT_EQ(midi::NextPartLength(row.length, row.offset, room), row.part) << row.what;
    }
    // Every byte of the longest message goes out, in three periods.
    size_t sent = 0;
    int periods = 0;
    while (sent < 65536 && periods < 10) {
        midi::PeriodRoom room{Empty, Empty, Period, Period};
        sent += midi::NextPartLength(65536, sent, room);
        ++periods;
    }
    EXPECT_EQ(sent, 65536u);
    EXPECT_EQ(periods, 3);
}

}  // namespace
