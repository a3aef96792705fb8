// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The computer's ID serves one host at a time. A host in a session the
// owner opened here (the window, or --headless-host there) holds this lock
// while it runs; the separate session's host leaves the ID to it meanwhile
// and takes it back once it is free, so the two never take the room from
// each other.

#include <QLockFile>
#include <QString>

namespace lunor {

class PhysicalHostLock {
 public:
  PhysicalHostLock();  // held while the object lives, unless another holds it already
  PhysicalHostLock(const PhysicalHostLock&) = delete;
  PhysicalHostLock& operator=(const PhysicalHostLock&) = delete;

 private:
  QLockFile lock_;
};

// Why the separate session's host waits: a host of the owner's own session
// holds the ID now. Empty when none does.
QString physicalHostHoldsId();

}  // namespace lunor
