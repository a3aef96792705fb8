// SPDX-License-Identifier: GPL-3.0-or-later
#include "client/input_view.h"

#include <QQuickWindow>

#include <QGuiApplication>
#include <QStyleHints>

#include "client/client_log.h"
#include "client/client_session.h"
#include "system/console_log.h"

namespace lunor {
namespace {

using Type = ControlMessage::Type;

// The wire's button number of a Qt button; nothing for the others.
std::optional<int> wireButton(Qt::MouseButton button) {
  if (button == Qt::LeftButton) return 0;
  if (button == Qt::RightButton) return 1;
  return std::nullopt;
}

}  // namespace

InputView::InputView(QQuickItem* parent)
    : QQuickItem(parent),
      clicks_(QGuiApplication::styleHints()->mouseDoubleClickInterval(),
              QGuiApplication::styleHints()->mouseDoubleClickDistance()) {
  setAcceptedMouseButtons(Qt::LeftButton | Qt::RightButton);
  setAcceptHoverEvents(true);
  setFlag(ItemIsFocusScope, false);
  setActiveFocusOnTab(false);
}

void InputView::setSession(ClientSession* session) {
  if (session_ == session) return;
  heldButtons_.clear();  // held on the other session's host
  session_ = session;
  Q_EMIT sessionChanged();
}

void InputView::itemChange(ItemChange change, const ItemChangeData& value) {
  QQuickItem::itemChange(change, value);
  // In a window: the keyboard is ours from the start.
  if (change == ItemSceneChange && value.window) {
    QMetaObject::invokeMethod(this, [this] { takeKeyboard(); }, Qt::QueuedConnection);
  }
}

namespace {

// Whether `item` is in the window's overlay, where sheets and menus live.
bool inOverlay(const QQuickItem* item) {
  for (; item; item = item->parentItem()) {
    if (item->inherits("QQuickOverlay")) return true;
  }
  return false;
}

}  // namespace

void InputView::takeKeyboard() {
  disconnect(std::exchange(waitForSheet_, {}));
  QQuickWindow* win = window();
  if (!win) return;
  if (!inOverlay(win->activeFocusItem())) {
    forceActiveFocus();
    return;
  }
  waitForSheet_ = connect(win, &QQuickWindow::activeFocusItemChanged, this, [this, win] {
    const QQuickItem* focus = win->activeFocusItem();
    if (focus == this) {
      disconnect(std::exchange(waitForSheet_, {}));
    } else if (focus && !inOverlay(focus)) {  // none: the window is inactive
      takeKeyboard();  // the sheet closed: back to the stage
    }
  });
}

QPointF InputView::normalised(QPointF itemPosition) const {
  const QPointF bottomUp(itemPosition.x(), height() - itemPosition.y());
  return normalisedPosition(bottomUp, session_ ? session_->displayedVideoRect() : QRectF(),
                            QRectF(0, 0, width(), height()));
}

void InputView::send(const ControlMessage& message) {
  if (session_) session_->sendControl(message);
}

void InputView::sendPointer(Type type, int button, QPointF itemPosition) {
  ControlMessage message;
  message.type = type;
  message.button = button;
  const QPointF p = normalised(itemPosition);
  message.x = p.x();
  message.y = p.y();
  message.displayIndex = session_ ? session_->currentDisplayIndex() : 0;
  send(message);
}

// ------------------------------------------------------------------ pointer --

void InputView::mousePressEvent(QMouseEvent* event) {
  const auto button = wireButton(event->button());
  if (!button) {
    event->ignore();
    return;
  }
  event->accept();
  forceActiveFocus();
  // The second press of a pair is the double click (not the third).
  const int count = clicks_.press(*button, event->position(), static_cast<qint64>(event->timestamp()));
  heldButtons_[*button] = event->position();
  sendPointer(count == 2 ? Type::DoubleClick : Type::MouseDown, *button, event->position());
}

void InputView::mouseDoubleClickEvent(QMouseEvent* event) {
  // Qt delivers the second press as well; the click count above decides.
  event->accept();
}

void InputView::mouseReleaseEvent(QMouseEvent* event) {
  const auto button = wireButton(event->button());
  // Only what the host holds: it was let go already when the view lost the
  // press, or it was pressed elsewhere.
  if (!button || heldButtons_.erase(*button) == 0) return;
  sendPointer(Type::MouseUp, *button, event->position());
}

void InputView::mouseUngrabEvent() {
  // Another item or a popup took the mouse in the middle of a press.
  QQuickItem::mouseUngrabEvent();
  releaseButtons();
}

void InputView::releaseButtons() {
  for (const auto& [button, position] : std::exchange(heldButtons_, {})) {
    sendPointer(Type::MouseUp, button, position);
  }
}

void InputView::mouseMoveEvent(QMouseEvent* event) {
  // A drag for what the host holds: a button let go already (the view lost
  // it) only moves the pointer.
  for (auto& [button, position] : heldButtons_) position = event->position();
  if (heldButtons_.count(0)) {
    sendPointer(Type::Drag, 0, event->position());
  } else if (heldButtons_.count(1)) {
    sendPointer(Type::Drag, 1, event->position());
  } else {
    sendPointer(Type::Move, 0, event->position());
  }
}

void InputView::hoverMoveEvent(QHoverEvent* event) { sendPointer(Type::Move, 0, event->position()); }

void InputView::wheelEvent(QWheelEvent* event) {
  ControlMessage message;
  message.type = Type::Scroll;
  const QPointF p = normalised(event->position());
  message.x = p.x();
  message.y = p.y();
  const QPointF delta = wheelPixels(event->angleDelta(), event->pixelDelta());
  message.dx = delta.x();
  message.dy = delta.y();
  message.displayIndex = session_ ? session_->currentDisplayIndex() : 0;
  send(message);
  event->accept();
}

// --------------------------------------------------------------------- keys --

void InputView::setModifiers(uint32_t flags) {
  for (const ControlMessage& message : modifierChanges(modifiers_, flags)) send(message);
  modifiers_ = flags;
}

void InputView::keyPressEvent(QKeyEvent* event) {
  event->accept();
  if (const uint32_t flag = modifierFlagOfQtKey(event->key())) {
    setModifiers(modifierFlagsOf(event->modifiers()) | flag);
    return;
  }
  if (event->key() == Qt::Key_CapsLock) return;  // a flag, not a key, for the host
  // A modifier pressed while the focus was elsewhere shows up here.
  setModifiers(modifierFlagsOf(event->modifiers()));
  const auto code = macKeyForXKeycode(event->nativeScanCode());
  if (!code) return;
  ControlMessage message;
  message.type = Type::KeyDown;
  message.keyCode = *code;
  message.down = true;
  message.displayIndex = session_ ? session_->currentDisplayIndex() : 0;
  heldKeys_.insert(*code);
  send(message);
}

void InputView::keyReleaseEvent(QKeyEvent* event) {
  event->accept();
  if (const uint32_t flag = modifierFlagOfQtKey(event->key())) {
    setModifiers(modifierFlagsOf(event->modifiers()) & ~flag);
    return;
  }
  if (event->isAutoRepeat()) return;  // repeats send key downs only
  const auto code = macKeyForXKeycode(event->nativeScanCode());
  if (!code) return;
  ControlMessage message;
  message.type = Type::KeyUp;
  message.keyCode = *code;
  message.displayIndex = session_ ? session_->currentDisplayIndex() : 0;
  heldKeys_.erase(*code);
  send(message);
}

void InputView::focusInEvent(QFocusEvent* event) {
  QQuickItem::focusInEvent(event);
  consoleLine(lcClient(), QStringLiteral("🎉 EventCatcherView a bien le focus clavier"));
}

void InputView::focusOutEvent(QFocusEvent* event) {
  QQuickItem::focusOutEvent(event);
  // The releases will not come to us any more: let go on the host now.
  releaseButtons();
  for (uint16_t code : std::exchange(heldKeys_, {})) {
    ControlMessage message;
    message.type = Type::KeyUp;
    message.keyCode = code;
    send(message);
  }
  setModifiers(0);
}

}  // namespace lunor
