// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

#include <QMutex>
#include <QStringList>

#include "host/control_injector.h"

namespace lunor {

// Records every call as text ("button(R,1,100,200)"), from any thread.
// `beforeEachCall`, when set before the calls start, runs first in each
// (a test holds the input thread there).
class FakeControlInjector final : public ControlInjector {
 public:
  void movePointer(QPoint p) override { record(QStringLiteral("move(%1,%2)").arg(p.x()).arg(p.y())); }
  void button(MouseButton b, bool down, QPoint p) override {
    record(QStringLiteral("button(%1,%2,%3,%4)").arg(name(b)).arg(down).arg(p.x()).arg(p.y()));
  }
  void drag(MouseButton b, QPoint p) override {
    record(QStringLiteral("drag(%1,%2,%3)").arg(name(b)).arg(p.x()).arg(p.y()));
  }
  void scroll(QPoint p, double dx, double dy) override {
    record(QStringLiteral("scroll(%1,%2,%3,%4)").arg(p.x()).arg(p.y()).arg(dx).arg(dy));
  }
  void doubleClick(MouseButton b) override { record(QStringLiteral("doubleClick(%1)").arg(name(b))); }
  void setModifier(Modifier m, bool down) override {
    record(QStringLiteral("mod(%1,%2)").arg(modifierName(m)).arg(down));
  }
  void keyEvent(uint16_t code, bool down) override {
    record(QStringLiteral("key(%1,%2)").arg(code).arg(down));
  }
  void typeCharacter(char16_t c, bool down) override {
    record(QStringLiteral("type(%1,%2)").arg(QChar(c)).arg(down));
  }
  void releaseAllModifiers() override { record(QStringLiteral("releaseAllModifiers")); }

  std::function<void()> beforeEachCall;

  QStringList calls() const {
    QMutexLocker lock(&mutex_);
    return calls_;
  }

 private:
  static QString name(MouseButton b) {
    return b == MouseButton::Right ? QStringLiteral("R") : b == MouseButton::Middle ? QStringLiteral("M") : QStringLiteral("L");
  }
  void record(const QString& call) {
    if (beforeEachCall) beforeEachCall();
    QMutexLocker lock(&mutex_);
    calls_ << call;
  }
  mutable QMutex mutex_;
  QStringList calls_;
};

}  // namespace lunor
