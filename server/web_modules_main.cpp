// SPDX-License-Identifier: GPL-3.0-or-later
// lunor-web-keys FILE: writes the web client's key table (web_key_table.h).

#include <cstdio>

#include <QFile>

#include "web_key_table.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: lunor-web-keys FILE\n");
    return 2;
  }
  QFile out(QString::fromLocal8Bit(argv[1]));
  const QByteArray module = lunor::signal::webKeyTableModule();
  if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(module) != module.size()) {
    std::fprintf(stderr, "lunor-web-keys: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
