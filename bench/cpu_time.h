// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <ctime>

#include <sys/resource.h>

namespace lunor::bench {

// User plus system CPU seconds this process has used so far.
inline double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds the calling thread has used so far.
inline double threadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec / 1e9;
}

}  // namespace lunor::bench
