// SPDX-License-Identifier: GPL-3.0-or-later
// Where the picture lands: the placement function and its rounding.

#include <cmath>

#include <QtTest>

#include "client/video_geometry.h"

using namespace lunor;

Q_DECLARE_METATYPE(lunor::AspectMode)

class VideoGeometryTest : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void fittedRect_data() {
    QTest::addColumn<AspectMode>("mode");
    QTest::addColumn<QSizeF>("video");
    QTest::addColumn<QSizeF>("container");
    QTest::addColumn<QRectF>("expected");
    const QSizeF hd(1920, 1080);
    QTest::newRow("fit, narrower container") << AspectMode::Fit << hd << QSizeF(1000, 1000)
                                             << QRectF(0, 218.75, 1000, 562.5);
    QTest::newRow("fill overhangs sideways") << AspectMode::Fill << hd << QSizeF(1000, 1000)
                                             << QRectF((1000 - 16000.0 / 9) / 2, 0, 16000.0 / 9, 1000);
    QTest::newRow("native, larger than the container") << AspectMode::Native << hd << QSizeF(1000, 1000)
                                                       << QRectF(-460, -40, 1920, 1080);
    QTest::newRow("fit, wider container") << AspectMode::Fit << hd << QSizeF(2000, 900)
                                          << QRectF(200, 0, 1600, 900);
    QTest::newRow("no video width") << AspectMode::Fit << QSizeF(0, 1080) << QSizeF(800, 600)
                                    << QRectF(0, 0, 800, 600);
    QTest::newRow("negative container") << AspectMode::Fill << hd << QSizeF(-5, 600) << QRectF(0, 0, -5, 600);
    QTest::newRow("NaN height") << AspectMode::Native << QSizeF(1920, NAN) << QSizeF(800, 600)
                                << QRectF(0, 0, 800, 600);
  }
  void fittedRect() {
    QFETCH(AspectMode, mode);
    QFETCH(QSizeF, video);
    QFETCH(QSizeF, container);
    QFETCH(QRectF, expected);
    const QRectF r = lunor::fittedRect(mode, video.width(), video.height(), container.width(), container.height());
    QVERIFY2(std::abs(r.x() - expected.x()) < 1e-9 && std::abs(r.y() - expected.y()) < 1e-9 &&
                 std::abs(r.width() - expected.width()) < 1e-9 && std::abs(r.height() - expected.height()) < 1e-9,
             qPrintable(QString("%1 %2 %3 %4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height())));
  }

  void integral_data() {
    QTest::addColumn<QRectF>("rect");
    QTest::addColumn<QRectF>("expected");
    QTest::newRow("fractional edges grow outwards") << QRectF(0, 218.75, 1000, 562.5) << QRectF(0, 218, 1000, 564);
    QTest::newRow("negative origin") << QRectF(-0.5, -1.25, 10, 2) << QRectF(-1, -2, 11, 3);
  }
  void integral() {
    QFETCH(QRectF, rect);
    QFETCH(QRectF, expected);
    QCOMPARE(lunor::integral(rect), expected);
  }

  void pictureSizeFallsBackOnTheProfile() {
    QCOMPARE(stagePictureSize(QSize(0, 0), QualityProfile::Epic), QSizeF(2560, 1440));
    QCOMPARE(stagePictureSize(QSize(0, 0), QualityProfile::Low), QSizeF(1280, 720));
    QCOMPARE(stagePictureSize(QSize(1920, 0), QualityProfile::Epic), QSizeF(1920, 0));
  }
};

QTEST_GUILESS_MAIN(VideoGeometryTest)
#include "video_geometry_test.moc"
