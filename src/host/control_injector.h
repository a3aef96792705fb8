#pragma once

// Replays the client's pointer and keyboard actions as local input events on
// the shared display. Positions are normalised (0..1, top-left origin) and
// mapped onto the display `currentDisplayId()` names.
//
// Pointer operations run on the thread that delivers control messages; key
// and modifier operations on the main thread. Implementations must allow both
// at once.

#include <cstdint>

#include <QString>

namespace lunor {

class ControlInjector {
 public:
  virtual ~ControlInjector() = default;

  virtual void setCurrentDisplayId(uint32_t id) = 0;
  virtual uint32_t currentDisplayId() const = 0;

  virtual void moveTo(double x, double y) = 0;
  // button: 0 primary, 1 secondary, 2 middle; anything else counts as 0.
  virtual void mouseDown(int button, double x, double y) = 0;
  virtual void mouseUp(int button, double x, double y) = 0;
  virtual void drag(bool right, double x, double y) = 0;
  // Pixel deltas as the client's platform reports them; dy is inverted here.
  virtual void scroll(double x, double y, double dx, double dy) = 0;
  // At the pointer's current position.
  virtual void doubleClick(bool right) = 0;
  // name: "shift", "alt", "ctrl" or "cmd"; others do nothing.
  virtual void setModifier(const QString& name, bool down) = 0;
  // keyCode: the macOS virtual key code carried on the wire.
  virtual void keyEvent(uint16_t keyCode, bool down) = 0;
  // The first character of text (at most U+FFFF); empty text does nothing.
  virtual void typeCharacter(const QString& text, bool down) = 0;
  // Releases every modifier key the injector has pressed; safe to call twice.
  virtual void releaseAllModifiers() = 0;
};

// For platforms (or sessions) with nothing to inject into.
class NullControlInjector final : public ControlInjector {
 public:
  void setCurrentDisplayId(uint32_t id) override { id_ = id; }
  uint32_t currentDisplayId() const override { return id_; }
  void moveTo(double, double) override {}
  void mouseDown(int, double, double) override {}
  void mouseUp(int, double, double) override {}
  void drag(bool, double, double) override {}
  void scroll(double, double, double, double) override {}
  void doubleClick(bool) override {}
  void setModifier(const QString&, bool) override {}
  void keyEvent(uint16_t, bool) override {}
  void typeCharacter(const QString&, bool) override {}
  void releaseAllModifiers() override {}

 private:
  uint32_t id_ = 0;
};

}  // namespace lunor
