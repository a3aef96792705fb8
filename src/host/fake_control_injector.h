#pragma once

#include <QMutex>
#include <QStringList>

#include "host/control_injector.h"

namespace lunor {

// Records every call as text ("mouseDown(1,0.25,0.5)"), from any thread.
class FakeControlInjector final : public ControlInjector {
 public:
  void setCurrentDisplayId(uint32_t id) override {
    QMutexLocker lock(&mutex_);
    id_ = id;
  }
  uint32_t currentDisplayId() const override {
    QMutexLocker lock(&mutex_);
    return id_;
  }
  void moveTo(double x, double y) override { record(QStringLiteral("moveTo(%1,%2)").arg(x).arg(y)); }
  void mouseDown(int b, double x, double y) override {
    record(QStringLiteral("mouseDown(%1,%2,%3)").arg(b).arg(x).arg(y));
  }
  void mouseUp(int b, double x, double y) override {
    record(QStringLiteral("mouseUp(%1,%2,%3)").arg(b).arg(x).arg(y));
  }
  void drag(bool right, double x, double y) override {
    record(QStringLiteral("drag(%1,%2,%3)").arg(right).arg(x).arg(y));
  }
  void scroll(double x, double y, double dx, double dy) override {
    record(QStringLiteral("scroll(%1,%2,%3,%4)").arg(x).arg(y).arg(dx).arg(dy));
  }
  void doubleClick(bool right) override { record(QStringLiteral("doubleClick(%1)").arg(right)); }
  void setModifier(const QString& name, bool down) override {
    record(QStringLiteral("setModifier(%1,%2)").arg(name).arg(down));
  }
  void keyEvent(uint16_t code, bool down) override {
    record(QStringLiteral("keyEvent(%1,%2)").arg(code).arg(down));
  }
  void typeCharacter(const QString& text, bool down) override {
    record(QStringLiteral("typeCharacter(%1,%2)").arg(text).arg(down));
  }
  void releaseAllModifiers() override { record(QStringLiteral("releaseAllModifiers")); }

  QStringList calls() const {
    QMutexLocker lock(&mutex_);
    return calls_;
  }

 private:
  void record(const QString& call) {
    QMutexLocker lock(&mutex_);
    calls_ << call;
  }
  mutable QMutex mutex_;
  QStringList calls_;
  uint32_t id_ = 0;
};

}  // namespace lunor
