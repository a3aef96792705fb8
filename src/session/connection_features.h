// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a session does over its connection beyond the picture and the input
// (files, the clipboard), in a layer above the session: the session offers
// the connection's channels (Negotiation) and tells it of the connection's
// life; the screens bind to its object. Main thread.

#include <QObject>
#include <QString>

namespace lunor {

enum class Role;

class ConnectionFeatures {
 public:
  // How a connection went.
  enum class Cut {
    Lost,      // without either side meaning it: what was under way goes on
               // with the next connection to the same peer
    Ended,     // by a person or a program: everything under way is cancelled
    Replaced,  // for a new one within the same session (as Lost)
  };

  virtual ~ConnectionFeatures() = default;
  // The session starts in `role` (the features of the last one are over).
  virtual void roleChosen(Role role) = 0;
  // A connection with the peer of the host's room `room` was made.
  virtual void connectionMade(Role role, const QString& room) = 0;
  // The connection is about to go: its channels can still carry a last word.
  virtual void connectionEnding(Cut cut) = 0;
  // What the screens bind to (the session's "features").
  virtual QObject* object() = 0;
};

}  // namespace lunor
