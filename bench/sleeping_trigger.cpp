// The trigger a careful user would write instead of spinning: sleep to the
// minute boundary on the realtime clock, then call the device. It sets up the
// device exactly as minute-trigger does, so the two differ only in how they
// wait.
//
//   sleeping_trigger [MINUTES]   triggers at the next MINUTES boundaries (default 1)
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/prctl.h>

#include "AWG10K.h"

int main(int argc, char **argv)
{
    const long minutes = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 1;
    if (minutes < 1) {
        std::fprintf(stderr, "usage: sleeping_trigger [MINUTES]\n");
        return 2;
    }
    int32_t number = 0;
    uint8_t id = 0;
    char path[] = "C:\\Qmx\\ZPR\\samples\\lorvex_20Hz_60sec_length.zpr";
    if (AWG10K_GetNumberOfDevices(&number) != 0 || number == 0 || AWG10K_Open(&id) != 0 ||
        AWG10K_SetFile(id, path) != 0) {
        std::fprintf(stderr, "sleeping_trigger: no device to trigger\n");
        return 1;
    }
    // A careful user asks for no timer slack: the default 50 us would be added
    // to every wake-up, and the comparison would flatter the spinning program.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

    for (long i = 0; i < minutes; ++i) {
        timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        const timespec boundary = {now.tv_sec - now.tv_sec % 60 + 60, 0};
        // Absolute, so a step of the clock while asleep still wakes us at the
        // boundary; an interrupted sleep just resumes towards the same target.
        while (clock_nanosleep(CLOCK_REALTIME, TIMER_ABSTIME, &boundary, nullptr) != 0) {}
        if (AWG10K_Trigger(id) != 0) std::fprintf(stderr, "sleeping_trigger: trigger failed\n");
    }
    AWG10K_Close(id);
    return 0;
}
