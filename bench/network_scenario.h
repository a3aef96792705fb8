// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The weak networks lunor-bench-e2e measures the receiver through: each a
// set of lunor-impair conditions on the path between the receiver and its
// TURN server, in both directions.

#include <optional>

#include <QList>
#include <QString>
#include <QStringList>

namespace lunor::bench {

struct NetworkScenario {
  QString name;
  QString summary;         // what the conditions are, in words
  QStringList conditions;  // lunor-impair's arguments
  // A blackout of this many seconds in the middle of the measured window
  // (0: none).
  double blackoutSeconds = 0;
};

inline const QList<NetworkScenario>& networkScenarios() {
  static const QList<NetworkScenario> scenarios{
      {"clean", "through the relay, unimpaired", {}, 0},
      {"delay", "40 ± 15 ms each way, in order", {"--delay", "40", "--jitter", "15"}, 0},
      // As netem's "delay 40ms 15ms reorder 10%": jitter that reorders, and
      // a tenth of the packets overtaking the delay altogether.
      {"reorder",
       "40 ± 15 ms each way, each packet its own delay, 10 % skipping it",
       {"--delay", "40", "--jitter", "15", "--jitter-reorders", "--reorder", "10"},
       0},
      {"loss", "5 % loss each way, 40 ± 15 ms in order", {"--loss", "5", "--delay", "40", "--jitter", "15"}, 0},
      {"cap1m",
       "1000 kbit/s each way, a 200 ms queue, 40 ms",
       {"--rate", "1000", "--queue-ms", "200", "--delay", "40"},
       0},
      {"blackout",
       "40 ms each way, nothing passes for 2 s mid-window",
       {"--delay", "40", "--blackout-on-signal", "2"},
       2},
      // Links people have: a phone's tethered link, a DSL line's upload
      // (the host's picture goes up it), and Wi-Fi that reorders and fades.
      {"phone",
       "1000 kbit/s each way, a 200 ms queue, 40 ± 10 ms, 1 % loss",
       {"--rate", "1000", "--queue-ms", "200", "--delay", "40", "--jitter", "10", "--loss", "1"},
       0},
      {"dsl",
       "4000 kbit/s towards the client (the host's upload), 30 ms, 0.5 % loss",
       {"--down-rate", "4000", "--queue-ms", "200", "--delay", "30", "--loss", "0.5"},
       0},
      {"wifi",
       "20 ± 15 ms each way, each packet its own delay, 2 % loss in runs of 5",
       {"--delay", "20", "--jitter", "15", "--jitter-reorders", "--loss", "2", "--loss-burst", "5"},
       0},
  };
  return scenarios;
}

inline std::optional<NetworkScenario> networkScenario(const QString& name) {
  for (const NetworkScenario& s : networkScenarios()) {
    if (s.name == name) return s;
  }
  return std::nullopt;
}

}  // namespace lunor::bench
