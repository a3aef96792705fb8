// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Names of files received from the other side: whatever the peer sends, the
// file lands in the folder it was meant for, under a name a person can read,
// and never over an existing file.

#include <QString>

namespace lunor {

// The last component of `name` (after any '/' or '\'), without control
// characters, leading dots or spaces, at most 255 bytes of UTF-8 (the
// extension kept when it is short); "fichier" when nothing is left.
QString sanitizeFileName(const QString& name);

// `name` in `folder`, or "stem (2).ext", "stem (3).ext"… for the first that
// names no file there, nor one being received (`name` + ".part").
QString unusedFileName(const QString& folder, const QString& name);

}  // namespace lunor
