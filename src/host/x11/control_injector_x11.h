#pragma once

#include <atomic>
#include <map>

#include <QPoint>

#include "host/control_injector.h"
#include "host/x11/x11_display.h"

namespace lunor {

class DisplayList;

// Input through the XTEST extension on a private X connection. Pointer and
// key operations may run on different threads; the connection's mutex keeps
// them apart. Key codes from the wire are macOS codes, mapped to the same
// physical key; characters without a key are typed through a spare keycode
// lent to them for the press.
class ControlInjectorX11 final : public ControlInjector {
 public:
  // displays is borrowed and must outlive the injector.
  ControlInjectorX11(DisplayList& displays, uint32_t mainDisplayId);
  ~ControlInjectorX11() override;

  // The X server answered and has XTEST.
  bool ready() const { return connection_.isOpen() && xtest_; }

  void setCurrentDisplayId(uint32_t id) override;
  uint32_t currentDisplayId() const override;
  void moveTo(double x, double y) override;
  void mouseDown(int button, double x, double y) override;
  void mouseUp(int button, double x, double y) override;
  void drag(bool right, double x, double y) override;
  void scroll(double x, double y, double dx, double dy) override;
  void doubleClick(bool right) override;
  void setModifier(const QString& name, bool down) override;
  void keyEvent(uint16_t macKeyCode, bool down) override;
  void typeCharacter(const QString& text, bool down) override;
  void releaseAllModifiers() override;

 private:
  QPoint targetPoint(double x, double y) const;
  // The helpers below expect the connection's mutex to be held.
  void motion(const QPoint& p);
  void key(unsigned keycode, bool down);
  unsigned xKeycodeForMac(uint16_t macKeyCode) const;
  unsigned bindSpareKey(unsigned long keysym);
  void unbindSpareKey(unsigned keycode);

  DisplayList& displays_;
  X11Connection connection_;
  bool xtest_ = false;
  bool evdevKeycodes_ = true;
  std::atomic<uint32_t> currentDisplayId_;
  double verticalPixels_ = 0;    // scroll not yet worth a wheel click
  double horizontalPixels_ = 0;
  std::map<char16_t, unsigned> boundKeys_;  // characters typed through spare keys
  static std::atomic<uint32_t> sharedModifierState_;
};

}  // namespace lunor
