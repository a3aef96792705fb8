// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Open descriptors: a server holding thousands of connections (and a
// benchmark opening them) needs more than the usual soft limit of 1024.

#include <sys/resource.h>

#include <QtGlobal>

namespace lunor {

// Raises this process's limit to the hard limit the system allows.
inline void raiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);
}

inline qint64 descriptorLimit() {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  return qint64(limit.rlim_cur);
}

}  // namespace lunor
