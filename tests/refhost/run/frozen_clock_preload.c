/* Preloaded into velloq-host by the tests that compare whole files between
 * runs: the monotonic clocks, which both the host's measured times and the
 * plug-in's total time come from, stand still, so that every report reads
 * the same. Other clocks are left alone. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <time.h>

int clock_gettime(clockid_t clock, struct timespec* now) {
  static int (*system_clock_gettime)(clockid_t, struct timespec*);
  if (clock == CLOCK_MONOTONIC || clock == CLOCK_MONOTONIC_RAW ||
      clock == CLOCK_MONOTONIC_COARSE || clock == CLOCK_BOOTTIME) {
    now->tv_sec = 1000;
    now->tv_nsec = 0;
    return 0;
  }
  if (system_clock_gettime == NULL)
    system_clock_gettime = (int (*)(clockid_t, struct timespec*))dlsym(RTLD_NEXT, "clock_gettime");
  return system_clock_gettime(clock, now);
}
