// The loop skips a poll whose time cannot be broken down rather than read a
// null result; that rests on the clock seam saying so instead of crashing.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform.h"

TEST(Platform, BreaksDownUtcAndSaysWhenItCannot)
{
    std::tm utc{};
    ASSERT_TRUE(BreakDownUtc(2147483648, &utc));  // one second past 32-bit time
    EXPECT_EQ(138, utc.tm_year);
    EXPECT_EQ(0, utc.tm_mon);
    EXPECT_EQ(19, utc.tm_mday);
    EXPECT_EQ(3 * 3600 + 14 * 60 + 8, utc.tm_hour * 3600 + utc.tm_min * 60 + utc.tm_sec);

    EXPECT_FALSE(BreakDownUtc(INT64_MAX, &utc)) << "a year past what the calendar fields hold";
}
