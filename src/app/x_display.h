#pragma once

namespace lunor {

// Whether the X server that DISPLAY names accepts a connection.
bool xServerAnswers();

}  // namespace lunor
