// SPDX-License-Identifier: GPL-3.0-or-later
#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMimeData>

#include "system/clipboard.h"

namespace lunor {
namespace {

QByteArray encodePng(const QImage& image) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  // Fast rather than small: the bytes cross a local link, and a large
  // screenshot must not hold the main thread for long.
  image.save(&buffer, "PNG", /*quality=*/80);
  return bytes;
}

// QClipboard on the CLIPBOARD selection; Qt fetches large contents in
// pieces (INCR) itself.
class QtClipboard final : public Clipboard {
 public:
  QtClipboard() {
    connect(QGuiApplication::clipboard(), &QClipboard::changed, this, [this](QClipboard::Mode mode) {
      if (mode == QClipboard::Clipboard) Q_EMIT changed();
    });
  }

  ClipboardContent read() const override {
    ClipboardContent content;
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!data) return content;
    if (data->hasImage()) {
      const QImage image = qvariant_cast<QImage>(data->imageData());
      if (!image.isNull()) content.png = encodePng(image);
    }
    if (data->hasText()) content.text = data->text();
    if (data->hasHtml() && !content.text.isEmpty()) content.html = data->html();
    return content;
  }

  std::optional<QSize> imageSize() const override {
    const QMimeData* data = QGuiApplication::clipboard()->mimeData(QClipboard::Clipboard);
    if (!data || !data->hasImage()) return std::nullopt;
    const QImage image = qvariant_cast<QImage>(data->imageData());
    if (image.isNull()) return std::nullopt;
    return image.size();
  }

  ClipboardContent write(const ClipboardContent& content) override {
    ClipboardContent stored;
    auto* data = new QMimeData;
    if (!content.png.isEmpty()) {
      const QImage image = QImage::fromData(content.png, "PNG");
      if (!image.isNull()) {
        data->setImageData(image);
        stored.png = encodePng(image);
      }
    }
    if (!content.text.isEmpty()) {
      data->setText(content.text);
      stored.text = content.text;
      if (!content.html.isEmpty()) {
        data->setHtml(content.html);
        stored.html = content.html;
      }
    }
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
    return stored;
  }

  QString limitation() const override {
    if (QGuiApplication::platformName() == QLatin1String("wayland")) {
      return QStringLiteral("Wayland : le presse-papiers ne suit que lorsque la fenêtre de Lunor Remote a le focus");
    }
    return {};
  }
};

// Without a graphical session: a clipboard of the process's own, which
// only the session and the command line fill.
class ProcessClipboard final : public Clipboard {
 public:
  ClipboardContent read() const override { return content_; }
  std::optional<QSize> imageSize() const override { return pngSize(content_.png); }
  ClipboardContent write(const ClipboardContent& content) override {
    content_ = content;
    Q_EMIT changed();
    return content;
  }
  QString limitation() const override {
    return QStringLiteral("sans session graphique : presse-papiers propre au processus");
  }

 private:
  ClipboardContent content_;
};

}  // namespace

std::unique_ptr<Clipboard> createClipboard() {
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return std::make_unique<QtClipboard>();
  return std::make_unique<ProcessClipboard>();
}

}  // namespace lunor
