// The serial driver's packet clock: when a partial packet has waited too long.

#include "comm/PacketClock.h"

#include <gtest/gtest.h>

namespace {

// PacketSize 100 at 9600 bit/s (104 ms a packet), ticks every 50 ms: a tick sees a partial packet
// at T, the next one takes two whole packets and moves the start to T + 208, and the tick after
// that, at T + 100, looks at the 50 bytes left. They have not waited at all: no time-out, no data
// thrown away.
TEST(PacketClock, AStartAheadOfTheClockHasNotTimedOut) {
    const std::uint32_t T = 1000000;
    EXPECT_FALSE(PacketTimedOut(T + 208, 70, T + 100));
    EXPECT_FALSE(PacketTimedOut(T + 208, 70, T + 278));
    EXPECT_TRUE(PacketTimedOut(T + 208, 70, T + 279));
}

TEST(PacketClock, APartialPacketTimesOutOnlyAfterMoreThanItsTimeOut) {
    const std::uint32_t T = 5000;
    EXPECT_FALSE(PacketTimedOut(T, 280, T + 280));
    EXPECT_TRUE(PacketTimedOut(T, 280, T + 281));
    // No time-out at all: a partial packet waits for ever.
    EXPECT_FALSE(PacketTimedOut(T, -1, T + 100000));
    EXPECT_FALSE(PacketTimedOut(T, 0, T + 100000));
    // Across the tick count's wrap after 49.7 days.
    EXPECT_TRUE(PacketTimedOut(0xFFFFFF00u, 280, 0x40u));
    EXPECT_FALSE(PacketTimedOut(0xFFFFFF00u, 400, 0x40u));
}

} // namespace
