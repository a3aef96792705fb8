// SPDX-License-Identifier: GPL-3.0-or-later
// lunor-bench-scenery: the benchmarks' screen on a Wayland desktop. A
// full-screen window scrolls source lines behind their file name and number,
// like a terminal showing a build log, with the glass-to-glass stamp in its
// top-left corner redrawn every 16 ms. The time each stamp value reached the
// compositor goes to a shared file the benchmark reads.
//
//   lunor-bench-scenery --times FILE [--line-delay S]
//
// Prints "ready WxH" once the window is on the screen.

#include <cstdio>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <QBackingStore>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPainter>
#include <QTextStream>
#include <QTimer>
#include <QWindow>

#include "stamp.h"

using namespace lunor::bench;

namespace {

constexpr QRgb kBackground = 0xff1e1e1e;
constexpr QRgb kForeground = 0xffd0d0d0;
constexpr int kStampPeriodMs = 16;

// The lines of /usr/include's headers, endlessly, numbered like `grep -n`.
class SourceLines {
 public:
  SourceLines() {
    for (const QFileInfo& info : QDir("/usr/include").entryInfoList({"*.h"}, QDir::Files, QDir::Name)) {
      files_ << info.filePath();
    }
  }
  QString next() {
    while (!stream_ || stream_->atEnd()) {
      if (files_.isEmpty()) return QStringLiteral("(no headers in /usr/include)");
      file_.close();
      file_.setFileName(files_[index_++ % files_.size()]);
      stream_.reset();
      if (!file_.open(QIODevice::ReadOnly)) continue;
      stream_ = std::make_unique<QTextStream>(&file_);
      number_ = 0;
    }
    QString text = stream_->readLine();
    text.replace('\t', QStringLiteral("        "));
    return QStringLiteral("%1 %2 | %3").arg(file_.fileName(), -40).arg(++number_, 5).arg(text);
  }

 private:
  QStringList files_;
  qsizetype index_ = 0;
  QFile file_;
  std::unique_ptr<QTextStream> stream_;
  int number_ = 0;
};

class Scenery final : public QWindow {
 public:
  Scenery(int64_t* times, double lineDelay) : store_(this), times_(times), lineDelayMs_(lineDelay * 1000) {
    font_ = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font_.setPixelSize(11);
    lineHeight_ = QFontMetrics(font_).height();
    connect(&timer_, &QTimer::timeout, this, &Scenery::tick);
    timer_.setTimerType(Qt::PreciseTimer);
  }

 protected:
  void exposeEvent(QExposeEvent*) override {
    if (!isExposed() || timer_.isActive()) return;
    const QSize size = this->size();
    store_.resize(size);
    text_ = QImage(size, QImage::Format_RGB32);
    text_.fill(kBackground);
    paint(QRegion(QRect(QPoint(), size)));
    std::printf("ready %dx%d\n", size.width(), size.height());
    std::fflush(stdout);
    clock_.start();
    timer_.start(kStampPeriodMs);
  }
  void resizeEvent(QResizeEvent*) override {
    if (timer_.isActive()) timer_.stop();  // taken up again on the next expose, at the new size
  }

 private:
  void tick() {
    counter_ = (counter_ + 1) & ((1u << kStampBits) - 1);
    QRegion changed(0, 0, kStampWidth, kStampHeight);
    // The lines due since the last tick scroll the whole text.
    int due = lineDelayMs_ > 0 ? int(clock_.elapsed() / lineDelayMs_) - linesShown_ : 1;
    due = std::min(due, text_.height() / lineHeight_);
    if (due > 0) {
      scroll(due);
      changed = QRect(QPoint(), text_.size());
    }
    paint(changed);
    __atomic_store_n(&times_[counter_], monotonicUs(), __ATOMIC_RELAXED);
  }

  void scroll(int lines) {
    const int shift = lines * lineHeight_;
    const int rows = text_.height() - shift;
    uchar* bits = text_.bits();
    const qsizetype stride = text_.bytesPerLine();
    if (rows > 0) std::memmove(bits, bits + shift * stride, size_t(rows) * size_t(stride));
    QPainter painter(&text_);
    painter.fillRect(0, std::max(0, rows), text_.width(), text_.height() - std::max(0, rows), QColor(kBackground));
    painter.setFont(font_);
    painter.setPen(QColor(kForeground));
    const int ascent = QFontMetrics(font_).ascent();
    for (int i = 0; i < lines; ++i) {
      painter.drawText(2, std::max(0, rows) + i * lineHeight_ + ascent, source_.next());
    }
    linesShown_ += lines;
  }

  void paint(const QRegion& region) {
    store_.beginPaint(region);
    {
      QPainter painter(store_.paintDevice());
      painter.setClipRegion(region);
      painter.setCompositionMode(QPainter::CompositionMode_Source);
      painter.drawImage(0, 0, text_);
      forEachStampBlock(counter_, [&](int column, int row, bool white) {
        painter.fillRect(column * kStampBlock, row * kStampBlock, kStampBlock, kStampBlock,
                         white ? Qt::white : Qt::black);
      });
    }
    store_.endPaint();
    store_.flush(region);
  }

  QBackingStore store_;
  int64_t* times_;
  double lineDelayMs_;
  QFont font_;
  int lineHeight_ = 13;
  QImage text_;
  SourceLines source_;
  QTimer timer_;
  QElapsedTimer clock_;
  int linesShown_ = 0;
  uint32_t counter_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription("A scrolling build log with the glass-to-glass stamp, full screen.");
  parser.addHelpOption();
  parser.addOption({"times", "Shared file of 2^20 microsecond draw times, one per stamp value.", "file"});
  parser.addOption({"line-delay", "Seconds between two lines (0: one per stamp).", "s", "0.025"});
  parser.process(app);

  const int fd = ::open(QFile::encodeName(parser.value("times")).constData(), O_RDWR | O_CLOEXEC);
  const size_t bytes = sizeof(int64_t) << kStampBits;
  void* map = fd >= 0 ? ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
  if (fd >= 0) ::close(fd);
  if (map == MAP_FAILED) {
    std::fprintf(stderr, "lunor-bench-scenery: cannot map --times %s\n", qPrintable(parser.value("times")));
    return 2;
  }
  Scenery scenery(static_cast<int64_t*>(map), std::max(0.0, parser.value("line-delay").toDouble()));
  scenery.showFullScreen();
  return app.exec();
}
