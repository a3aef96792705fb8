// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace lunor {

// Whether the X server that DISPLAY names accepts a connection.
bool xServerAnswers();

}  // namespace lunor
