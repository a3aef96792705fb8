// SPDX-License-Identifier: GPL-3.0-or-later
// lunor-wayland-probe: a Wayland client for the Wayland host's tests. One
// full-screen window on each screen shows a known picture (probePicture())
// and prints what it receives, a line each, flushed at once:
//   ready <screen> <width>x<height>
//   press|release <screen> <button> <x> <y>
//   double <screen> <button>
//   wheel <screen> <angle-y> <angle-x>
//   key|keyup <xkb-keycode>

#include <cstdio>

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRasterWindow>
#include <QScreen>
#include <QWheelEvent>

#include "wayland_probe_picture.h"

namespace {

void say(const QString& line) {
  std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
  std::fflush(stdout);
}

class ProbeWindow final : public QRasterWindow {
 public:
  explicit ProbeWindow(int index) : index_(index) {}

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), lunor::test::probePicture(size(), index_));
  }
  void exposeEvent(QExposeEvent* event) override {
    QRasterWindow::exposeEvent(event);
    if (isExposed() && !announced_ && windowState() == Qt::WindowFullScreen) {
      announced_ = true;
      say(QStringLiteral("ready %1 %2x%3").arg(index_).arg(width()).arg(height()));
    }
  }
  void resizeEvent(QResizeEvent* event) override {
    QRasterWindow::resizeEvent(event);
    announced_ = false;
    requestUpdate();
  }
  void mousePressEvent(QMouseEvent* e) override { button(QStringLiteral("press"), e); }
  void mouseReleaseEvent(QMouseEvent* e) override { button(QStringLiteral("release"), e); }
  void mouseDoubleClickEvent(QMouseEvent* e) override {
    say(QStringLiteral("double %1 %2").arg(index_).arg(int(e->button())));
  }
  void wheelEvent(QWheelEvent* e) override {
    say(QStringLiteral("wheel %1 %2 %3").arg(index_).arg(e->angleDelta().y()).arg(e->angleDelta().x()));
  }
  void keyPressEvent(QKeyEvent* e) override {
    if (!e->isAutoRepeat()) say(QStringLiteral("key %1").arg(e->nativeScanCode()));
  }
  void keyReleaseEvent(QKeyEvent* e) override {
    if (!e->isAutoRepeat()) say(QStringLiteral("keyup %1").arg(e->nativeScanCode()));
  }

 private:
  void button(const QString& what, QMouseEvent* e) {
    say(QStringLiteral("%1 %2 %3 %4 %5")
            .arg(what)
            .arg(index_)
            .arg(int(e->button()))
            .arg(int(e->position().x()))
            .arg(int(e->position().y())));
  }

  int index_;
  bool announced_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "wayland");
  QGuiApplication app(argc, argv);
  std::vector<std::unique_ptr<ProbeWindow>> windows;
  const auto screens = QGuiApplication::screens();
  for (int i = 0; i < screens.size(); ++i) {
    auto window = std::make_unique<ProbeWindow>(i);
    window->setScreen(screens[i]);
    window->setGeometry(screens[i]->geometry());
    window->showFullScreen();
    windows.push_back(std::move(window));
  }
  return app.exec();
}
