// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The busy screen of the benchmarks: a terminal scrolling a build log (source
// lines behind their file name and number), each line scrolling the whole
// terminal.

#include <QProcess>
#include <QString>

namespace lunor::bench {

// Starts xterm on `display` over most of a 1920x1080 screen; `lineDelay`
// seconds between lines (0: as fast as the terminal takes them).
inline bool startScrollingTerminal(QProcess& terminal, const QString& display, double lineDelay) {
  const QString scroll = QStringLiteral(
      "while :; do for f in /usr/include/*.h; do n=0; while IFS= read -r l; do n=$((n+1)); "
      "printf '%-40s %5d | %s\\n' \"$f\" $n \"$l\"; %1 done < \"$f\"; done; done")
                             .arg(lineDelay > 0 ? QStringLiteral("sleep %1;").arg(lineDelay) : QString());
  terminal.setStandardOutputFile(QProcess::nullDevice());
  terminal.setStandardErrorFile(QProcess::nullDevice());
  terminal.start("xterm", {"-display", display, "-geometry", "316x80+0+0", "-bg", "#1e1e1e", "-fg", "#d0d0d0", "-e",
                           "sh", "-c", scroll});
  return terminal.waitForStarted(5000);
}

}  // namespace lunor::bench
