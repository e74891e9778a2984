// Stands in for the kernel's clock-discipline state, preloaded as libfaketime
// stands in for the clock, so that the end-to-end tests never depend on
// whether the machine they run on keeps its clock synchronised.
//   CLOCK_SYNC_STAND_IN unset           synchronised: maximum error 12 ms
//   CLOCK_SYNC_STAND_IN="US"            maximum error US microseconds, TIME_OK
//   CLOCK_SYNC_STAND_IN="US unsync"     the same with STA_UNSYNC set and
//                                       TIME_ERROR, as chronyd leaves it without rtcsync
//   CLOCK_SYNC_STAND_IN="refuse"        -1 with EPERM, as a seccomp filter answers
//   CLOCK_SYNC_STAND_IN="@FILE"         any of those, read from FILE at each
//                                       call, so a test can change it mid-run
// Any call that would change the clock is refused the same way, so it shows.
#include <sys/timex.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int Answer(timex *tx)
{
    char text[64] = "12000";
    const char *setting = getenv("CLOCK_SYNC_STAND_IN");
    if (setting != nullptr && setting[0] == '@') {
        if (FILE *file = fopen(setting + 1, "r")) {
            text[fread(text, 1, sizeof text - 1, file)] = '\0';
            fclose(file);
        }
    } else if (setting != nullptr) {
        snprintf(text, sizeof text, "%s", setting);
    }
    if (tx->modes != 0 || strncmp(text, "refuse", 6) == 0) {
        errno = EPERM;
        return -1;
    }
    char *rest = nullptr;
    tx->maxerror = strtol(text, &rest, 10);
    const bool unsync = strstr(rest, "unsync") != nullptr;
    tx->status = unsync ? STA_UNSYNC : STA_PLL;
    return unsync ? TIME_ERROR : TIME_OK;
}

}  // namespace

extern "C" int ntp_adjtime(timex *tx) { return Answer(tx); }
extern "C" int adjtimex(timex *tx) { return Answer(tx); }
