// The end-to-end tests trust the simulated device to refuse what a real one
// would not accept; this checks that it does.
#include <gtest/gtest.h>

#include <cstdlib>

#include "AWG10K.h"

TEST(Simulator, RefusesCallsOutOfOrderOrWithBadArguments)
{
    char path[] = "waveform.zpr";
    int32_t number = 0;
    uint8_t id = 0;
    // The simulator reads its settings at its first call: make them the defaults.
    for (const char *name : {"AWG10K_SIM_DEVICES", "AWG10K_SIM_FAIL", "AWG10K_SIM_LOG"}) unsetenv(name);

    EXPECT_NE(0, AWG10K_GetNumberOfDevices(nullptr));
    EXPECT_NE(0, AWG10K_Open(nullptr));
    EXPECT_NE(0, AWG10K_SetFile(1, path)) << "load before open";
    EXPECT_NE(0, AWG10K_Trigger(1)) << "trigger before open";

    ASSERT_EQ(0, AWG10K_GetNumberOfDevices(&number));
    EXPECT_EQ(1, number);
    ASSERT_EQ(0, AWG10K_Open(&id));
    EXPECT_NE(0, AWG10K_Open(&id)) << "second open of the one device";
    EXPECT_NE(0, AWG10K_Trigger(id)) << "trigger before load";
    EXPECT_NE(0, AWG10K_SetFile(id + 1u, path)) << "an identifier never handed out";
    EXPECT_NE(0, AWG10K_SetFile(id, nullptr));

    ASSERT_EQ(0, AWG10K_SetFile(id, path));
    EXPECT_NE(0, AWG10K_Trigger(id + 1u));
    EXPECT_EQ(0, AWG10K_Trigger(id));

    EXPECT_EQ(0, AWG10K_Close(id));
    EXPECT_NE(0, AWG10K_Trigger(id)) << "trigger after close";
    EXPECT_NE(0, AWG10K_Close(id)) << "second close";
}

// A program that hands over its path as a read-only literal is caught here,
// not by a real library that writes into the buffer.
TEST(SimulatorDeathTest, WritesIntoThePathItIsGiven)
{
    static const char literal[] = "C:\\waveform.zpr";  // in read-only memory
    EXPECT_DEATH(AWG10K_SetFile(1, const_cast<char *>(literal)), "");
}
