// The loop skips a poll whose time cannot be broken down rather than use
// calendar fields left from before; that rests on the clock seam saying so.
// No clock the end-to-end tests can fake gives such a time: only a direct
// call reaches it. (Its 64-bit times are checked there, past 2038.)
#include <gtest/gtest.h>

#include <cstdint>

#include "platform.h"

TEST(Platform, BreakDownUtcSaysWhenItCannot)
{
    std::tm utc{};
    EXPECT_FALSE(BreakDownUtc(INT64_MAX, &utc)) << "a year past what the calendar fields hold";
}
