// SPDX-License-Identifier: GPL-3.0-or-later
// lunor-web-modules DIR: writes the web client's modules made from the
// application's own: its key table (keys.js, web_key_table.h) and its view
// of the signaling wire (schema.js, web_schema.h).

#include <cstdio>

#include <QDir>
#include <QFile>

#include "web_key_table.h"
#include "web_schema.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: lunor-web-modules DIR\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  const std::pair<const char*, QByteArray> modules[] = {{"keys.js", lunor::signal::webKeyTableModule()},
                                                        {"schema.js", lunor::signal::webSchemaModule()}};
  for (const auto& [name, module] : modules) {
    QFile out(dir.filePath(QLatin1String(name)));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(module) != module.size()) {
      std::fprintf(stderr, "lunor-web-modules: cannot write %s\n", qPrintable(out.fileName()));
      return 1;
    }
  }
  return 0;
}
