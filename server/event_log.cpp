#include "event_log.h"

#include <cstdio>

#include <QDateTime>

namespace lunor::signal {
namespace {

QString quoted(const QString& value) {
  if (!value.isEmpty() && !value.contains(QLatin1Char(' ')) && !value.contains(QLatin1Char('"')) &&
      !value.contains(QLatin1Char('='))) {
    return value;
  }
  QString escaped = value;
  escaped.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
  escaped.replace(QLatin1Char('"'), QStringLiteral("\\\""));
  escaped.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
  return QLatin1Char('"') + escaped + QLatin1Char('"');
}

}  // namespace

void logEvent(const QString& event, const LogFields& fields) {
  QString line = QStringLiteral("ts=") + QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs) +
                 QStringLiteral(" event=") + event;
  for (const auto& [key, value] : fields) line += QLatin1Char(' ') + key + QLatin1Char('=') + quoted(value);
  const QByteArray bytes = line.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

}  // namespace lunor::signal
