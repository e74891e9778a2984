/* Preloaded with libfaketime into 32-bit Wine, so that its programs read the
 * faked time. 32-bit Wine is built with a 64-bit time_t and reads the clock
 * through glibc's time64 entries; libfaketime for i386 wraps only the 32-bit
 * ones. Each entry here hands the call on to its 32-bit twin, which
 * libfaketime fakes (or leaves real, as its settings say: the monotonic
 * clock), and widens the answer. 32-bit seconds hold until 2038, past every
 * time the Windows tests fake. files.sh checks that every clock entry Wine's
 * ntdll.so imports is one of these. */
#define _DEFAULT_SOURCE
#include <stdint.h>
#include <sys/time.h>
#include <time.h>

/* glibc's layouts of struct __timespec64 and __timeval64 on i386. */
struct timespec64 {
    int64_t tv_sec;
    int32_t tv_nsec;
    int32_t padding;
};
struct timeval64 {
    int64_t tv_sec;
    int64_t tv_usec;
};

int __clock_gettime64(clockid_t clock, struct timespec64 *out)
{
    struct timespec now;
    const int status = clock_gettime(clock, &now);
    if (status == 0) *out = (struct timespec64){now.tv_sec, (int32_t)now.tv_nsec, 0};
    return status;
}

int __clock_getres64(clockid_t clock, struct timespec64 *out)
{
    struct timespec res;
    const int status = clock_getres(clock, &res);
    if (status == 0 && out != NULL) *out = (struct timespec64){res.tv_sec, (int32_t)res.tv_nsec, 0};
    return status;
}

int __gettimeofday64(struct timeval64 *out, void *zone)
{
    struct timeval now;
    const int status = gettimeofday(&now, zone);
    if (status == 0 && out != NULL) *out = (struct timeval64){now.tv_sec, now.tv_usec};
    return status;
}

int64_t __time64(int64_t *out)
{
    const int64_t now = time(NULL);
    if (out != NULL) *out = now;
    return now;
}
