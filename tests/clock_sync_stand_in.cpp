// Preloaded into every end-to-end run in place of the kernel's clock
// discipline, so that no run depends on this machine's time daemon. It
// answers as chronyd without rtcsync leaves the kernel (STA_UNSYNC set,
// TIME_ERROR), so every run shows that only the maximum error decides:
// 15.999999 s, just short of the kernel's 16 s, or what the file named by
// CLOCK_SYNC_STAND_IN holds (microseconds, or "refuse": EPERM, as a seccomp
// filter answers). A call that would set the clock is refused too, so it shows.
#include <sys/timex.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

extern "C" int ntp_adjtime(timex *tx)
{
    std::string text = "15999999";
    if (const char *path = getenv("CLOCK_SYNC_STAND_IN")) std::ifstream(path) >> text;
    if (tx->modes != 0 || text == "refuse") {
        errno = EPERM;
        return -1;
    }
    tx->maxerror = std::stol(text);
    tx->status = STA_UNSYNC;
    return TIME_ERROR;
}
