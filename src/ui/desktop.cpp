// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/desktop.h"

#include <memory>
#include <mutex>

#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QJSEngine>
#include <QImageReader>
#include <QPalette>
#include <QStandardPaths>
#include <QThreadPool>
#include <QTimer>
#include <QWindow>

#include "client/i420_image.h"
#include "client/client_session.h"

namespace lunor {

namespace {

constexpr int kScreenshotWaitMs = 3000;

// Takes the first picture a track delivers and hands it to the main thread.
class OneFrame final : public rtc::VideoSink, public std::enable_shared_from_this<OneFrame> {
 public:
  using Done = std::function<void(const PackedI420&)>;
  OneFrame(std::shared_ptr<rtc::VideoTrack> track, Done done) : track_(std::move(track)), done_(std::move(done)) {}

  void start() {
    track_->addSink(this);
    // No picture in time: give up (a still screen still sends one a second).
    std::weak_ptr<OneFrame> weak = shared_from_this();
    QTimer::singleShot(kScreenshotWaitMs, qApp, [self = shared_from_this()] { self->finish(); });
  }

  void onFrame(const rtc::I420FrameView& frame) override {
    {
      std::lock_guard lock(mutex_);
      if (taken_) return;
      taken_ = true;
      picture_.copyFrom(frame);
    }
    // Never block the library's thread: the rest happens on the main one.
    QMetaObject::invokeMethod(qApp, [self = shared_from_this()] { self->finish(); }, Qt::QueuedConnection);
  }

 private:
  // Main thread; once.
  void finish() {
    if (finished_) return;
    finished_ = true;
    track_->removeSink(this);
    PackedI420 picture;
    {
      std::lock_guard lock(mutex_);
      picture = std::move(picture_);
    }
    done_(picture);
  }

  std::shared_ptr<rtc::VideoTrack> track_;
  Done done_;
  std::mutex mutex_;
  bool taken_ = false;
  PackedI420 picture_;
  bool finished_ = false;
};

}  // namespace

Desktop& Desktop::shared() {
  static Desktop* desktop = new Desktop;  // lives as long as the process
  return *desktop;
}

Desktop* Desktop::create(QQmlEngine*, QJSEngine*) {
  QJSEngine::setObjectOwnership(&shared(), QJSEngine::CppOwnership);
  return &shared();
}

void Desktop::setDarkTheme(bool dark) {
  if (dark == darkTheme_) return;
  darkTheme_ = dark;
  Q_EMIT darkThemeChanged();
}

bool Desktop::prefersDark() {
  const QString theme = qEnvironmentVariable("LUNOR_THEME");
  if (theme == QLatin1String("dark")) return true;
  if (theme == QLatin1String("light")) return false;
  return QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
}

void Desktop::copyText(const QString& text) const {
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->clear();
  clipboard->setText(text);
}

QString Desktop::clipboardText() const { return QGuiApplication::clipboard()->text(); }

void Desktop::bringToFront(QWindow* window) const {
  if (!window) window = QGuiApplication::focusWindow();
  if (!window && !QGuiApplication::topLevelWindows().isEmpty()) window = QGuiApplication::topLevelWindows().first();
  if (!window) return;
  window->show();
  window->raise();
  window->requestActivate();
  // The desktop's way of asking for attention: the urgency hint.
  window->alert(0);
}

void Desktop::toggleFullScreen(QWindow* window) const {
  if (!window) return;
  if (window->visibility() == QWindow::FullScreen) {
    window->showNormal();
  } else {
    window->showFullScreen();
  }
}

QStringList Desktop::pictureNameFilters() const {
  QString patterns = QStringLiteral("*.png *.jpg *.jpeg");
  const QList<QByteArray> formats = QImageReader::supportedImageFormats();
  if (formats.contains("heic") || formats.contains("heif")) patterns += QStringLiteral(" *.heic *.heif");
  return {tr("Images (%1)").arg(patterns)};
}

QString Desktop::picturesFolder() {
  const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  return pictures.isEmpty() ? QDir::homePath() : pictures;
}

void Desktop::saveScreenshot(ClientSession* session) const {
  if (!session) return;
  const auto track = session->remoteVideoTrack();
  if (!track) {
    session->log(tr("📸 Capture d'écran impossible : aucune image"));
    return;
  }
  const Epoch::Ticket alive = session->lifetime();
  // The host may code its screen smaller on a narrow link: the picture is
  // saved at the screen's own size.
  const QSize screen = session->remoteVideoSize();
  auto grab = std::make_shared<OneFrame>(track, [session, alive, screen](const PackedI420& picture) {
    if (!alive.isCurrent()) return;
    if (picture.isEmpty()) {
      session->log(Desktop::tr("📸 Capture d'écran impossible : aucune image reçue"));
      return;
    }
    const QString folder = picturesFolder();
    const QString path = QDir(folder).filePath(
        QStringLiteral("Lunor Remote %1.png").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH.mm.ss"))));
    // Converting and encoding a large picture takes a while: not on the
    // window's thread. The log line comes back to it.
    QThreadPool::globalInstance()->start([session, alive, picture, folder, path, screen] {
      QDir().mkpath(folder);
      QImage image = picture.toImage();
      if (screen.isValid() && !screen.isEmpty() && image.size() != screen) {
        image = image.scaled(screen, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
      }
      const bool saved = image.save(path, "PNG");
      alive.post([session, saved, path] {
        session->log(saved ? Desktop::tr("📸 Capture enregistrée : %1").arg(path)
                           : Desktop::tr("📸 Capture d'écran impossible : écriture de %1 refusée").arg(path));
      });
    });
  });
  grab->start();
}

}  // namespace lunor
