// SPDX-License-Identifier: GPL-3.0-or-later
#include "wayland_scenery.h"

#include <csignal>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <QFile>
#include <QTest>

#include "headless_desktop.h"

namespace lunor::bench {

namespace {
constexpr size_t kTimesBytes = sizeof(int64_t) << kStampBits;
}

WaylandScenery::WaylandScenery() {
  const QString path = dir_.filePath("times");
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0 || ::ftruncate(fd, off_t(kTimesBytes)) != 0) {
    error_ = "cannot create " + path;
  } else if (void* map = ::mmap(nullptr, kTimesBytes, PROT_READ, MAP_SHARED, fd, 0); map != MAP_FAILED) {
    times_ = static_cast<int64_t*>(map);
  } else {
    error_ = "cannot map " + path;
  }
  if (fd >= 0) ::close(fd);
}

WaylandScenery::~WaylandScenery() {
  if (process_) {
    setPaused(false);
    process_->terminate();
    if (!process_->waitForFinished(3000)) process_->kill();
    process_->waitForFinished(2000);
  }
  if (times_) ::munmap(times_, kTimesBytes);
}

bool WaylandScenery::start(const test::HeadlessDesktop& desktop, double lineDelaySeconds) {
  if (!times_) return false;
  process_ = desktop.launch(LUNOR_SCENERY_BINARY, {"--times", dir_.filePath("times"), "--line-delay",
                                                   QString::number(lineDelaySeconds)});
  if (!process_) {
    error_ = "lunor-bench-scenery did not start";
    return false;
  }
  QByteArray said;
  const bool ready = QTest::qWaitFor(
      [&] {
        said += process_->readAll();
        return said.contains("ready ") || process_->state() == QProcess::NotRunning;
      },
      20000);
  if (!ready || !said.contains("ready ")) {
    error_ = "lunor-bench-scenery did not show: " + QString::fromLocal8Bit(said);
    return false;
  }
  return true;
}

int64_t WaylandScenery::drawnAt(uint32_t counter) const {
  if (!times_) return 0;
  return __atomic_load_n(&times_[counter & ((1u << kStampBits) - 1)], __ATOMIC_RELAXED);
}

void WaylandScenery::setPaused(bool paused) {
  if (process_ && process_->state() == QProcess::Running) {
    ::kill(pid_t(process_->processId()), paused ? SIGSTOP : SIGCONT);
  }
}

}  // namespace lunor::bench
