// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The benchmarks' screen on a headless GNOME desktop: lunor-bench-scenery
// full screen on it (a scrolling build log and the stamp), its draw times
// read from the file it shares with us.

#include <memory>

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include "stamp.h"

namespace lunor::test {
class HeadlessDesktop;
}

namespace lunor::bench {

class WaylandScenery final : public Stamp {
 public:
  WaylandScenery();
  ~WaylandScenery() override;
  WaylandScenery(const WaylandScenery&) = delete;
  WaylandScenery& operator=(const WaylandScenery&) = delete;

  // Shows it on `desktop`; false with error() when it does not come up.
  bool start(const test::HeadlessDesktop& desktop, double lineDelaySeconds);
  QString error() const { return error_; }

  int64_t drawnAt(uint32_t counter) const override;
  // Stops (or continues) the whole program: nothing moves while paused.
  void setPaused(bool paused) override;

 private:
  QTemporaryDir dir_;
  int64_t* times_ = nullptr;
  std::unique_ptr<QProcess> process_;
  QString error_;
};

}  // namespace lunor::bench
