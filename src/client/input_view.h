// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The transparent item over the host's picture that takes the keyboard
// focus and turns local pointer, wheel, key and modifier events into
// control messages for the session: positions normalised over the picture,
// keys as the macOS virtual key code of the same physical key, modifiers as
// "mod" messages. The session sends them on the "control" channel.

#include <map>
#include <set>

#include <QPointer>
#include <QQuickItem>
#include <QtQml/qqml.h>

#include "client/input_mapping.h"

namespace lunor {

class ClientSession;

class InputView : public QQuickItem {
  Q_OBJECT
  QML_ELEMENT
  Q_PROPERTY(lunor::ClientSession* session READ session WRITE setSession NOTIFY sessionChanged)

 public:
  explicit InputView(QQuickItem* parent = nullptr);

  ClientSession* session() const { return session_; }
  void setSession(ClientSession* session);

 Q_SIGNALS:
  void sessionChanged();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void hoverMoveEvent(QHoverEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void mouseUngrabEvent() override;
  void itemChange(ItemChange change, const ItemChangeData& value) override;

 private:
  // Takes the keyboard, unless a sheet over the window has it (the password
  // prompt, say): then once the sheet lets it go.
  void takeKeyboard();
  QMetaObject::Connection waitForSheet_;
  // Where Qt's top-down item coordinates enter the view space's bottom-up ones.
  QPointF normalised(QPointF itemPosition) const;
  void sendPointer(ControlMessage::Type type, int button, QPointF itemPosition);
  void send(const ControlMessage& message);
  // Sends the "mod" messages that bring the host to `flags`.
  void setModifiers(uint32_t flags);
  // Lets go on the host of every button still held here: their releases
  // will not come to us any more.
  void releaseButtons();

  QPointer<ClientSession> session_;
  ClickCounter clicks_;
  uint32_t modifiers_ = 0;       // the flags the host has been told
  std::set<uint16_t> heldKeys_;  // key codes the host holds down
  std::map<int, QPointF> heldButtons_;  // wire buttons the host holds down, at their last position
};

}  // namespace lunor
